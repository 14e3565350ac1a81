// The platform services on Windows: each one calls the Windows function it stands for.
// char16_t and wchar_t are both UTF-16 code units here, so text passes by a cast.
#include <windows.h>

#include "platform/platform.h"

namespace psrl::platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t is a UTF-16 code unit on Windows");

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

// Full access to an event (EVENT_ALL_ACCESS).
constexpr DWORD kEventAllAccess = 0x1F0003;

}  // namespace

const char16_t kPathSeparator = u'\\';
const char* const kLibraryModuleName = "psrl.dll";

ModuleHandle FindLoadedModule(const char* fileName) { return GetModuleHandleA(fileName); }

uint32_t QueryModulePath(ModuleHandle module, char16_t* buffer, uint32_t size) {
  return GetModuleFileNameW(static_cast<HMODULE>(const_cast<void*>(module)), Wide(buffer), size);
}

uint32_t ProfileReadInt(const char16_t* section, const char16_t* key, int32_t defaultValue,
                        const char16_t* file) {
  return GetPrivateProfileIntW(Wide(section), Wide(key), defaultValue, Wide(file));
}

uint32_t ProfileReadString(const char16_t* section, const char16_t* key,
                           const char16_t* defaultValue, char16_t* buffer, uint32_t size,
                           const char16_t* file) {
  return GetPrivateProfileStringW(Wide(section), Wide(key), Wide(defaultValue), Wide(buffer), size,
                                  Wide(file));
}

uint32_t ProfileListSections(char16_t* buffer, uint32_t size, const char16_t* file) {
  return GetPrivateProfileSectionNamesW(Wide(buffer), size, Wide(file));
}

bool ProfileDeleteSection(const char16_t* section, const char16_t* file) {
  return WritePrivateProfileSectionW(Wide(section), nullptr, Wide(file)) != FALSE;
}

bool ProfileWriteString(const char16_t* section, const char16_t* key, const char16_t* value,
                        const char16_t* file) {
  return WritePrivateProfileStringW(Wide(section), Wide(key), Wide(value), Wide(file)) != FALSE;
}

bool NamedEventIsOpen(const char16_t* name) {
  const HANDLE event = OpenEventW(kEventAllAccess, FALSE, Wide(name));
  if (event == nullptr) return false;
  CloseHandle(event);
  return true;
}

int32_t ConvertToCodePage(uint32_t codePage, const char16_t* text, char* out, int32_t outSize) {
  return WideCharToMultiByte(codePage, 0, Wide(text), -1, out, outSize, nullptr, nullptr);
}

// The Windows functions keep no state between calls that a run would have to bound.
void BeginRun() {}
void EndRun() noexcept {}

}  // namespace psrl::platform
