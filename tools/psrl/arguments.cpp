#include "arguments.h"

#include <charconv>
#include <filesystem>
#include <vector>

#include "platform/platform.h"
#include "tool_error.h"

namespace psrl::tool {
namespace {

constexpr uint32_t kUtf8CodePage = 65001;

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// The characters that the profile reader trims from names, keys and values.
bool IsProfileBlank(char c) { return (c >= '\t' && c <= '\r') || c == '\x1A' || c == ' '; }

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

bool HasSurroundingBlanks(std::string_view text) {
  return !text.empty() && (IsProfileBlank(text.front()) || IsProfileBlank(text.back()));
}

bool IsBlank(std::string_view text) {
  for (const char c : text) {
    if (!IsProfileBlank(c)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::u16string ToLibraryText(std::string_view text, std::string_view what) {
  try {
    return std::filesystem::path(std::u8string(text.begin(), text.end())).u16string();
  } catch (const std::filesystem::filesystem_error&) {
    throw UsageError(std::string(what) + " " + Quoted(text) + " is not valid UTF-8");
  }
}

std::string ToDisplayText(const std::u16string& text) {
  const int32_t needed = platform::ConvertToCodePage(kUtf8CodePage, text.c_str(), nullptr, 0);
  if (needed <= 0) {
    return {};
  }
  std::vector<char> bytes(static_cast<size_t>(needed), '\0');
  if (platform::ConvertToCodePage(kUtf8CodePage, text.c_str(), bytes.data(), needed) <= 0) {
    return {};
  }
  return std::string(bytes.data());
}

int32_t ParseInt32(const std::string& text, std::string_view option, int32_t minimum,
                   int32_t maximum) {
  int64_t value = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value < minimum || value > maximum) {
    throw UsageError(std::string(option) + ": " + Quoted(text) + " is not a whole number from " +
                     std::to_string(minimum) + " to " + std::to_string(maximum));
  }
  return static_cast<int32_t>(value);
}

uint32_t ParseCodePage(const std::string& text) {
  uint64_t value = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value > UINT32_MAX) {
    throw UsageError("--code-page: " + Quoted(text) + " is not a code page number");
  }
  const auto codePage = static_cast<uint32_t>(value);
  if (platform::ConvertToCodePage(codePage, u"", nullptr, 0) == 0) {
    throw UsageError("unknown code page " + text);
  }
  return codePage;
}

void CheckSectionName(const std::string& name) {
  const auto reject = [&name](const std::string& why) {
    throw UsageError("session name " + Quoted(name) + " " + why);
  };
  if (IsBlank(name)) {
    reject("is empty");
  }
  if (HasLineBreak(name)) {
    reject("contains a line break");
  }
  if (name.find(']') != std::string::npos) {
    reject("contains ']'");
  }
  if (name.front() == '[' || name.front() == ';') {
    reject("starts with '" + name.substr(0, 1) + "'");
  }
  if (HasSurroundingBlanks(name)) {
    reject("starts or ends with a blank");
  }
  ToLibraryText(name, "session name");
}

KeyValue ParseKeyValue(const std::string& pair) {
  const auto reject = [&pair](const std::string& why) {
    throw UsageError("KEY=VALUE " + Quoted(pair) + ": " + why);
  };
  const auto equals = pair.find('=');
  if (equals == std::string::npos) {
    reject("has no '='");
  }
  KeyValue result{pair.substr(0, equals), pair.substr(equals + 1)};
  if (IsBlank(result.key)) {
    reject("the key is empty");
  }
  if (HasLineBreak(result.key) || HasLineBreak(result.value)) {
    reject("contains a line break");
  }
  if (result.key.front() == '[') {
    reject("the key starts with '['");
  }
  if (HasSurroundingBlanks(result.key)) {
    reject("the key starts or ends with a blank");
  }
  ToLibraryText(result.key, "key");
  ToLibraryText(result.value, "value");
  return result;
}

}  // namespace psrl::tool
