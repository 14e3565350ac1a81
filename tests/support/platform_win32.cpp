// The Windows side of the tests' platform helpers: stores are written and read with the
// profile functions, as the recorder of sessions and every other reader of them does.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/platform_cases.h"
#include "support/store_file.h"
#include "support/temp_folder.h"

namespace psrl::testing {
namespace {

std::wstring Wide(const std::string& utf8) {
  const auto text = ToU16(utf8);
  return {text.begin(), text.end()};
}

std::string Utf8(std::wstring_view text) {
  return ToUtf8(std::u16string(text.begin(), text.end()));
}

// Zero-separated strings, ended by an empty one, as the profile functions return lists.
std::vector<std::wstring> SplitList(const wchar_t* list) {
  std::vector<std::wstring> items;
  for (const wchar_t* item = list; *item != L'\0'; item += items.back().size() + 1) {
    items.emplace_back(item);
  }
  return items;
}

// Calls `read(buffer, size)` with ever larger buffers until the list fits; the profile
// functions return size - 2 when it did not.
template <typename Read>
std::vector<std::wstring> ReadList(Read read) {
  for (DWORD size = 1024;; size *= 2) {
    std::vector<wchar_t> buffer(size, L'\0');
    if (read(buffer.data(), size) < size - 2) return SplitList(buffer.data());
  }
}

StoreContent ReadStore(const std::filesystem::path& file) {
  const std::wstring path = file.wstring();
  StoreContent content;
  const auto names = ReadList([&](wchar_t* buffer, DWORD size) {
    return GetPrivateProfileSectionNamesW(buffer, size, path.c_str());
  });
  for (const auto& name : names) {
    StoreSection section{Utf8(name), {}};
    const auto lines = ReadList([&](wchar_t* buffer, DWORD size) {
      return GetPrivateProfileSectionW(name.c_str(), buffer, size, path.c_str());
    });
    for (const std::wstring_view line : lines) {
      const auto equals = line.find(L'=');
      section.keys.emplace_back(Utf8(line.substr(0, equals)),
                                equals == line.npos ? "" : Utf8(line.substr(equals + 1)));
    }
    content.push_back(std::move(section));
  }
  return content;
}

}  // namespace

bool AppliesHere(Platforms platforms) { return platforms != Platforms::kLinuxOnly; }

std::filesystem::path HostExecutablePath() {
  for (DWORD size = MAX_PATH;; size *= 2) {
    std::wstring path(size, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), size);
    if (length == 0) throw std::runtime_error("GetModuleFileNameW failed");
    if (length < size) return path.substr(0, length);
  }
}

const char* const kSystemLibraryName = "kernel32.dll";

void WriteStore(const std::filesystem::path& file, const StoreContent& content,
                const StoreFormat& format) {
  WriteFileBytes(file, format.utf16 ? "\xFF\xFE" : "");
  const std::wstring path = file.wstring();
  for (const auto& section : content) {
    if (section.keys.empty() &&
        !WritePrivateProfileSectionW(Wide(section.name).c_str(), L"\0", path.c_str())) {
      throw std::runtime_error("WritePrivateProfileSectionW failed on " + file.string());
    }
    for (const auto& [key, value] : section.keys) {
      if (!WritePrivateProfileStringW(Wide(section.name).c_str(), Wide(key).c_str(),
                                      Wide(value).c_str(), path.c_str())) {
        throw std::runtime_error("WritePrivateProfileStringW failed on " + file.string());
      }
    }
  }
}

void ExpectStore(const std::filesystem::path& file, const StoreContent& expected,
                 const StoreFormat& /*format*/) {
  EXPECT_EQ(ReadStore(file), expected);
}

}  // namespace psrl::testing
