// Reading and changing profile (INI) files: fixed buffer sizes and growth rules over the
// platform's profile services.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace psrl {

// Longest value text that ReadProfileString returns.
inline constexpr size_t kMaxProfileValueLength = 259;

// The key's integer value; `defaultValue` when the file, section or key is missing.
int32_t ReadProfileInt(const char16_t* section, const char16_t* key, int32_t defaultValue,
                       const std::u16string& file);

// The key's text, at most kMaxProfileValueLength characters; `defaultValue` when missing.
std::u16string ReadProfileString(const char16_t* section, const char16_t* key,
                                 const char16_t* defaultValue, const std::u16string& file);

// The names of all sections of `file` in file order; empty when the file is missing, has
// no sections, or the names cannot be held in memory.
std::vector<std::u16string> ReadSectionNames(const std::u16string& file);

// Deletes the section with all its keys. The outcome is not examined: a section that
// stays is simply read and reported again later.
void RemoveSection(const std::u16string& file, const std::u16string& section);

}  // namespace psrl
