#include "platform/posix/profile_parser.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "platform/posix/text_encoding.h"

namespace psrl::platform::posix {
namespace {

constexpr char16_t kReplacementCharacter = 0xFFFD;

bool IsProfileSpace(char16_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }
bool IsLineBreak(char16_t c) { return c == u'\r' || c == u'\n'; }
char16_t Fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }
bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

std::u16string Folded(std::u16string_view text) {
  std::u16string folded(text);
  for (char16_t& c : folded) {
    c = Fold(c);
  }
  return folded;
}

// True when `text` has a lone surrogate or U+FFFD: its UTF-8 bytes then do not identify
// it among decoded file text, so it must be compared as decoded text.
bool NeedsDecodedComparison(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == kReplacementCharacter) {
      return true;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (IsSurrogate(c)) {
      return true;
    }
  }
  return false;
}

// FNV-1a over folded code units: equal names (as compared) hash equally, whichever
// encoding they were read from.
constexpr uint32_t kHashBasis = 2166136261U;
constexpr uint32_t kHashPrime = 16777619U;
uint32_t HashStep(uint32_t hash, char16_t foldedUnit) { return (hash ^ foldedUnit) * kHashPrime; }
uint32_t HashFolded(std::u16string_view folded) {
  uint32_t hash = kHashBasis;
  for (const char16_t c : folded) {
    hash = HashStep(hash, c);
  }
  return hash;
}

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Code units of the three encodings, for the parse loop: one instantiation each, so that
// the loop reads bytes without asking for the encoding at every unit.
// Each provides At (the code unit at a byte offset) and NextLineBreak (the offset of the
// first CR or LF at or after `from`, or `end`).
template <typename Units>
uint32_t NextLineBreakByUnits(const unsigned char* bytes, uint32_t from, uint32_t end) {
  while (from < end && !IsLineBreak(Units::At(bytes, from))) {
    from += Units::kWidth;
  }
  return from;
}

struct ByteUnits {
  static constexpr uint32_t kWidth = 1;
  static char16_t At(const unsigned char* bytes, uint32_t offset) { return bytes[offset]; }

  // Eight bytes at a time: lines are the bulk of a file, and this is where it is read.
  static uint32_t NextLineBreak(const unsigned char* bytes, uint32_t from, uint32_t end) {
    if constexpr (std::endian::native == std::endian::little) {
      constexpr uint64_t kOnes = 0x0101010101010101ULL;
      constexpr uint64_t kHighBits = 0x8080808080808080ULL;
      while (end - from >= 8) {
        uint64_t word = 0;
        std::memcpy(&word, bytes + from, sizeof word);
        const uint64_t lf = word ^ (kOnes * '\n');
        const uint64_t cr = word ^ (kOnes * '\r');
        // The high bit of each zero byte of `lf` or `cr`; bytes above the first one may
        // be marked falsely, so only the lowest mark counts.
        const uint64_t marks = ((lf - kOnes) & ~lf & kHighBits) | ((cr - kOnes) & ~cr & kHighBits);
        if (marks != 0) {
          return from + static_cast<uint32_t>(std::countr_zero(marks) / 8);
        }
        from += 8;
      }
    }
    return NextLineBreakByUnits<ByteUnits>(bytes, from, end);
  }
};
struct Utf16LeUnits {
  static constexpr uint32_t kWidth = 2;
  static char16_t At(const unsigned char* bytes, uint32_t offset) {
    return static_cast<char16_t>(bytes[offset] | (bytes[offset + 1] << 8));
  }
  static uint32_t NextLineBreak(const unsigned char* bytes, uint32_t from, uint32_t end) {
    return NextLineBreakByUnits<Utf16LeUnits>(bytes, from, end);
  }
};
struct Utf16BeUnits {
  static constexpr uint32_t kWidth = 2;
  static char16_t At(const unsigned char* bytes, uint32_t offset) {
    return static_cast<char16_t>((bytes[offset] << 8) | bytes[offset + 1]);
  }
  static uint32_t NextLineBreak(const unsigned char* bytes, uint32_t from, uint32_t end) {
    return NextLineBreakByUnits<Utf16BeUnits>(bytes, from, end);
  }
};

