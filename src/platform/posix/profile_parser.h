// The profile (.ini) format as the Windows profile functions read it, without any I/O:
// a file's bytes are parsed into sections and keys that remember where each line lies in
// those bytes, so that a change rewrites only the bytes it concerns.
//
// Reading rules:
// - Encoding: EF BB BF is UTF-8, FF FE UTF-16LE, FE FF UTF-16BE, anything else UTF-8.
//   Invalid UTF-8 reads as U+FFFD; an odd trailing byte of UTF-16 is ignored.
// - Lines end at any run of CR and LF and are trimmed of U+0009-U+000D, U+001A and
//   U+0020; blank lines are skipped.
// - A line starting with '[' that contains ']' is a section header; its name runs to the
//   last ']' (or to a U+0000 before it) and is trimmed. Any other line is a key:
//   `name=value` split at the first '=', both sides trimmed, or a name without a value.
//   Keys before the first header, and sections whose name is empty, can be neither
//   listed nor addressed.
// - Names compare case-insensitively, folding only A-Z to a-z: Windows also folds other
//   letters, but its folding depends on its own tables, and the names this library
//   writes are ASCII. The first section of a name is the one read, and within it the
//   first key of a name.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace psrl::platform::posix {

enum class ProfileEncoding { kUtf8, kUtf8WithBom, kUtf16Le, kUtf16Be };

class ProfileDocument {
 public:
  // A section found by FindSection; valid until the document changes.
  using SectionHandle = uint32_t;
  static constexpr SectionHandle kNoSection = UINT32_MAX;

  // An empty document, as a missing file reads.
  ProfileDocument();
  // Parses a whole file. Never fails; files of 4 GiB or more read as empty and cannot
  // be changed.
  explicit ProfileDocument(std::string bytes);

  // The trimmed value of `key` in the first section named `section`, or nothing when the
  // section or the key is missing or the key's line has no '='. The names are trimmed
  // before the comparison, as the lines' are.
  std::optional<std::u16string> FindValue(std::u16string_view section,
                                          std::u16string_view key) const;

  // The first remaining section named `section` (trimmed), or kNoSection. `hint` is
  // tried first: a reader that goes through the sections in file order passes the one
  // after the last it found, which spares the name index (and its cache misses).
  SectionHandle FindSection(std::u16string_view section, SectionHandle hint = kNoSection) const;

  // FindValue in two steps, for reading several keys of one section: decodes the value
  // of `key` into `value` (reusing its storage) and returns true, or returns false when
  // the section or the key is missing or the key's line has no '='.
  bool ReadValue(SectionHandle section, std::u16string_view key, std::u16string& value) const;

  // Writes the names of all listed sections in file order, duplicates included, each
  // followed by a zero, then one more zero, as GetPrivateProfileSectionNamesW does.
  // Returns the characters written without the final zero; when they do not fit, copies
  // what fits, ends with two zeros and returns `size` - 2. Sizes 0 and 1 write at most
  // one zero and return 0.
  uint32_t ListSectionNames(char16_t* buffer, uint32_t size) const;

  // Marks the first remaining section named `section` as deleted: its header line and
  // everything up to the next header line. False when there is none.
  bool DeleteSection(std::u16string_view section);

  // DeleteSection for each of `sections` in turn, with the same result; returns for each
  // whether it deleted a section. Many names at once (a report deletes every session it
  // delivered) take one pass over the sections in file order instead of one lookup each
  // at a random place of the name index.
  std::vector<bool> DeleteSections(const std::vector<std::u16string_view>& sections);
  // The one-pass form whatever the number of names (DeleteSections chooses).
  std::vector<bool> DeleteSectionsInFileOrder(const std::vector<std::u16string_view>& sections);

  // Sets `key` in the first section named `section`: replaces the value in place, or adds
  // `key=value` on a new line after the section's last non-blank line, or adds the section
  // with the key at the end of the file. New text takes the file's encoding and line
  // break. Leading white space of `value` is dropped. False (and no change) when a name is
  // empty after trimming or the text cannot be written so that it reads back: a line
  // break in any part, '=' in the key, or a key starting with '['.
  bool SetValue(std::u16string_view section, std::u16string_view key, std::u16string_view value);

  // Whether SetValue accepts these names and value (apart from the file's size).
  static bool IsWritable(std::u16string_view section, std::u16string_view key,
                         std::u16string_view value);

  // True once DeleteSection or SetValue has changed the document.
  bool changed() const { return changed_; }

  // The file's bytes with every change applied; bytes outside the changes are untouched.
  std::string Serialize() const;

  // The same bytes as pieces of the document's own storage, laid end to end, so that a
  // large file can be written out without a second copy in memory. Valid until the
  // document changes.
  std::vector<std::string_view> SerializedPieces() const;

