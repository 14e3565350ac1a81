#include <windows.h>

#include <stdexcept>

#include "support/deployed_library.h"

namespace psrl::testing {

const char* const kLibraryFileName = "psrl.dll";

LoadedLibrary::LoadedLibrary(const std::filesystem::path& folder, const std::string& fileName) {
  const auto target = folder / fileName;
  std::filesystem::copy_file(PSRL_LIBRARY_PATH, target,
                             std::filesystem::copy_options::overwrite_existing);
  const HMODULE module = LoadLibraryW(target.c_str());
  if (module == nullptr) {
    throw std::runtime_error("LoadLibraryW failed with error " + std::to_string(GetLastError()) +
                             ": " + target.string());
  }
  module_ = module;
  // void (*)() is the type that any function pointer may pass through without a warning.
  getPsr_ = reinterpret_cast<GetPSRFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "GetPSR")));
  if (getPsr_ == nullptr) {
    FreeLibrary(module);
    throw std::runtime_error("GetPSR is not exported");
  }
}

LoadedLibrary::~LoadedLibrary() {
  if (module_ != nullptr) FreeLibrary(static_cast<HMODULE>(module_));
}

}  // namespace psrl::testing
