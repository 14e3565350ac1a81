// The profile engine on arbitrary bytes: every listing and read stays inside the buffers
// it is given, and deleting a listed section changes the file by exactly that section.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/profile_parser.h"

namespace {

using psrl::platform::posix::CopyProfileValue;
using psrl::platform::posix::ProfileDocument;
using psrl::platform::posix::ProfileIntFromValue;

constexpr char16_t kGuard = 0xA5A5;
constexpr size_t kGuardLength = 8;
// Reads per input are bounded so that large inputs stay fast.
constexpr size_t kMaxNamesChecked = 64;
constexpr size_t kMaxKeysChecked = 16;

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "profile_engine_fuzzer: %s\n", what);
    std::abort();
  }
}

std::u16string Folded(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return folded;
}

// The full list as ListSectionNames writes it: each name followed by a zero.
std::u16string FullList(const ProfileDocument& document) {
  for (uint32_t size = 256;; size *= 2) {
    std::u16string buffer(size, kGuard);
    const uint32_t length = document.ListSectionNames(buffer.data(), size);
    if (length < size - 2) return buffer.substr(0, length);
  }
}

std::vector<std::u16string> SplitList(const std::u16string& list) {
  std::vector<std::u16string> names;
  for (size_t at = 0; at < list.size();) {
    const size_t end = list.find(u'\0', at);
    names.push_back(list.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

// Lists into a buffer of `size` followed by guard units and checks the cut-list contract.
void CheckListing(const ProfileDocument& document, uint32_t size, const std::u16string& full) {
  std::vector<char16_t> buffer(size + kGuardLength, kGuard);
  const uint32_t length = document.ListSectionNames(buffer.data(), size);
  Require(std::all_of(buffer.begin() + size, buffer.end(), [](char16_t c) { return c == kGuard; }),
          "the section list wrote past its buffer");
  if (size < 2) {
    Require(length == 0, "a list of size 0 or 1 returned characters");
    Require(size == 0 || buffer[0] == 0, "a list of size 1 is not a zero");
    return;
  }
  Require(length <= size - 2, "the section list returned more than size - 2");
  Require(std::u16string_view(buffer.data(), length) == std::u16string_view(full).substr(0, length),
          "the section list is not a prefix of the full list");
  Require(buffer[length] == 0, "the section list does not end with a zero");
  if (length < full.size()) {
    Require(length == size - 2 && buffer[length + 1] == 0, "a cut list does not end in two zeros");
  }
  // The null buffer is never touched.
  Require(document.ListSectionNames(nullptr, size) == 0, "a null buffer listed names");
}

// Candidate key names: the text before '=' of every line, widened byte by byte (enough to
// hit the ASCII keys that matter), plus the session keys.
std::vector<std::u16string> CandidateKeys(std::string_view bytes) {
  std::vector<std::u16string> keys = {u"UserID", u"GameFullPath", u"GamingTime", u""};
  size_t at = 0;
  while (at < bytes.size() && keys.size() < kMaxKeysChecked) {
    size_t end = bytes.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(at, end - at);
    const size_t equals = line.find('=');
    if (equals != std::string_view::npos) {
      keys.emplace_back(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(equals));
    }
    at = end + 1;
  }
  return keys;
}

void CheckValue(const std::optional<std::u16string>& value) {
  Require(ProfileIntFromValue(std::nullopt, -7) == static_cast<uint32_t>(-7),
          "a missing value does not give the default");
  (void)ProfileIntFromValue(value, 3);
  if (!value) return;
  for (const uint32_t size : {0U, 1U, 2U, 5U, 300U}) {
    std::vector<char16_t> buffer(size + kGuardLength, kGuard);
    const uint32_t length = CopyProfileValue(*value, buffer.data(), size);
    Require(
        std::all_of(buffer.begin() + size, buffer.end(), [](char16_t c) { return c == kGuard; }),
        "a value copy wrote past its buffer");
    if (size == 0) {
      Require(length == 0 && buffer[0] == kGuard, "a value copy of size 0 wrote");
    } else {
      Require(length < size && buffer[length] == 0, "a value copy is not zero-terminated");
    }
  }
}

// True when the text holds a U+0000, which the section list cannot tell from the zero
// that ends a name: a name holding one is listed as two.
bool HasZeroUnit(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    for (size_t at = 2; at + 1 < bytes.size(); at += 2) {
      if (bytes[at] == 0 && bytes[at + 1] == 0) return true;
    }
    return false;
  }
  return bytes.find('\0') != std::string_view::npos;
}

size_t CommonPrefix(std::string_view a, std::string_view b) {
  return static_cast<size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first -
                             a.begin());
}

size_t CommonSuffix(std::string_view a, std::string_view b) {
  return static_cast<size_t>(std::mismatch(a.rbegin(), a.rend(), b.rbegin(), b.rend()).first -
                             a.rbegin());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const ProfileDocument document(bytes);
  Require(document.Serialize() == bytes, "an unchanged document does not serialise to its bytes");

  const std::u16string full = FullList(document);
  const std::vector<std::u16string> names = SplitList(full);
  for (const uint32_t listSize :
       {0U, 1U, 2U, 3U, 4U, 7U, 16U, static_cast<uint32_t>(full.size()),
        static_cast<uint32_t>(full.size() + 1), static_cast<uint32_t>(full.size() + 2)}) {
    CheckListing(document, listSize, full);
  }

  const std::vector<std::u16string> keys = CandidateKeys(bytes);
  const size_t namesChecked = std::min(names.size(), kMaxNamesChecked);
  for (size_t i = 0; i < namesChecked; ++i) {
    for (const auto& key : keys) CheckValue(document.FindValue(names[i], key));
  }
  if (names.empty()) return 0;

  // Many deletions in one pass over the sections must do what the same deletions one
  // after another do: the requests are listed names picked by the input (repeats
  // included), in upper case every other time, and a name that is not there.
  std::vector<std::u16string> requests;
  for (size_t i = 0; i < std::min<size_t>(size, 2 * kMaxNamesChecked); ++i) {
    std::u16string name = names[data[i] % names.size()];
    if (i % 2 == 1) {
      for (char16_t& c : name) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
      }
    }
    requests.push_back(std::move(name));
  }
  requests.emplace_back(u"\u00A0not listed\u00A0");
  const std::vector<std::u16string_view> requestViews(requests.begin(), requests.end());
  ProfileDocument oneByOne = document;
  std::vector<bool> oneByOneDeleted;
  for (const auto& request : requestViews)
    oneByOneDeleted.push_back(oneByOne.DeleteSection(request));
  ProfileDocument onePass = document;
  Require(onePass.DeleteSectionsInFileOrder(requestViews) == oneByOneDeleted,
          "deleting in one pass reports other sections deleted");
  Require(onePass.Serialize() == oneByOne.Serialize(), "deleting in one pass leaves other bytes");
  Require(FullList(onePass) == FullList(oneByOne), "deleting in one pass lists other sections");

  // Delete one listed section, chosen by the input, and parse the result again.
  const std::u16string& victim = names[(size > 0 ? data[0] : 0) % names.size()];
  ProfileDocument changed = document;
  if (!changed.DeleteSection(victim)) {
    // Only a piece of a name with a zero inside, which the list splits in two, may name
    // no section. Nothing may change then.
    Require(HasZeroUnit(bytes), "a listed section cannot be deleted");
    Require(!changed.changed(), "a failed deletion changed the document");
    return 0;
  }
  const std::string after = changed.Serialize();
  Require(after.size() < bytes.size(), "a deletion did not shorten the file");
  Require(CommonPrefix(after, bytes) + CommonSuffix(after, bytes) >= after.size(),
          "a deletion changed bytes outside one range");

  const ProfileDocument reparsed(after);
  const std::u16string reparsedList = FullList(reparsed);
  Require(FullList(changed) == reparsedList, "the changed document lists other sections");
  if (HasZeroUnit(bytes)) return 0;  // the list no longer tells which name went

  std::vector<std::u16string> expected = names;
  const auto first = std::find_if(expected.begin(), expected.end(), [&](const std::u16string& n) {
    return Folded(n) == Folded(victim);
  });
  Require(first != expected.end(), "the deleted name is not listed");
  expected.erase(first);
  Require(SplitList(reparsedList) == expected, "the reparsed file lists other sections");

  for (size_t i = 0; i < std::min(expected.size(), kMaxNamesChecked); ++i) {
    const bool sameName = Folded(expected[i]) == Folded(victim);
    for (const auto& key : keys) {
      const auto value = reparsed.FindValue(expected[i], key);
      Require(value == changed.FindValue(expected[i], key),
              "the reparsed file reads unlike the changed document");
      if (!sameName) {
        Require(value == document.FindValue(expected[i], key),
                "a section that was not deleted reads differently");
      }
    }
  }
  return 0;
}
