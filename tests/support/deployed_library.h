// The built library deployed as a host would find it: copied into a folder of its own,
// beside its control file and session store, loaded, and called through GetPSR.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "psrl.h"

namespace psrl::testing {

// The file name of the library on this platform ("libpsrl.so", "psrl.dll").
extern const char* const kLibraryFileName;

// The folder of the running test program, where a library that cannot find itself looks
// for its files.
std::filesystem::path HostExecutableFolder();

// Copies the built library into `folder` under `fileName` and loads it; unloads it again
// when the object goes.
class LoadedLibrary {
 public:
  LoadedLibrary(const std::filesystem::path& folder, const std::string& fileName);
  ~LoadedLibrary();
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  GetPSRFunction getPsr() const { return getPsr_; }

 private:
  void* module_ = nullptr;
  GetPSRFunction getPsr_ = nullptr;
};

// What one call of GetPSR gave back.
struct CallOutcome {
  int32_t result = 0;
  int32_t written = -1;  // -1 when `written` was passed as null
  std::string text;      // the buffer's bytes up to its first zero byte
};

struct CallArguments {
  int32_t bufferSize = 4096;
  uint32_t codePage = 65001;
  int32_t defaultUserId = 0;
  bool nullWritten = false;
  bool nullBuffer = false;
};

// Calls `getPsr` with a buffer followed by guard bytes, and fails the current test when
// the call wrote anything past the zero byte after the last line, or left the buffer
// without that zero byte.
CallOutcome CallWithGuard(GetPSRFunction getPsr, const CallArguments& arguments);

}  // namespace psrl::testing
