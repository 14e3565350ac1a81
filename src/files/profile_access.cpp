#include "files/profile_access.h"

#include <algorithm>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace psrl {
namespace {

constexpr uint32_t kValueBufferSize = kMaxProfileValueLength + 1;
constexpr uint32_t kInitialSectionListSize = 1024;

}  // namespace

int32_t ReadProfileInt(const char16_t* section, const char16_t* key, int32_t defaultValue,
                       const std::u16string& file) {
  return static_cast<int32_t>(platform::ProfileReadInt(section, key, defaultValue, file.c_str()));
}

std::u16string ReadProfileString(const char16_t* section, const char16_t* key,
                                 const char16_t* defaultValue, const std::u16string& file) {
  // Not cleared beforehand: the read terminates what it copies, and the two zeros set
  // here bound the text whatever the read did.
  char16_t buffer[kValueBufferSize];
  buffer[0] = u'\0';
  platform::ProfileReadString(section, key, defaultValue, buffer, kValueBufferSize, file.c_str());
  buffer[kValueBufferSize - 1] = u'\0';
  return std::u16string(buffer);
}

std::vector<std::u16string> ReadSectionNames(const std::u16string& file) {
  std::vector<std::u16string> names;
  try {
    std::unique_ptr<char16_t[]> buffer;
    uint32_t size = kInitialSectionListSize;
    uint32_t count = 0;
    for (;;) {
      buffer.reset(new char16_t[size]);
      std::fill_n(buffer.get(), size, u'\0');
      count = platform::ProfileListSections(buffer.get(), size, file.c_str());
      // size - 2 means the list was cut: read it again into twice the room.
      if (count != size - 2) break;
      if (size > UINT32_MAX / 4) return {};
      size *= 2;
    }
    const char16_t* cursor = buffer.get();
    const char16_t* const end = buffer.get() + size;
    int64_t remaining = std::min(count, size);
    while (remaining > 0) {
      const char16_t* nameEnd = std::find(cursor, end, u'\0');
      if (nameEnd == cursor || nameEnd == end) break;
      names.emplace_back(cursor, nameEnd);
      const auto advance = (nameEnd - cursor) + 1;
      cursor += advance;
      remaining -= advance;
    }
  } catch (const std::bad_alloc&) {
    return {};
  }
  return names;
}

void RemoveSection(const std::u16string& file, const std::u16string& section) {
  platform::ProfileDeleteSection(section.c_str(), file.c_str());
}

}  // namespace psrl
