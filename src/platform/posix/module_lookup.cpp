// Module lookup on Linux: the loaded shared objects as dl_iterate_phdr lists them, and
// /proc/self/exe for the host executable.
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/text_encoding.h"

namespace psrl::platform {

const char16_t kPathSeparator = u'/';
const char* const kLibraryModuleName = "libpsrl.so";

namespace {

std::string_view LastPathComponent(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

struct ModuleSearch {
  // In: either a file name to match or a load address to find.
  const char* fileName = nullptr;
  ElfW(Addr) address = 0;
  // Out.
  bool found = false;
  ElfW(Addr) foundAddress = 0;
  std::string path;
};

int VisitModule(dl_phdr_info* info, size_t /*size*/, void* data) {
  auto* search = static_cast<ModuleSearch*>(data);
  const std::string_view name = info->dlpi_name != nullptr ? info->dlpi_name : "";
  // The executable itself is listed with an empty name; it is reached by the null handle.
  if (name.empty()) return 0;
  const bool matches = search->fileName != nullptr ? LastPathComponent(name) == search->fileName
                                                   : info->dlpi_addr == search->address;
  if (!matches) return 0;
  search->found = true;
  search->foundAddress = info->dlpi_addr;
  search->path.assign(name);
  return 1;
}

std::string ExecutablePath() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < path.size()) {
      path.resize(static_cast<size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// The loader keeps a module's path as it was given to dlopen, which may be relative;
// callers expect a full path, as Windows gives.
std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path.starts_with('/')) return path;
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string absolute(resolved);
  std::free(resolved);  // NOLINT(cppcoreguidelines-no-malloc)
  return absolute;
}

}  // namespace

ModuleHandle FindLoadedModule(const char* fileName) {
  if (fileName == nullptr || *fileName == '\0') return nullptr;
  ModuleSearch search;
  search.fileName = fileName;
  dl_iterate_phdr(&VisitModule, &search);
  if (!search.found || search.foundAddress == 0) return nullptr;
  return reinterpret_cast<ModuleHandle>(search.foundAddress);  // NOLINT(performance-no-int-to-ptr)
}

uint32_t QueryModulePath(ModuleHandle module, char16_t* buffer, uint32_t size) {
  std::u16string path;
  try {
    std::string bytes;
    if (module == nullptr) {
      bytes = ExecutablePath();
    } else {
      ModuleSearch search;
      search.address = reinterpret_cast<ElfW(Addr)>(module);
      dl_iterate_phdr(&VisitModule, &search);
      if (!search.found) return 0;
      bytes = AbsolutePath(search.path);
    }
    path = posix::DecodeUtf8(bytes);
  } catch (...) {
    return 0;
  }
  if (path.empty() || buffer == nullptr || size == 0) return 0;
  if (path.size() < size) {
    std::memcpy(buffer, path.data(), path.size() * sizeof(char16_t));
    buffer[path.size()] = u'\0';
    return static_cast<uint32_t>(path.size());
  }
  // Cut, as GetModuleFileNameW does: as much as fits, terminated, and the full size.
  std::memcpy(buffer, path.data(), (size - 1) * sizeof(char16_t));
  buffer[size - 1] = u'\0';
  return size;
}

}  // namespace psrl::platform