bool HasLineBreak(std::u16string_view text) {
  return std::any_of(text.begin(), text.end(), IsLineBreak);
}

// Fills a buffer in the GetPrivateProfileSectionNamesW format, name by name.
class SectionNameWriter {
 public:
  SectionNameWriter(char16_t* buffer, uint32_t size) : buffer_(buffer), size_(size) {
    if (buffer_ == nullptr || size_ == 0) {
      done_ = true;
    } else if (size_ == 1) {
      buffer_[0] = 0;
      done_ = true;
    } else {
      room_ = size_ - 1;
    }
  }

  // False once the list is complete or cut, when further names change nothing.
  bool Add(std::u16string_view name) {
    if (done_) {
      return false;
    }
    const size_t needed = name.size() + 1;
    if (needed >= room_) {
      // Cut: as much of the name as fits, then two zeros.
      std::copy_n(name.data(), room_ - 1, buffer_ + used_);
      used_ += room_ - 1;
      buffer_[used_++] = 0;
      buffer_[used_] = 0;
      result_ = size_ - 2;
      done_ = true;
      return false;
    }
    std::copy(name.begin(), name.end(), buffer_ + used_);
    used_ += static_cast<uint32_t>(needed);
    buffer_[used_ - 1] = 0;
    room_ -= static_cast<uint32_t>(needed);
    return true;
  }

  uint32_t Finish() {
    if (done_) {
      return result_;
    }
    buffer_[used_] = 0;
    return used_;
  }

 private:
  char16_t* buffer_;
  uint32_t size_;
  uint32_t room_ = 0;  // characters left, keeping one for the final zero
  uint32_t used_ = 0;
  uint32_t result_ = 0;
  bool done_ = false;
};

}  // namespace

std::u16string_view TrimProfileText(std::u16string_view text) {
  while (!text.empty() && IsProfileSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsProfileSpace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

uint32_t CopyProfileValue(std::u16string_view text, char16_t* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) {
    return 0;
  }
  if (text.size() >= 2 && (text.front() == u'"' || text.front() == u'\'') &&
      text.back() == text.front()) {
    text = text.substr(1, text.size() - 2);
  }
  const auto count = static_cast<uint32_t>(std::min<size_t>(text.size(), size - 1));
  std::copy_n(text.data(), count, buffer);
  buffer[count] = 0;
  return count;
}

std::u16string_view ProfileDefaultText(const char16_t* defaultValue) {
  std::u16string_view text = defaultValue == nullptr ? u"" : defaultValue;
  while (!text.empty() && text.back() == u' ') {
    text.remove_suffix(1);
  }
  return text;
}

uint32_t ProfileIntFromValue(std::optional<std::u16string_view> value, int32_t defaultValue) {
  // The text as GetPrivateProfileIntW sees it: copied into 30 characters.
  char16_t text[30];
  const uint32_t length = CopyProfileValue(value.value_or(u""), text, 30);
  if (length == 0) {
    return static_cast<uint32_t>(defaultValue);
  }

  uint32_t i = 0;
  while (i < length && text[i] <= u' ') {
    ++i;
  }
  bool negative = false;
  if (i < length && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i++] == u'-';
  }
  uint32_t base = 10;
  if (i + 1 < length && text[i] == u'0') {
    const char16_t prefix = text[i + 1];
    base = prefix == u'x' ? 16 : prefix == u'o' ? 8 : prefix == u'b' ? 2 : 10;
    if (base != 10) {
      i += 2;
    }
  }
  uint32_t total = 0;
  for (; i < length; ++i) {
    const char16_t c = text[i];
    uint32_t digit = base;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (c >= u'a' && c <= u'z') {
      digit = c - u'a' + 10;
    } else if (c >= u'A' && c <= u'Z') {
      digit = c - u'A' + 10;
    }
    if (digit >= base) {
      break;
    }
    total = total * base + digit;  // unsigned: wraps at 32 bits
  }
  return negative ? 0u - total : total;
}

ProfileDocument::ProfileDocument() { Parse(); }

ProfileDocument::ProfileDocument(std::string bytes) : bytes_(std::move(bytes)) { Parse(); }

