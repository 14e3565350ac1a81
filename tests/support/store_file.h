// Session stores as the tests write and check them.
//
// On Windows the recorder of game sessions writes the store with the profile functions,
// and those rewrite the whole file in their own layout when a section is deleted. The
// Linux engine keeps every byte outside the deleted sections. So the tests describe a
// store by its sections and keys, check those on every platform, and check the bytes on
// Linux only.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace psrl::testing {

struct StoreSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> keys;  // in file order, UTF-8

  bool operator==(const StoreSection&) const = default;
};
using StoreContent = std::vector<StoreSection>;

void PrintTo(const StoreSection& section, std::ostream* out);

struct StoreFormat {
  std::string_view lineEnd = "\r\n";
  bool utf16 = false;  // UTF-16LE after a byte-order mark; otherwise UTF-8 without one
};

// The file of `format` that holds `content`: per section a "[name]" line, then one
// "key=value" line per key, each line ended by format.lineEnd.
std::string StoreBytes(const StoreContent& content, const StoreFormat& format = {});

// Writes a new store holding `content` as the recorder of sessions does. On Windows: key
// by key with WritePrivateProfileStringW, into a file that starts with the byte-order mark
// alone when format.utf16 (the profile functions keep a file's encoding). On Linux:
// StoreBytes(content, format).
void WriteStore(const std::filesystem::path& file, const StoreContent& content,
                const StoreFormat& format = {});

// Fails the current test unless `file` holds exactly the sections of `expected`, in order,
// with exactly their keys and values. On Linux the bytes must be StoreBytes(expected,
// format): the sections that stay keep their bytes.
void ExpectStore(const std::filesystem::path& file, const StoreContent& expected,
                 const StoreFormat& format = {});

// `text` encoded as UTF-16LE after the byte-order mark FF FE: a profile file that reads
// the same on every platform.
std::string Utf16LeWithBom(std::u16string_view text);

}  // namespace psrl::testing
