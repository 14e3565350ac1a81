#include "files/file_locations.h"

#include <vector>

#include "platform/platform.h"

namespace psrl {
namespace {

constexpr char16_t kControlFileName[] = u"psrl.ini";
constexpr char16_t kSessionStoreName[] = u"plg.dat";
constexpr uint32_t kInitialPathCapacity = 260;

// Released when the library unloads.
std::u16string g_sessionStorePath;  // NOLINT(cert-err58-cpp)

}  // namespace

std::u16string GetModulePath(const char* moduleName) {
  platform::ModuleHandle module = nullptr;
  if (moduleName != nullptr && *moduleName != '\0') {
    module = platform::FindLoadedModule(moduleName);
  }
  std::vector<char16_t> buffer;
  for (uint32_t capacity = kInitialPathCapacity;; capacity *= 2) {
    buffer.assign(capacity, u'\0');
    const uint32_t length = platform::QueryModulePath(module, buffer.data(), capacity);
    if (length == 0) return {};
    // A count equal to the capacity means the path was cut: try again with twice the room.
    if (length < capacity) return std::u16string(buffer.data(), length);
    if (capacity > UINT32_MAX / 2) return {};
  }
}

std::u16string DirectoryOfPath(std::u16string path) {
  const auto separator = path.rfind(platform::kPathSeparator);
  if (separator != std::u16string::npos && separator + 1 < path.size()) {
    path.resize(separator + 1);
  }
  return path;
}

std::u16string GetModuleDirectory(const char* moduleName) {
  return DirectoryOfPath(GetModulePath(moduleName));
}

std::u16string GetControlFilePath() {
  return GetModuleDirectory(platform::kLibraryModuleName) + kControlFileName;
}

const std::u16string& GetSessionStorePath() {
  // The name is always appended, so the folder is looked up at most once per load even
  // when it came back empty.
  if (g_sessionStorePath.empty()) {
    g_sessionStorePath = GetModuleDirectory(platform::kLibraryModuleName);
    g_sessionStorePath += kSessionStoreName;
  }
  return g_sessionStorePath;
}

}  // namespace psrl