  // The bytes the document was parsed from, as long as only sections were deleted since
  // (its changes then apply to those bytes as they stand); nothing otherwise.
  std::optional<std::string_view> ParsedBytes() const {
    return rewritten_ ? std::nullopt : std::optional<std::string_view>(bytes_);
  }

 private:
  static constexpr uint32_t kNone = UINT32_MAX;

  // All positions are byte offsets into bytes_.
  struct Key {
    uint32_t nameBegin;
    uint32_t nameEnd;
    uint32_t valueBegin;  // kNone when the line has no '='
    uint32_t valueEnd;
  };
  struct Section {
    uint32_t headerBegin;  // start of the header line
    uint32_t end;          // start of the next header line, or the end of the file
    uint32_t nameBegin;
    uint32_t nameEnd;
    uint32_t lastContentEnd;  // end of the trimmed text of the last non-blank line
    uint32_t firstKey;
    uint32_t keyCount;
    uint32_t nextSameName;  // the next section of the same name, or kNone
    uint32_t group;         // index in nameGroups_, or kNone for an empty name
    bool deleted;
  };
  // The sections of one name (folded), chained through Section::nextSameName.
  struct NameGroup {
    uint32_t hash;
    uint32_t representative;  // the first of the name in the file, deleted or not
    uint32_t first;           // the first not deleted, or kNone
    uint32_t last;
  };
  // A name to look up, trimmed. An ASCII name (every name this library reads) is kept
  // as a view of the caller's text and folded as it is compared, so a lookup copies and
  // allocates nothing; any other name is folded, with its UTF-8 form for a byte
  // comparison where that identifies it.
  struct Query {
    struct NonAscii {
      std::u16string text;
      std::string utf8;
      bool byteComparable = false;
    };
    std::u16string_view ascii;  // the trimmed name, when isAscii
    bool isAscii = false;
    std::unique_ptr<const NonAscii> folded;  // otherwise; kept apart to keep queries small

    bool empty() const { return isAscii ? ascii.empty() : folded->text.empty(); }
    uint32_t Hash() const;
  };

  void Parse();
  template <typename Units>
  void ParseLines();
  void BuildNameIndex();
  char16_t UnitAt(uint32_t offset) const;
  std::u16string Decode(uint32_t begin, uint32_t end) const;
  // Decode into `text`, reusing its storage.
  void DecodeInto(uint32_t begin, uint32_t end, std::u16string& text) const;
  std::string Encode(std::u16string_view text) const;
  Query MakeQuery(std::u16string_view name) const;
  bool NameEquals(uint32_t begin, uint32_t end, const Query& query) const;
  static bool SameQueryName(const Query& one, const Query& other);
  bool NamesEqual(const Section& one, const Section& other) const;
  uint32_t NameHashOf(const Section& section) const;
  // The group of the query's name, or kNone.
  uint32_t FindNameGroup(const Query& query) const;
  const Section* FindFirstSection(const Query& query) const;
  std::string_view LineBreak() const;

  std::string bytes_;
  ProfileEncoding encoding_ = ProfileEncoding::kUtf8;
  uint32_t unit_ = 1;       // bytes per code unit
  uint32_t textBegin_ = 0;  // after the byte-order mark
  uint32_t textEnd_ = 0;    // before an odd trailing byte of UTF-16
  std::vector<Section> sections_;
  std::vector<Key> keys_;
  std::vector<NameGroup> nameGroups_;
  // Open addressing over nameGroups_ by NameGroup::hash: group index + 1, 0 when free.
  std::vector<uint32_t> nameSlots_;
  bool oversized_ = false;  // 4 GiB or more: read as empty, never changed
  bool hasDeletions_ = false;
  bool changed_ = false;
  bool rewritten_ = false;  // bytes_ differ from the bytes parsed first
};

// Trims U+0009-U+000D, U+001A and U+0020 from both ends, as lines and names are trimmed.
std::u16string_view TrimProfileText(std::u16string_view text);

// Copies `text` as GetPrivateProfileStringW copies a value: without one pair of matching
// outer quotes ("..." or '...', when the text has at least two characters), cut to
// `size` - 1 characters and zero-terminated. Returns the characters copied; writes
// nothing when `size` is 0 or `buffer` is null.
uint32_t CopyProfileValue(std::u16string_view text, char16_t* buffer, uint32_t size);

// The default value as GetPrivateProfileStringW uses it: trailing spaces removed.
std::u16string_view ProfileDefaultText(const char16_t* defaultValue);

// The integer of a value as GetPrivateProfileIntW reads it: the value as copied into a
// 30-character buffer; empty (or missing) gives `defaultValue`; otherwise leading
// characters up to U+0020 are skipped, then one '+' or '-', a lower-case 0x/0o/0b prefix
// (else base 10), and the digits valid for the base, with 32-bit wrap-around; then the
// sign applies. No digits give 0.
uint32_t ProfileIntFromValue(std::optional<std::u16string_view> value, int32_t defaultValue);

}  // namespace psrl::platform::posix
