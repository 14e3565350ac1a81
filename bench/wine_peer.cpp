// The Windows build timed inside a Windows process (run under wine64 here):
//   psrl_wine_peer FOLDER...
// Each FOLDER holds psrl.dll, psrl.ini and plg.pristine (a store as the recorder writes it
// on Windows). For each folder the program copies plg.pristine to plg.dat, loads that
// folder's psrl.dll, times one GetPSR call that delivers every line with
// QueryPerformanceCounter, and prints one line:
//   FOLDER milliseconds needed written remaining_bytes_of_store
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace {

using GetPsrFunction = int32_t(__cdecl*)(char*, int32_t, int32_t*, uint32_t, int32_t);

int Report(const std::wstring& folder) {
  const std::wstring pristine = folder + L"\\plg.pristine";
  const std::wstring store = folder + L"\\plg.dat";
  if (!CopyFileW(pristine.c_str(), store.c_str(), FALSE)) {
    std::fwprintf(stderr, L"psrl_wine_peer: cannot copy %ls\n", pristine.c_str());
    return 1;
  }
  const HMODULE library = LoadLibraryW((folder + L"\\psrl.dll").c_str());
  if (library == nullptr) {
    std::fwprintf(stderr, L"psrl_wine_peer: cannot load psrl.dll from %ls\n", folder.c_str());
    return 1;
  }
  const auto getPsr =
      reinterpret_cast<GetPsrFunction>(reinterpret_cast<void*>(GetProcAddress(library, "GetPSR")));
  if (getPsr == nullptr) return 1;

  constexpr int32_t kBufferSize = 64 << 20;
  const std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  LARGE_INTEGER frequency{};
  LARGE_INTEGER start{};
  LARGE_INTEGER stop{};
  QueryPerformanceFrequency(&frequency);
  int32_t written = 0;
  QueryPerformanceCounter(&start);
  const int32_t needed = getPsr(buffer.get(), kBufferSize, &written, 65001, 1000);
  QueryPerformanceCounter(&stop);
  FreeLibrary(library);

  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  uint64_t remaining = 0;
  if (GetFileAttributesExW(store.c_str(), GetFileExInfoStandard, &attributes)) {
    remaining = (uint64_t{attributes.nFileSizeHigh} << 32) | attributes.nFileSizeLow;
  }
  const double milliseconds = 1000.0 * static_cast<double>(stop.QuadPart - start.QuadPart) /
                              static_cast<double>(frequency.QuadPart);
  std::wprintf(L"%ls %.3f %d %d %llu\n", folder.c_str(), milliseconds, needed, written,
               static_cast<unsigned long long>(remaining));
  std::fflush(stdout);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputws(L"usage: psrl_wine_peer FOLDER...\n", stderr);
    return 2;
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    if (Report(argv[i]) != 0) status = 1;
  }
  return status;
}
