#include "report/aggregate.h"

#include <charconv>

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

std::u16string MakeAggregateKey(const std::u16string& gameFullPath,
                                const std::u16string& gameModuleName, int32_t userId) {
  std::u16string key;
  key.reserve(gameFullPath.size() + gameModuleName.size() + 11);
  for (const char16_t unit : gameFullPath) key.push_back(LowerAsciiLetter(unit));
  for (const char16_t unit : gameModuleName) key.push_back(LowerAsciiLetter(unit));
  AppendDecimal(key, userId);
  return key;
}

}  // namespace psrl