char16_t ProfileDocument::UnitAt(uint32_t offset) const {
  const auto byte = [this](uint32_t at) { return static_cast<unsigned char>(bytes_[at]); };
  switch (encoding_) {
    case ProfileEncoding::kUtf16Le:
      return static_cast<char16_t>(byte(offset) | (byte(offset + 1) << 8));
    case ProfileEncoding::kUtf16Be:
      return static_cast<char16_t>((byte(offset) << 8) | byte(offset + 1));
    default:
      return byte(offset);
  }
}

void ProfileDocument::Parse() {
  sections_.clear();
  keys_.clear();
  nameGroups_.clear();
  nameSlots_.clear();
  hasDeletions_ = false;
  oversized_ = bytes_.size() >= kNone;

  const std::string_view bytes = bytes_;
  encoding_ = ProfileEncoding::kUtf8;
  unit_ = 1;
  textBegin_ = 0;
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    encoding_ = ProfileEncoding::kUtf8WithBom;
    textBegin_ = 3;
  } else if (bytes.starts_with("\xFF\xFE")) {
    encoding_ = ProfileEncoding::kUtf16Le;
    unit_ = 2;
    textBegin_ = 2;
  } else if (bytes.starts_with("\xFE\xFF")) {
    encoding_ = ProfileEncoding::kUtf16Be;
    unit_ = 2;
    textBegin_ = 2;
  }
  if (oversized_) {
    textBegin_ = textEnd_ = 0;
    return;
  }
  const auto size = static_cast<uint32_t>(bytes.size());
  textEnd_ = textBegin_ + (size - textBegin_) / unit_ * unit_;

  switch (encoding_) {
    case ProfileEncoding::kUtf16Le:
      ParseLines<Utf16LeUnits>();
      break;
    case ProfileEncoding::kUtf16Be:
      ParseLines<Utf16BeUnits>();
      break;
    default:
      ParseLines<ByteUnits>();
      break;
  }
  BuildNameIndex();
}

template <typename Units>
void ProfileDocument::ParseLines() {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes_.data());
  const auto at = [data](uint32_t offset) { return Units::At(data, offset); };
  constexpr uint32_t unit = Units::kWidth;
  const auto size = static_cast<uint32_t>(bytes_.size());

  // Structural characters are ASCII, and in UTF-8 a byte below 0x80 is always the ASCII
  // character itself, so the lines can be split and trimmed on code units while the
  // offsets stay byte offsets.
  uint32_t position = textBegin_;
  uint32_t current = kNone;  // index of the section the lines belong to
  while (position < textEnd_) {
    const uint32_t lineBegin = position;
    position = Units::NextLineBreak(data, position, textEnd_);
    uint32_t end = position;
    while (position < textEnd_ && IsLineBreak(at(position))) {
      position += unit;
    }

    uint32_t begin = lineBegin;
    while (begin < end && IsProfileSpace(at(begin))) {
      begin += unit;
    }
    while (end > begin && IsProfileSpace(at(end - unit))) {
      end -= unit;
    }
    if (begin == end) {
      continue;
    }

    if (at(begin) == u'[') {
      uint32_t close = end;
      while (close > begin && at(close - unit) != u']') {
        close -= unit;
      }
      if (close > begin) {
        close -= unit;  // the last ']'
        uint32_t nameBegin = begin + unit;
        uint32_t nameEnd = close;
        while (nameBegin < nameEnd && IsProfileSpace(at(nameBegin))) {
          nameBegin += unit;
        }
        // A name ends at its first U+0000: the section list separates names by zeros,
        // and every caller passes names zero-terminated, so the rest could never be
        // addressed and the list would show one section as two that cannot be deleted.
        for (uint32_t offset = nameBegin; offset < nameEnd; offset += unit) {
          if (at(offset) == 0) {
            nameEnd = offset;
            break;
          }
        }
        while (nameEnd > nameBegin && IsProfileSpace(at(nameEnd - unit))) {
          nameEnd -= unit;
        }
        if (current != kNone) {
          sections_[current].end = lineBegin;
        }
        current = static_cast<uint32_t>(sections_.size());
        sections_.push_back({.headerBegin = lineBegin,
                             .end = size,
                             .nameBegin = nameBegin,
                             .nameEnd = nameEnd,
                             .lastContentEnd = end,
                             .firstKey = static_cast<uint32_t>(keys_.size()),
                             .keyCount = 0,
                             .nextSameName = kNone,
                             .group = kNone,
                             .deleted = false});
        continue;
      }
    }
    if (current == kNone) {
      continue;  // before the first header: never addressed
    }

    Key key{.nameBegin = begin, .nameEnd = end, .valueBegin = kNone, .valueEnd = kNone};
    uint32_t equals = begin;
    while (equals < end && at(equals) != u'=') {
      equals += unit;
    }
    if (equals < end) {
      key.nameEnd = equals;
      while (key.nameEnd > begin && IsProfileSpace(at(key.nameEnd - unit))) {
        key.nameEnd -= unit;
      }
      key.valueBegin = equals + unit;
      while (key.valueBegin < end && IsProfileSpace(at(key.valueBegin))) {
        key.valueBegin += unit;
      }
      key.valueEnd = end;
    }
    keys_.push_back(key);
    ++sections_[current].keyCount;
    sections_[current].lastContentEnd = end;
  }
}

