#include "report/aggregate.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace psrl {
namespace {

char16_t LowerAsciiLetter(char16_t unit) {
  return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

template <typename Integer>
void AppendInteger(std::u16string& text, Integer value) {
  char digits[16];
  const auto result = std::to_chars(digits, digits + sizeof(digits), value);
  text.append(digits, result.ptr);
}

}  // namespace

void AppendDecimal(std::u16string& text, int32_t value) { AppendInteger(text, value); }
void AppendDecimal(std::u16string& text, uint32_t value) { AppendInteger(text, value); }

int CompareText(std::u16string_view one, std::u16string_view other) {
  const size_t common = std::min(one.size(), other.size());
  size_t at = 0;
  // Skip equal blocks of four code units, compared as 64-bit words.
  constexpr size_t kBlock = sizeof(uint64_t) / sizeof(char16_t);
  while (at + kBlock <= common) {
    uint64_t first = 0;
    uint64_t second = 0;
    std::memcpy(&first, one.data() + at, sizeof first);
    std::memcpy(&second, other.data() + at, sizeof second);
    if (first != second) break;
    at += kBlock;
  }
  for (; at < common; ++at) {
    if (one[at] != other[at]) return one[at] < other[at] ? -1 : 1;
  }
  if (one.size() == other.size()) return 0;
  return one.size() < other.size() ? -1 : 1;
}

std::u16string MakeAggregateKey(const std::u16string& gameFullPath,
                                const std::u16string& gameModuleName, int32_t userId) {
  std::u16string key;
  key.reserve(gameFullPath.size() + gameModuleName.size() + 11);
  key.resize(gameFullPath.size() + gameModuleName.size());
  const auto next =
      std::transform(gameFullPath.begin(), gameFullPath.end(), key.begin(), LowerAsciiLetter);
  std::transform(gameModuleName.begin(), gameModuleName.end(), next, LowerAsciiLetter);
  AppendDecimal(key, userId);
  return key;
}

}  // namespace psrl
