#include "support/store_file.h"

#include "support/temp_folder.h"

namespace psrl::testing {

void PrintTo(const StoreSection& section, std::ostream* out) {
  *out << '[' << section.name << ']';
  for (const auto& [key, value] : section.keys) *out << ' ' << key << '=' << value;
}

std::string StoreBytes(const StoreContent& content, const StoreFormat& format) {
  std::string text;
  for (const auto& section : content) {
    text.append("[").append(section.name).append("]");
    text += format.lineEnd;
    for (const auto& [key, value] : section.keys) {
      text.append(key).append("=").append(value);
      text += format.lineEnd;
    }
  }
  return format.utf16 ? Utf16LeWithBom(ToU16(text)) : text;
}

std::string Utf16LeWithBom(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

}  // namespace psrl::testing