uint32_t ProfileDocument::NameHashOf(const Section& section) const {
  uint32_t hash = kHashBasis;
  if (unit_ == 2) {
    for (uint32_t at = section.nameBegin; at < section.nameEnd; at += 2) {
      hash = HashStep(hash, Fold(UnitAt(at)));
    }
    return hash;
  }
  const std::string_view name =
      std::string_view(bytes_).substr(section.nameBegin, section.nameEnd - section.nameBegin);
  if (!IsAscii(name)) {
    return HashFolded(Folded(DecodeUtf8(name)));
  }
  for (const char c : name) {
    hash = HashStep(hash, Fold(static_cast<unsigned char>(c)));
  }
  return hash;
}

bool ProfileDocument::NamesEqual(const Section& one, const Section& other) const {
  const uint32_t length = one.nameEnd - one.nameBegin;
  if (unit_ == 2) {
    if (other.nameEnd - other.nameBegin != length) {
      return false;
    }
    for (uint32_t i = 0; i < length; i += 2) {
      if (Fold(UnitAt(one.nameBegin + i)) != Fold(UnitAt(other.nameBegin + i))) {
        return false;
      }
    }
    return true;
  }
  const std::string_view bytes = bytes_;
  const std::string_view first = bytes.substr(one.nameBegin, length);
  const std::string_view second = bytes.substr(other.nameBegin, other.nameEnd - other.nameBegin);
  // Folding changes ASCII bytes only, which decode as themselves wherever they stand, so
  // equal folded bytes are equal folded text. Different bytes can still decode equally
  // when they are not plain ASCII (two invalid sequences both read as U+FFFD).
  const auto foldedByte = [](char c) { return Fold(static_cast<unsigned char>(c)); };
  if (std::equal(first.begin(), first.end(), second.begin(), second.end(),
                 [&](char a, char b) { return foldedByte(a) == foldedByte(b); })) {
    return true;
  }
  if (IsAscii(first) && IsAscii(second)) {
    return false;
  }
  return Folded(DecodeUtf8(first)) == Folded(DecodeUtf8(second));
}

void ProfileDocument::BuildNameIndex() {
  size_t named = 0;
  for (const Section& section : sections_) {
    named += section.nameBegin != section.nameEnd ? 1 : 0;
  }
  if (named == 0) {
    return;
  }
  size_t slots = 16;
  while (slots < 2 * named) {
    slots *= 2;
  }
  const size_t mask = slots - 1;
  nameSlots_.assign(slots, 0);
  nameGroups_.reserve(named);
  for (uint32_t index = 0; index < sections_.size(); ++index) {
    const Section& section = sections_[index];
    if (section.nameBegin == section.nameEnd) {
      continue;
    }
    const uint32_t hash = NameHashOf(section);
    for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
      const uint32_t occupant = nameSlots_[slot];
      if (occupant == 0) {
        nameGroups_.push_back(
            {.hash = hash, .representative = index, .first = index, .last = index});
        nameSlots_[slot] = static_cast<uint32_t>(nameGroups_.size());
        sections_[index].group = static_cast<uint32_t>(nameGroups_.size() - 1);
        break;
      }
      NameGroup& group = nameGroups_[occupant - 1];
      if (group.hash == hash && NamesEqual(sections_[group.representative], section)) {
        sections_[group.last].nextSameName = index;
        group.last = index;
        sections_[index].group = occupant - 1;
        break;
      }
    }
  }
}

