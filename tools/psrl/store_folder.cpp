#include "store_folder.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "arguments.h"
#include "platform/platform.h"
#include "tool_error.h"

namespace psrl::tool {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::string ToShownPath(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

void CheckFolder(const fs::path& path, const std::string& shown) {
  std::error_code error;
  const auto status = fs::status(path, error);
  if (error) {
    throw RunError("cannot read folder " + Quoted(shown) + ": " + error.message());
  }
  if (!fs::is_directory(status)) {
    throw RunError(Quoted(shown) + " is not a folder");
  }
  const fs::directory_iterator listing(path, error);
  if (error) {
    throw RunError("cannot read folder " + Quoted(shown) + ": " + error.message());
  }
}

// A missing file is fine: the library reads it as empty.
void CheckOptionalFile(const fs::path& path, const std::string& shown) {
  std::error_code error;
  const auto status = fs::status(path, error);
  if (status.type() == fs::file_type::not_found) {
    return;
  }
  if (error) {
    throw RunError("cannot read " + Quoted(shown) + ": " + error.message());
  }
  if (!fs::is_regular_file(status)) {
    throw RunError(Quoted(shown) + " is not a file");
  }
  errno = 0;
  const std::ifstream stream(path, std::ios::binary);
  if (!stream) {
    throw RunError("cannot read " + Quoted(shown) + ": " +
                   (errno != 0 ? std::strerror(errno) : "cannot open it"));
  }
}

}  // namespace

StoreFolder OpenStoreFolder(const std::string& folder) {
  const fs::path path(ToLibraryText(folder, "folder name"));
  CheckFolder(path, folder);
  const fs::path controlFile = path / kControlFileName;
  const fs::path sessionStore = path / kSessionStoreName;
  StoreFolder result;
  result.controlFile = ToShownPath(controlFile);
  result.sessionStore = ToShownPath(sessionStore);
  CheckOptionalFile(controlFile, result.controlFile);
  CheckOptionalFile(sessionStore, result.sessionStore);
  result.files.controlFile = controlFile.u16string();
  result.files.sessionStore = sessionStore.u16string();
  return result;
}

LibraryRun::LibraryRun() { platform::BeginRun(); }

LibraryRun::~LibraryRun() { platform::EndRun(); }

}  // namespace psrl::tool
