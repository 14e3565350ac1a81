// A Windows host of psrl.dll: loads the library with LoadLibraryW and calls GetPSR once
// found by its name and once by its ordinal, each time on the same freshly prepared store,
// and checks that both give the same answers. The store is written as the recorder of
// sessions writes it, with one session held live by its event.
//
// Usage: psrl_host_test [folder]; without a folder it works in a new one under %TEMP%.
// Exits with 0 when both calls agree and the answers are plausible, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "psrl.h"

namespace {

struct Answer {
  int32_t result = 0;
  int32_t written = 0;
  std::string text;
  std::wstring sectionsLeft;  // the store's section names afterwards, comma-separated
};

// The built library, copied beside the store as a host would install it.
constexpr wchar_t kBuiltLibrary[] = L"" PSRL_LIBRARY_PATH;

bool g_failed = false;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::printf("FAILED: %s\n", what);
    g_failed = true;
  }
}

std::wstring Folder(int argc, wchar_t** argv) {
  if (argc > 1) return argv[1];
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  std::wstring folder(temp, length);
  folder += L"psrl-host-" + std::to_wstring(GetCurrentProcessId());
  return folder;
}

// Three finished sessions of two games, and a live one; the lines of the two games do not
// both fit into the buffer of PrepareAndCall, so one session stays behind.
void PrepareStore(const std::wstring& store) {
  DeleteFileW(store.c_str());
  const wchar_t* const sessions[][4] = {
      // section, game, path, time
      {L"S-1", L"Chess", L"C:\\Games\\Chess\\", L"120"},
      {L"S-2", L"Chess", L"C:\\Games\\Chess\\", L"80"},
      {L"S-3", L"Go", L"C:\\Games\\Go\\", L"45"},
      {L"S-live", L"Go", L"C:\\Games\\Go\\", L"999"},
  };
  for (const auto& session : sessions) {
    WritePrivateProfileStringW(session[0], L"UserID", L"7", store.c_str());
    WritePrivateProfileStringW(session[0], L"GameName", session[1], store.c_str());
    WritePrivateProfileStringW(session[0], L"GameFullPath", session[2], store.c_str());
    WritePrivateProfileStringW(session[0], L"GameModuleName", L"game.exe", store.c_str());
    WritePrivateProfileStringW(session[0], L"GamingTime", session[3], store.c_str());
  }
}

std::wstring SectionNames(const std::wstring& store) {
  wchar_t names[4096] = {};
  GetPrivateProfileSectionNamesW(names, 4096, store.c_str());
  std::wstring joined;
  for (const wchar_t* name = names; *name != L'\0'; name += wcslen(name) + 1) {
    if (!joined.empty()) joined += L',';
    joined += name;
  }
  return joined;
}

Answer PrepareAndCall(GetPSRFunction getPsr, const std::wstring& store) {
  PrepareStore(store);
  Answer answer;
  char buffer[64];
  std::memset(buffer, 0x5A, sizeof buffer);
  answer.result = getPsr(buffer, sizeof buffer, &answer.written, 65001, 0);
  answer.text.assign(buffer, strnlen(buffer, sizeof buffer));
  answer.sectionsLeft = SectionNames(store);
  return answer;
}

void Print(const char* how, const Answer& answer) {
  std::string text;
  for (const char c : answer.text)
    text += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  std::printf("%s: result %d, written %d, text \"%s\", sections left: %ls\n", how,
              static_cast<int>(answer.result), static_cast<int>(answer.written), text.c_str(),
              answer.sectionsLeft.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring folder = Folder(argc, argv);
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring library = folder + L"\\psrl.dll";
  const std::wstring store = folder + L"\\plg.dat";
  if (!CopyFileW(kBuiltLibrary, library.c_str(), FALSE)) {
    std::printf("cannot copy %ls\n", kBuiltLibrary);
    return 1;
  }

  // The recorder holds the running session's event.
  const HANDLE live = CreateEventW(nullptr, TRUE, FALSE, L"S-live");
  Check(live != nullptr && GetLastError() != ERROR_ALREADY_EXISTS, "the live session's event");

  const HMODULE module = LoadLibraryW(library.c_str());
  Check(module != nullptr, "LoadLibraryW of the copied psrl.dll");
  if (module == nullptr) return 1;
  // void (*)() is the type that any function pointer may pass through without a warning.
  const auto byName = reinterpret_cast<GetPSRFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "GetPSR")));
  const auto byOrdinal = reinterpret_cast<GetPSRFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, MAKEINTRESOURCEA(1))));
  Check(byName != nullptr, "GetPSR found by name");
  Check(byOrdinal != nullptr, "GetPSR found by ordinal 1");
  Check(byName == byOrdinal, "name and ordinal 1 lead to the same function");

  if (byName != nullptr && byOrdinal != nullptr) {
    const Answer first = PrepareAndCall(byName, store);
    const Answer second = PrepareAndCall(byOrdinal, store);
    Print("by name", first);
    Print("by ordinal", second);
    Check(first.result == second.result && first.written == second.written &&
              first.text == second.text && first.sectionsLeft == second.sectionsLeft,
          "both calls give the same answers");
    // Chess (two sessions) fits, Go does not: its line waits in the store, the live
    // session is neither reported nor deleted.
    Check(first.text == "7;Chess;game.exe;C:\\Games\\Chess\\;;200;200;2;2;0\r\n",
          "the delivered line");
    Check(first.written == static_cast<int32_t>(first.text.size()), "written");
    Check(first.result ==
              static_cast<int32_t>(sizeof "7;Go;game.exe;C:\\Games\\Go\\;;45;45;1;1;0\r\n"),
          "the room the line left behind needs");
    Check(first.sectionsLeft == L"S-3,S-live", "the sessions left in the store");
  }

  FreeLibrary(module);
  if (live != nullptr) CloseHandle(live);
  DeleteFileW(library.c_str());
  DeleteFileW(store.c_str());
  if (argc <= 1) RemoveDirectoryW(folder.c_str());
  std::printf(g_failed ? "host test failed\n" : "host test passed\n");
  return g_failed ? 1 : 0;
}