std::u16string ProfileDocument::Decode(uint32_t begin, uint32_t end) const {
  std::u16string text;
  DecodeInto(begin, end, text);
  return text;
}

void ProfileDocument::DecodeInto(uint32_t begin, uint32_t end, std::u16string& text) const {
  if (unit_ == 1) {
    // ASCII widens unit by unit; anything else goes through the full decoder.
    const std::string_view bytes = std::string_view(bytes_).substr(begin, end - begin);
    text.resize(bytes.size());
    unsigned char seen = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
      const auto byte = static_cast<unsigned char>(bytes[i]);
      seen |= byte;
      text[i] = byte;
    }
    if (seen >= 0x80) {
      text = DecodeUtf8(bytes);
    }
    return;
  }
  text.resize((end - begin) / 2);
  for (uint32_t at = begin, i = 0; at < end; at += 2, ++i) {
    text[i] = UnitAt(at);
  }
}

std::string ProfileDocument::Encode(std::u16string_view text) const {
  if (unit_ == 1) {
    return EncodeUtf8(text);
  }
  std::string bytes;
  bytes.reserve(text.size() * 2);
  const bool littleEndian = encoding_ == ProfileEncoding::kUtf16Le;
  for (const char16_t c : text) {
    const auto low = static_cast<char>(c & 0xFF);
    const auto high = static_cast<char>(c >> 8);
    bytes.push_back(littleEndian ? low : high);
    bytes.push_back(littleEndian ? high : low);
  }
  return bytes;
}

ProfileDocument::Query ProfileDocument::MakeQuery(std::u16string_view name) const {
  Query query;
  name = TrimProfileText(name);
  if (std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x80; })) {
    query.ascii = name;
    query.isAscii = true;
    return query;
  }
  auto folded = std::make_unique<Query::NonAscii>();
  folded->text = Folded(name);
  if (unit_ == 1 && !NeedsDecodedComparison(folded->text)) {
    // Valid UTF-8 decodes one way only, and the folding touches ASCII bytes only, so
    // equal bytes (after folding) are exactly equal decoded names.
    folded->utf8 = EncodeUtf8(folded->text);
    folded->byteComparable = true;
  }
  query.folded = std::move(folded);
  return query;
}

uint32_t ProfileDocument::Query::Hash() const {
  if (!isAscii) {
    return HashFolded(folded->text);
  }
  uint32_t hash = kHashBasis;
  for (const char16_t c : ascii) {
    hash = HashStep(hash, Fold(c));
  }
  return hash;
}

bool ProfileDocument::NameEquals(uint32_t begin, uint32_t end, const Query& query) const {
  if (query.isAscii) {
    // A file name that reads as this ASCII text has exactly its units: any byte of
    // UTF-8 above 0x7F decodes to a character above U+007F.
    const std::u16string_view name = query.ascii;
    if (end - begin != name.size() * unit_) {
      return false;
    }
    if (unit_ == 1) {
      for (size_t i = 0; i < name.size(); ++i) {
        if (Fold(static_cast<unsigned char>(bytes_[begin + i])) != Fold(name[i])) {
          return false;
        }
      }
      return true;
    }
    for (size_t i = 0; i < name.size(); ++i) {
      if (Fold(UnitAt(begin + static_cast<uint32_t>(2 * i))) != Fold(name[i])) {
        return false;
      }
    }
    return true;
  }
  const std::u16string_view folded = query.folded->text;
  if (unit_ == 2) {
    if ((end - begin) / 2 != folded.size()) {
      return false;
    }
    for (size_t i = 0; i < folded.size(); ++i) {
      if (Fold(UnitAt(begin + static_cast<uint32_t>(2 * i))) != folded[i]) {
        return false;
      }
    }
    return true;
  }
  if (query.folded->byteComparable) {
    const std::string_view utf8 = query.folded->utf8;
    if (end - begin != utf8.size()) {
      return false;
    }
    for (size_t i = 0; i < utf8.size(); ++i) {
      const auto c = static_cast<char16_t>(static_cast<unsigned char>(bytes_[begin + i]));
      if (Fold(c) != static_cast<unsigned char>(utf8[i])) {
        return false;
      }
    }
    return true;
  }
  return Folded(Decode(begin, end)) == folded;
}

