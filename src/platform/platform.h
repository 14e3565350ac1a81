// The operating-system services the library uses, and nothing else.
//
// Each service keeps the contract of the Windows function it stands for (return values,
// buffer sizes, "size - 2 when the list was cut"), so the buffer-growth logic above it
// is the same code on every platform. posix/ implements them for Linux, win32/ by
// calling the Windows API. Text is UTF-16 throughout.
#pragma once

#include <cstdint>

namespace psrl::platform {

// The separator between a directory and a file name in module paths.
extern const char16_t kPathSeparator;

// The file name under which the library looks itself up among the loaded modules.
extern const char* const kLibraryModuleName;

// ---- Module lookup (GetModuleHandleA, GetModuleFileNameW) ----

using ModuleHandle = const void*;

// The already-loaded module whose file name (last path component) is `fileName`, or
// nullptr. Loads nothing.
ModuleHandle FindLoadedModule(const char* fileName);

// Writes the full path of `module` (nullptr: the host executable) into `buffer`.
// Returns its length without the zero; `size` when it did not fit (the buffer then
// holds as much as fits, zero-terminated); 0 on failure.
uint32_t QueryModulePath(ModuleHandle module, char16_t* buffer, uint32_t size);

// ---- Profile files (GetPrivateProfile*W, WritePrivateProfileSectionW) ----

// The integer value of `key` in `section` of `file`; `defaultValue` when the file,
// section or key is missing or its value is empty.
uint32_t ProfileReadInt(const char16_t* section, const char16_t* key, int32_t defaultValue,
                        const char16_t* file);

// Copies the value of `key` (or `defaultValue` when missing) into `buffer`, cut to
// `size` - 1 characters and zero-terminated. Returns the number of characters copied.
uint32_t ProfileReadString(const char16_t* section, const char16_t* key,
                           const char16_t* defaultValue, char16_t* buffer, uint32_t size,
                           const char16_t* file);

// Writes every section name of `file`, in file order, each followed by a zero, then one
// more zero. Returns the characters written without the final zero, or `size` - 2 when
// the buffer was too small.
uint32_t ProfileListSections(char16_t* buffer, uint32_t size, const char16_t* file);

// Deletes the first section named `section` with all its keys. Within a run the
// deletion may be deferred to EndRun(). Returns false when it failed.
bool ProfileDeleteSection(const char16_t* section, const char16_t* file);

// Sets `key` to `value` in the first section named `section`, adding the section at the
// end of the file and the key at the end of the section when missing
// (WritePrivateProfileStringW). Within a run the change may be deferred to EndRun().
// Returns false when it failed. The library never writes; the tools and tests do.
bool ProfileWriteString(const char16_t* section, const char16_t* key, const char16_t* value,
                        const char16_t* file);

// ---- Named events (OpenEventW + CloseHandle) ----

// True when a named event of exactly this name exists and can be opened with full
// access; the handle is closed again at once. Any failure counts as false.
bool NamedEventIsOpen(const char16_t* name);

// ---- Code pages (WideCharToMultiByte(codePage, 0, text, -1, out, outSize, 0, 0)) ----

// Converts the zero-terminated `text` into `codePage`. With a null `out` returns the
// bytes needed including the terminating zero; otherwise writes them and returns the
// same count. Returns 0 on failure (unsupported code page, `out` too small).
int32_t ConvertToCodePage(uint32_t codePage, const char16_t* text, char* out, int32_t outSize);

// ---- Run scope ----

// A run groups the operations of one report: the platform may cache parsed files and
// open converters between BeginRun and EndRun, and apply deferred deletions in EndRun.
// Outside a run every operation stands alone. EndRun never throws.
void BeginRun();
void EndRun() noexcept;

}  // namespace psrl::platform
