#include <dlfcn.h>

#include <stdexcept>

#include "support/deployed_library.h"

namespace psrl::testing {

const char* const kLibraryFileName = "libpsrl.so";

LoadedLibrary::LoadedLibrary(const std::filesystem::path& folder, const std::string& fileName) {
  const auto target = folder / fileName;
  std::filesystem::copy_file(PSRL_LIBRARY_PATH, target,
                             std::filesystem::copy_options::overwrite_existing);
  module_ = dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
  getPsr_ = reinterpret_cast<GetPSRFunction>(dlsym(module_, "GetPSR"));
  if (getPsr_ == nullptr) throw std::runtime_error("GetPSR is not exported");
}

LoadedLibrary::~LoadedLibrary() {
  if (module_ != nullptr) dlclose(module_);
}

}  // namespace psrl::testing