uint32_t ProfileDocument::FindNameGroup(const Query& query) const {
  if (query.empty() || nameSlots_.empty()) {
    return kNone;
  }
  const uint32_t hash = query.Hash();
  const size_t mask = nameSlots_.size() - 1;
  for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const uint32_t occupant = nameSlots_[slot];
    if (occupant == 0) {
      return kNone;
    }
    const NameGroup& group = nameGroups_[occupant - 1];
    const Section& representative = sections_[group.representative];
    if (group.hash == hash && NameEquals(representative.nameBegin, representative.nameEnd, query)) {
      return occupant - 1;
    }
  }
}

const ProfileDocument::Section* ProfileDocument::FindFirstSection(const Query& query) const {
  const uint32_t group = FindNameGroup(query);
  if (group == kNone || nameGroups_[group].first == kNone) {
    return nullptr;
  }
  return &sections_[nameGroups_[group].first];
}

ProfileDocument::SectionHandle ProfileDocument::FindSection(std::u16string_view section,
                                                            SectionHandle hint) const {
  const Query query = MakeQuery(section);
  if (hint < sections_.size() && !query.empty()) {
    const Section& candidate = sections_[hint];
    if (candidate.group != kNone && nameGroups_[candidate.group].first == hint &&
        NameEquals(candidate.nameBegin, candidate.nameEnd, query)) {
      return hint;
    }
  }
  const Section* found = FindFirstSection(query);
  return found == nullptr ? kNoSection : static_cast<SectionHandle>(found - sections_.data());
}

bool ProfileDocument::ReadValue(SectionHandle section, std::u16string_view key,
                                std::u16string& value) const {
  if (section >= sections_.size()) {
    return false;
  }
  const Section& found = sections_[section];
  const Query keyQuery = MakeQuery(key);
  if (keyQuery.empty()) {
    return false;
  }
  // An ASCII name has one length in the file's encoding: most keys differ in it.
  const size_t asciiLength = keyQuery.isAscii ? keyQuery.ascii.size() * unit_ : 0;
  for (uint32_t i = found.firstKey; i < found.firstKey + found.keyCount; ++i) {
    const Key& candidate = keys_[i];
    if (keyQuery.isAscii && candidate.nameEnd - candidate.nameBegin != asciiLength) {
      continue;
    }
    if (NameEquals(candidate.nameBegin, candidate.nameEnd, keyQuery)) {
      if (candidate.valueBegin == kNone) {
        return false;
      }
      DecodeInto(candidate.valueBegin, candidate.valueEnd, value);
      return true;
    }
  }
  return false;
}

std::optional<std::u16string> ProfileDocument::FindValue(std::u16string_view section,
                                                         std::u16string_view key) const {
  std::u16string value;
  if (!ReadValue(FindSection(section), key, value)) {
    return std::nullopt;
  }
  return value;
}

uint32_t ProfileDocument::ListSectionNames(char16_t* buffer, uint32_t size) const {
  SectionNameWriter writer(buffer, size);
  std::u16string name;
  for (const Section& section : sections_) {
    if (section.deleted || section.nameBegin == section.nameEnd) {
      continue;
    }
    DecodeInto(section.nameBegin, section.nameEnd, name);
    if (!writer.Add(name)) {
      break;
    }
  }
  return writer.Finish();
}

bool ProfileDocument::DeleteSection(std::u16string_view section) {
  const uint32_t groupIndex = FindNameGroup(MakeQuery(section));
  if (groupIndex == kNone || nameGroups_[groupIndex].first == kNone) {
    return false;
  }
  NameGroup& group = nameGroups_[groupIndex];
  Section& deleted = sections_[group.first];
  deleted.deleted = true;
  // Deletions always take the first remaining section, so the rest of the chain remains.
  group.first = deleted.nextSameName;
  hasDeletions_ = true;
  changed_ = true;
  return true;
}

