// Fresh temporary folders and whole-file helpers for tests that work on real files.
#pragma once

#include <filesystem>
#include <string>

namespace psrl::testing {

// A new, empty folder under the system's temporary directory, removed with everything
// in it when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string ReadFileBytes(const std::filesystem::path& file);
void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes);

// The path as the library's UTF-16 text (on Linux, the UTF-8 bytes decoded).
std::u16string ToU16(const std::filesystem::path& path);
std::u16string ToU16(const std::string& utf8);
std::string ToUtf8(const std::u16string& text);

}  // namespace psrl::testing
