// psrl add: writes one session section as the recorder does, every key in one run of
// the profile engine so that they land together under its lock.
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "platform/platform.h"
#include "store_folder.h"
#include "tool_error.h"

namespace psrl::tool {
namespace {

struct Entry {
  std::u16string libraryKey;
  std::u16string libraryValue;
};

bool IsProfileBlank(char16_t c) { return (c >= u'\t' && c <= u'\r') || c == u'\x1A' || c == u' '; }

// What a reader gets back for a written value: blanks trimmed from both ends, then one
// pair of matching outer quotes removed.
std::u16string AsReadBack(const std::u16string& value) {
  size_t first = 0;
  size_t last = value.size();
  while (first < last && IsProfileBlank(value[first])) {
    ++first;
  }
  while (last > first && IsProfileBlank(value[last - 1])) {
    --last;
  }
  std::u16string text = value.substr(first, last - first);
  if (text.size() >= 2 && text.front() == text.back() &&
      (text.front() == u'"' || text.front() == u'\'')) {
    text = text.substr(1, text.size() - 2);
  }
  return text;
}

// Keys compare as the profile engine compares them: A-Z without regard to case.
std::string FoldCase(std::string key) {
  std::transform(key.begin(), key.end(), key.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return key;
}

std::vector<Entry> ParseEntries(const std::vector<std::string>& pairs) {
  std::vector<Entry> entries;
  std::vector<std::string> seen;
  for (const auto& pair : pairs) {
    KeyValue parsed = ParseKeyValue(pair);
    const std::string folded = FoldCase(parsed.key);
    if (std::find(seen.begin(), seen.end(), folded) != seen.end()) {
      throw UsageError("key '" + parsed.key + "' is given twice");
    }
    seen.push_back(folded);
    entries.push_back({ToLibraryText(parsed.key, "key"), ToLibraryText(parsed.value, "value")});
  }
  return entries;
}

// True when `key` of `section` reads back as `value` was written.
bool ReadsBack(const std::u16string& section, const Entry& entry, const std::u16string& file) {
  static constexpr char16_t kMissing[] = u"\x1Fmissing\x1F";
  const std::u16string expected = AsReadBack(entry.libraryValue);
  std::vector<char16_t> buffer(
      std::max(expected.size(), std::char_traits<char16_t>::length(kMissing)) + 2, u'\0');
  platform::ProfileReadString(section.c_str(), entry.libraryKey.c_str(), kMissing, buffer.data(),
                              static_cast<uint32_t>(buffer.size()), file.c_str());
  // The text ends at its zero; a longer value fills the buffer past `expected`.
  return std::u16string(buffer.data()) == expected;
}

}  // namespace

int RunAddCommand(const AddOptions& options) {
  CheckSectionName(options.name);
  const std::vector<Entry> entries = ParseEntries(options.pairs);
  const StoreFolder folder = OpenStoreFolder(options.folder);
  const std::u16string section = ToLibraryText(options.name, "session name");
  const std::u16string& store = folder.files.sessionStore;

  bool accepted = true;
  {
    const LibraryRun run;
    for (const auto& entry : entries) {
      accepted = platform::ProfileWriteString(section.c_str(), entry.libraryKey.c_str(),
                                              entry.libraryValue.c_str(), store.c_str()) &&
                 accepted;
    }
  }
  // The run applies its changes as it ends, silently: read them back to know.
  const bool written = accepted && std::all_of(entries.begin(), entries.end(), [&](const Entry& e) {
                         return ReadsBack(section, e, store);
                       });
  if (!written) {
    throw RunError("cannot write session '" + options.name + "' to '" + folder.sessionStore + "'");
  }
  std::cerr << "psrl: wrote session '" << options.name << "' (" << entries.size()
            << (entries.size() == 1 ? " key" : " keys") << ") to '" << folder.sessionStore << "'\n";
  return 0;
}

}  // namespace psrl::tool