bool ProfileDocument::SameQueryName(const Query& one, const Query& other) {
  if (one.isAscii != other.isAscii) {
    return false;  // folding keeps non-ASCII text non-ASCII
  }
  if (!one.isAscii) {
    return one.folded->text == other.folded->text;
  }
  return std::equal(one.ascii.begin(), one.ascii.end(), other.ascii.begin(), other.ascii.end(),
                    [](char16_t a, char16_t b) { return Fold(a) == Fold(b); });
}

std::vector<bool> ProfileDocument::DeleteSections(
    const std::vector<std::u16string_view>& sections) {
  // One pass costs a walk over every section; a few names are cheaper looked up.
  constexpr size_t kFewNames = 64;
  constexpr size_t kSectionsPerName = 16;
  if (sections.size() >= kFewNames && sections.size() * kSectionsPerName >= sections_.size()) {
    return DeleteSectionsInFileOrder(sections);
  }
  std::vector<bool> deleted(sections.size(), false);
  for (size_t i = 0; i < sections.size(); ++i) {
    deleted[i] = DeleteSection(sections[i]);
  }
  return deleted;
}

std::vector<bool> ProfileDocument::DeleteSectionsInFileOrder(
    const std::vector<std::u16string_view>& sections) {
  // Deletions of different names do not interact, and those of one name take the first
  // remaining sections of that name one by one: so the k requests for a name delete its
  // first k remaining sections in file order, and the requests beyond those find none.
  struct Requests {
    uint32_t hash;
    uint32_t first;  // index of the first request for this name; its query is compared
    uint32_t last;
    uint32_t next;  // the next request still to be served, or kNone
  };
  const size_t count = sections.size();
  std::vector<bool> deleted(count, false);
  std::vector<Query> queries;
  queries.reserve(count);
  std::vector<uint32_t> nextRequest(count, kNone);
  std::vector<Requests> names;
  size_t slots = 16;
  while (slots < 2 * count) {
    slots *= 2;
  }
  const size_t mask = slots - 1;
  std::vector<uint32_t> slotOf(slots, 0);  // index in `names` + 1, 0 when free
  size_t open = 0;                         // requests not yet served
  for (size_t i = 0; i < count; ++i) {
    queries.push_back(MakeQuery(sections[i]));
    const Query& query = queries.back();
    if (query.empty()) {
      continue;
    }
    ++open;
    const uint32_t hash = query.Hash();
    const auto request = static_cast<uint32_t>(i);
    for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
      if (slotOf[slot] == 0) {
        names.push_back({.hash = hash, .first = request, .last = request, .next = request});
        slotOf[slot] = static_cast<uint32_t>(names.size());
        break;
      }
      Requests& same = names[slotOf[slot] - 1];
      if (same.hash == hash && SameQueryName(queries[same.first], query)) {
        nextRequest[same.last] = request;
        same.last = request;
        break;
      }
    }
  }

  // Nothing below allocates: the document changes only once nothing can fail.
  for (uint32_t index = 0; index < sections_.size() && open > 0; ++index) {
    Section& section = sections_[index];
    if (section.deleted || section.group == kNone) {
      continue;
    }
    NameGroup& group = nameGroups_[section.group];
    if (group.first != index) {
      continue;  // an earlier section of this name remains: its requests are all served
    }
    for (size_t slot = group.hash & mask; slotOf[slot] != 0; slot = (slot + 1) & mask) {
      Requests& same = names[slotOf[slot] - 1];
      if (same.hash != group.hash ||
          !NameEquals(section.nameBegin, section.nameEnd, queries[same.first])) {
        continue;
      }
      if (same.next != kNone) {
        section.deleted = true;
        group.first = section.nextSameName;
        deleted[same.next] = true;
        same.next = nextRequest[same.next];
        hasDeletions_ = true;
        changed_ = true;
        --open;
      }
      break;
    }
  }
  return deleted;
}

std::string_view ProfileDocument::LineBreak() const {
  for (uint32_t at = textBegin_; at < textEnd_; at += unit_) {
    const char16_t c = UnitAt(at);
    if (c == u'\n') {
      return "\n";
    }
    if (c == u'\r') {
      return at + unit_ < textEnd_ && UnitAt(at + unit_) == u'\n' ? "\r\n" : "\r";
    }
  }
  return "\r\n";  // Windows' line break for new and single-line files
}

