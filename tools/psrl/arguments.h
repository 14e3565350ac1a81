// Checking and converting what the user typed: numbers, code pages, section names,
// KEY=VALUE pairs, and text handed to the library as UTF-16.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace psrl::tool {

// `text` (UTF-8) as the library's UTF-16 text. Throws UsageError naming `what` when it
// is not valid UTF-8.
std::u16string ToLibraryText(std::string_view text, std::string_view what);

// The library's UTF-16 text as UTF-8 for the terminal; a lone surrogate shows as U+FFFD.
std::string ToDisplayText(const std::u16string& text);

// A whole decimal number from `minimum` to `maximum`, or a UsageError naming `option`.
int32_t ParseInt32(const std::string& text, std::string_view option, int32_t minimum,
                   int32_t maximum);

// A code page number that the platform can convert into, or a UsageError.
uint32_t ParseCodePage(const std::string& text);

// Throws UsageError unless `name` can be a section name that reads back as itself: not
// empty, no surrounding blanks, no ']' or line break, not starting with '[' or ';'.
void CheckSectionName(const std::string& name);

struct KeyValue {
  std::string key;
  std::string value;
};

// Splits "KEY=VALUE" at its first '='. Throws UsageError when there is no '=', the key
// is empty or blank, starts with '[', or either side holds a line break.
KeyValue ParseKeyValue(const std::string& pair);

}  // namespace psrl::tool