bool ProfileDocument::IsWritable(std::u16string_view section, std::u16string_view key,
                                 std::u16string_view value) {
  section = TrimProfileText(section);
  key = TrimProfileText(key);
  return !section.empty() && !key.empty() && !HasLineBreak(section) && !HasLineBreak(key) &&
         !HasLineBreak(value) && key.find(u'=') == std::u16string_view::npos && key.front() != u'[';
}

bool ProfileDocument::SetValue(std::u16string_view section, std::u16string_view key,
                               std::u16string_view value) {
  if (oversized_ || !IsWritable(section, key, value)) {
    return false;
  }
  section = TrimProfileText(section);
  key = TrimProfileText(key);
  while (!value.empty() && IsProfileSpace(value.front())) {
    value.remove_prefix(1);
  }
  if (hasDeletions_) {
    bytes_ = Serialize();
    Parse();
    rewritten_ = true;
  }

  std::u16string eolText;
  for (const char c : LineBreak()) {
    eolText.push_back(static_cast<char16_t>(c));
  }
  std::u16string text;  // the new text, to be encoded
  uint32_t at = textEnd_;
  uint32_t replacedEnd = textEnd_;

  const Section* found = FindFirstSection(MakeQuery(section));
  const Key* existing = nullptr;
  if (found != nullptr) {
    const Query keyQuery = MakeQuery(key);
    for (uint32_t i = found->firstKey; i < found->firstKey + found->keyCount; ++i) {
      if (NameEquals(keys_[i].nameBegin, keys_[i].nameEnd, keyQuery)) {
        existing = &keys_[i];
        break;
      }
    }
  }
  if (existing != nullptr && existing->valueBegin != kNone) {
    at = existing->valueBegin;
    replacedEnd = existing->valueEnd;
    text = value;
  } else if (existing != nullptr) {
    at = replacedEnd = existing->nameEnd;  // a key without '=': its line ends with the name
    text.append(u"=").append(value);
  } else if (found != nullptr) {
    // After the line break that ends the section's last non-blank line.
    at = found->lastContentEnd;
    while (at < textEnd_ && !IsLineBreak(UnitAt(at))) {
      at += unit_;
    }
    if (at == textEnd_) {
      text = eolText;
    } else {
      const bool crlf = UnitAt(at) == u'\r' && at + unit_ < textEnd_ && UnitAt(at + unit_) == u'\n';
      at += crlf ? 2 * unit_ : unit_;
    }
    replacedEnd = at;
    text.append(key).append(u"=").append(value).append(eolText);
  } else {
    if (textEnd_ > textBegin_ && !IsLineBreak(UnitAt(textEnd_ - unit_))) {
      text = eolText;
    }
    text.append(u"[").append(section).append(u"]").append(eolText);
    text.append(key).append(u"=").append(value).append(eolText);
  }

  const std::string encoded = Encode(text);
  if (bytes_.size() - (replacedEnd - at) + encoded.size() >= kNone) {
    return false;
  }
  bytes_.replace(at, replacedEnd - at, encoded);
  Parse();
  changed_ = true;
  rewritten_ = true;
  return true;
}

std::string ProfileDocument::Serialize() const {
  if (!hasDeletions_) {
    return bytes_;
  }
  std::string out;
  out.reserve(bytes_.size());
  for (const std::string_view piece : SerializedPieces()) {
    out.append(piece);
  }
  return out;
}

std::vector<std::string_view> ProfileDocument::SerializedPieces() const {
  const std::string_view bytes = bytes_;
  std::vector<std::string_view> pieces;
  size_t position = 0;
  if (hasDeletions_) {
    for (const Section& section : sections_) {
      if (!section.deleted) {
        continue;
      }
      if (section.headerBegin > position) {
        pieces.push_back(bytes.substr(position, section.headerBegin - position));
      }
      position = section.end;
    }
  }
  if (position < bytes.size()) {
    pieces.push_back(bytes.substr(position));
  }
  return pieces;
}

}  // namespace psrl::platform::posix
