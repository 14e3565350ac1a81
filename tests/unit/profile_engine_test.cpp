// The Linux profile engine through the services of platform.h, on real files in fresh
// temporary folders: how files read, how changes keep every other byte, how files are
// replaced, and how a run defers its changes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/file_system_calls.h"
#include "platform/posix/profile_run.h"
#include "support/temp_folder.h"

namespace psrl::platform {
namespace {

namespace fs = std::filesystem;
using psrl::testing::ReadFileBytes;
using psrl::testing::TempFolder;
using psrl::testing::ToU16;
using psrl::testing::ToUtf8;
using psrl::testing::WriteFileBytes;

constexpr char16_t kDefault[] = u"<default>";

std::string Utf16(std::u16string_view text, bool littleEndian) {
  std::string bytes = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
  for (const char16_t c : text) {
    const auto low = static_cast<char>(c & 0xFF);
    const auto high = static_cast<char>(c >> 8);
    bytes += littleEndian ? std::string{low, high} : std::string{high, low};
  }
  return bytes;
}
std::string Utf16Le(std::u16string_view text) { return Utf16(text, true); }

// Holds a run open, as BeginRun/EndRun do around a report.
class RunScope {
 public:
  RunScope() { posix::ProfileBeginRun(); }
  ~RunScope() { End(); }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;
  void End() {
    if (open_) {
      posix::ProfileEndRun();
    }
    open_ = false;
  }

 private:
  bool open_ = true;
};

class ProfileEngineTest : public ::testing::Test {
 protected:
  fs::path File(const std::string& name = "test.ini") const { return folder_ / name; }
  std::u16string Name(const std::string& name = "test.ini") const { return ToU16(File(name)); }

  // The value as read with a buffer of `size`, or the default.
  std::u16string Read(const std::u16string& section, const std::u16string& key,
                      const std::string& name = "test.ini", uint32_t size = 260) const {
    std::vector<char16_t> buffer(size + 1, u'#');
    const uint32_t length = ProfileReadString(section.c_str(), key.c_str(), kDefault, buffer.data(),
                                              size, Name(name).c_str());
    EXPECT_LT(length, size);
    EXPECT_EQ(buffer[length], 0);
    return {buffer.data(), length};
  }

  std::vector<std::u16string> Sections(const std::string& name = "test.ini") const {
    std::vector<char16_t> buffer(1 << 16);
    const auto length = ProfileListSections(buffer.data(), static_cast<uint32_t>(buffer.size()),
                                            Name(name).c_str());
    std::vector<std::u16string> names;
    for (uint32_t at = 0; at < length; at += static_cast<uint32_t>(names.back().size()) + 1) {
      names.emplace_back(buffer.data() + at);
    }
    return names;
  }

  bool Delete(const std::u16string& section, const std::string& name = "test.ini") const {
    return ProfileDeleteSection(section.c_str(), Name(name).c_str());
  }

  bool WriteValue(const std::u16string& section, const std::u16string& key,
                  const std::u16string& value, const std::string& name = "test.ini") const {
    return ProfileWriteString(section.c_str(), key.c_str(), value.c_str(), Name(name).c_str());
  }

  std::vector<std::string> FolderEntries(const std::string& under = "") const {
    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(folder_.path() / under)) {
      entries.push_back(entry.path().filename().string());
    }
    return entries;
  }

  TempFolder folder_;
};

// ---- Reading ----

TEST_F(ProfileEngineTest, DecodesEachEncoding) {
  const std::u16string text = u"[Gr\u00FC\u00DFe]\r\nName=caf\u00E9 \U0001F3AE\r\n[two]\r\nx=1\r\n";
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"UTF-8", ToUtf8(text)},
      {"UTF-8 with BOM", "\xEF\xBB\xBF" + ToUtf8(text)},
      {"UTF-16LE", Utf16(text, true)},
      {"UTF-16BE", Utf16(text, false)},
      {"UTF-16LE, odd last byte", Utf16(text, true) + "["},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(File(), c.bytes);
    EXPECT_EQ(Read(u"GR\u00FC\u00DFE", u"name"), u"caf\u00E9 \U0001F3AE");
    EXPECT_EQ(Sections(), (std::vector<std::u16string>{u"Gr\u00FC\u00DFe", u"two"}));
  }
}

TEST_F(ProfileEngineTest, InvalidUtf8ReadsAsReplacementCharacters) {
  WriteFileBytes(File(), "[s\xFF]\nk=a\xC3(\xE2\x82\n");
  EXPECT_EQ(Read(u"s\uFFFD", u"k"), u"a\uFFFD(\uFFFD\uFFFD");
  EXPECT_EQ(Sections(), std::vector<std::u16string>{u"s\uFFFD"});
}

// Names are the same section when they read the same, whatever their bytes: different
// invalid bytes, letter case, UTF-16 against a name asked in any case.
TEST_F(ProfileEngineTest, SectionsOfOneNameAreOneChainWhateverTheirBytes) {
  const std::vector<std::pair<const char*, std::string>> files = {
      {"invalid UTF-8", "[s\xFF]\nk=1\n[S\xFE]\nk=2\n[s\xC3]\nk=3\n"},
      {"UTF-16", Utf16Le(u"[s\uFFFD]\nk=1\n[S\uFFFD]\nk=2\n[s\uFFFD]\nk=3\n")},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    WriteFileBytes(File(), bytes);
    RunScope run;
    for (const char16_t* expected : {u"1", u"2", u"3"}) {
      EXPECT_EQ(Read(u"S\uFFFD", u"k"), expected);
      EXPECT_TRUE(Delete(u"s\uFFFD"));
    }
    EXPECT_EQ(Read(u"s\uFFFD", u"k"), kDefault);
    EXPECT_TRUE(Sections().empty());
  }
}

TEST_F(ProfileEngineTest, ParsesLinesLikeWindows) {
  struct Case {
    const char* name;
    std::string content;
    std::u16string section;
    std::u16string key;
    std::u16string expected;  // kDefault when the key must read as missing
  };
  const Case cases[] = {
      {"CRLF", "[s]\r\na=1\r\nk=v\r\n", u"s", u"k", u"v"},
      {"LF", "[s]\na=1\nk=v\n", u"s", u"k", u"v"},
      {"CR", "[s]\ra=1\rk=v\r", u"s", u"k", u"v"},
      {"mixed, no final break", "[s]\r\n\n\ra=1\n\rk=v", u"s", u"k", u"v"},
      {"trimming", "\t [ s \x1A]\v \r\n \f k \t= \x1A v  w \t\x0B\r\n", u"s", u"k", u"v  w"},
      {"names trimmed on lookup", "[s]\nk=v\n", u" s\t", u"\tk ", u"v"},
      {"case of A-Z ignored", "[SeCtIoN]\nKeY=v\n", u"sEcTiOn", u"kEy", u"v"},
      {"other letters keep their case", "[\u00C4]\nk=v\n", u"\u00E4", u"k", kDefault},
      {"last ']' closes the name", "[a]b] x\nk=v\n", u"a]b", u"k", u"v"},
      {"'[' without ']' is a key", "[s]\n[a=v\n", u"s", u"[a", u"v"},
      {"...and no section", "[s]\n[a\nk=v\n", u"a", u"k", kDefault},
      {"split at the first '='", "[s]\nk = a=b\n", u"s", u"k", u"a=b"},
      {"';' is nothing special", "[s]\n;k=v\n", u"s", u";k", u"v"},
      {"key without '='", "[s]\nk\n", u"s", u"k", kDefault},
      {"...wins over a later one", "[s]\nk\nk=v\n", u"s", u"k", kDefault},
      {"empty value", "[s]\nk=\n", u"s", u"k", u""},
      {"first key of a name", "[s]\nk=1\nK=2\n", u"s", u"k", u"1"},
      {"first section of a name", "[s]\nk=1\n[S]\nk=2\nj=3\n", u"s", u"k", u"1"},
      {"...only that one", "[s]\nk=1\n[S]\nk=2\nj=3\n", u"s", u"j", kDefault},
      {"keys before the first header", "k=v\n[s]\n", u"", u"k", kDefault},
      {"an empty name is not addressed", "[s]\n[ ]\nk=v\n", u"", u"k", kDefault},
      {"...and ends the section before", "[s]\n[ ]\nk=v\n", u"s", u"k", kDefault},
      {"missing section", "[s]\nk=v\n", u"t", u"k", kDefault},
      {"missing key", "[s]\nk=v\n", u"s", u"j", kDefault},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(File(), c.content);
    EXPECT_EQ(Read(c.section, c.key), c.expected);
  }
}

TEST_F(ProfileEngineTest, CopiesValuesLikeGetPrivateProfileString) {
  struct Case {
    std::string value;
    uint32_t size;
    std::u16string expected;
  };
  const Case cases[] = {
      {"\"quoted\"", 260, u"quoted"},
      {"'quoted'", 260, u"quoted"},
      {"\"mixed'", 260, u"\"mixed'"},
      {"\"a\"b\"", 260, u"a\"b"},
      {"\"\"", 260, u""},
      {"\"", 260, u"\""},
      {" \" inner \" ", 260, u" inner "},
      {std::string(300, 'x'), 260, std::u16string(259, u'x')},
      {"\"" + std::string(300, 'x') + "\"", 260, std::u16string(259, u'x')},
      {"abc", 1, u""},
      {"abc", 3, u"ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    WriteFileBytes(File(), "[s]\nk=" + c.value + "\n");
    EXPECT_EQ(Read(u"s", u"k", "test.ini", c.size), c.expected);
  }

  // Size 0 writes nothing; the default loses its trailing spaces.
  char16_t untouched[] = u"#";
  EXPECT_EQ(ProfileReadString(u"s", u"k", u"d", untouched, 0, Name().c_str()), 0u);
  EXPECT_EQ(untouched[0], u'#');
  char16_t buffer[16];
  EXPECT_EQ(ProfileReadString(u"s", u"missing", u"dflt  ", buffer, 16, Name().c_str()), 4u);
  EXPECT_EQ(std::u16string(buffer), u"dflt");
  EXPECT_EQ(ProfileReadString(u"s", u"missing", nullptr, buffer, 16, Name().c_str()), 0u);
  EXPECT_EQ(buffer[0], 0);
}

TEST_F(ProfileEngineTest, ReadsIntegersLikeGetPrivateProfileInt) {
  struct Case {
    std::optional<std::string> line;  // nothing: no such key
    uint32_t expected;
  };
  const Case cases[] = {
      {"k=42", 42},
      {"k=+42", 42},
      {"k=-42", static_cast<uint32_t>(-42)},
      {"k=0x1F", 31},
      {"k=0xff", 255},
      {"k=-0x10", static_cast<uint32_t>(-16)},
      {"k=0X1F", 0},  // upper-case X is no prefix: "0", then garbage
      {"k=0o17", 15},
      {"k=0b101", 5},
      {"k=0b102", 2},
      {"k=12abc", 12},
      {"k=4294967297", 1},
      {"k=4294967295", 4294967295u},
      {"k=\"15\"", 15},
      {"k=\" \t7\"", 7},
      {"k=abc", 0},
      {"k=-", 0},
      {"k=0x", 0},
      {"k=+-1", 0},
      {"k=" + std::string(28, '0') + "12", 1},  // cut to 29 characters
      {"k=", 77},
      {"k=\"\"", 77},
      {"k", 77},
      {std::nullopt, 77},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line.value_or("(missing)"));
    WriteFileBytes(File(), "[s]\n" + c.line.value_or("other=1") + "\n");
    EXPECT_EQ(ProfileReadInt(u"s", u"k", 77, Name().c_str()), c.expected);
  }
}

TEST_F(ProfileEngineTest, ListsSectionsInFileOrderWithDuplicates) {
  WriteFileBytes(File(), "k=0\n[alpha]\n[]\nx=1\n[ beta ]\n[ALPHA]\n");
  EXPECT_EQ(Sections(), (std::vector<std::u16string>{u"alpha", u"beta", u"ALPHA"}));
  EXPECT_TRUE(Sections("missing.ini").empty());
}

TEST_F(ProfileEngineTest, CutsTheSectionListLikeWindows) {
  WriteFileBytes(File(), "[alpha]\n[beta]\n");
  struct Case {
    uint32_t size;
    uint32_t expected;
    std::u16string content;  // the first `size` characters written
  };
  const Case cases[] = {
      {1, 0, std::u16string(1, 0)},
      {2, 0, std::u16string(2, 0)},
      {5, 3, std::u16string(u"alp\0\0", 5)},
      {7, 5, std::u16string(u"alpha\0\0", 7)},
      {8, 6, std::u16string(u"alpha\0\0\0", 8)},
      {12, 10, std::u16string(u"alpha\0beta\0\0", 12)},
      {13, 11, std::u16string(u"alpha\0beta\0\0#", 13)},  // fits: last character untouched
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::vector<char16_t> buffer(c.size, u'#');
    EXPECT_EQ(ProfileListSections(buffer.data(), c.size, Name().c_str()), c.expected);
    EXPECT_EQ(std::u16string(buffer.begin(), buffer.end()), c.content);
  }
  char16_t untouched = u'#';
  EXPECT_EQ(ProfileListSections(&untouched, 0, Name().c_str()), 0u);
  EXPECT_EQ(untouched, u'#');
  EXPECT_EQ(ProfileListSections(nullptr, 10, Name().c_str()), 0u);
}

TEST_F(ProfileEngineTest, OddInputsReadAsMissing) {
  fs::create_directory(File("folder.ini"));
  ASSERT_EQ(mkfifo(File("fifo.ini").c_str(), 0600), 0);
  fs::create_symlink("loop.ini", File("loop.ini"));
  char16_t buffer[8] = u"#";
  for (const char* name : {"missing.ini", "folder.ini", "fifo.ini", "loop.ini"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Read(u"s", u"k", name), kDefault);
    EXPECT_EQ(ProfileReadInt(u"s", u"k", -3, Name(name).c_str()), static_cast<uint32_t>(-3));
    EXPECT_EQ(ProfileListSections(buffer, 8, Name(name).c_str()), 0u);
    EXPECT_EQ(buffer[0], 0);
  }
  // Nothing to delete in a missing file, and nothing is created for it.
  EXPECT_TRUE(Delete(u"s", "missing.ini"));
  EXPECT_FALSE(fs::exists(File("missing.ini")));
  for (const char* name : {"folder.ini", "fifo.ini", "loop.ini"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(Delete(u"s", name));
    EXPECT_FALSE(WriteValue(u"s", u"k", u"v", name));
  }
  EXPECT_TRUE(fs::is_directory(File("folder.ini")));
  EXPECT_TRUE(fs::is_fifo(File("fifo.ini")));

  WriteFileBytes(File(), "[s]\nk=v\n");
  EXPECT_EQ(ProfileReadString(nullptr, u"k", u"d", buffer, 8, Name().c_str()), 1u);
  EXPECT_EQ(ProfileReadString(u"s", nullptr, u"d", buffer, 8, Name().c_str()), 1u);
  EXPECT_EQ(ProfileReadString(u"s", u"k", u"d", buffer, 8, nullptr), 1u);
  EXPECT_EQ(ProfileReadString(u"s", u"k", u"d", buffer, 8, u""), 1u);
  EXPECT_EQ(ProfileReadInt(nullptr, u"k", 5, Name().c_str()), 5u);
  EXPECT_EQ(ProfileReadInt(u"s", u"k", 5, nullptr), 5u);
  EXPECT_FALSE(ProfileDeleteSection(nullptr, Name().c_str()));
  EXPECT_FALSE(ProfileDeleteSection(u"s", nullptr));
  EXPECT_FALSE(ProfileWriteString(u"s", nullptr, u"v", Name().c_str()));
  EXPECT_FALSE(ProfileWriteString(u"s", u"k", nullptr, Name().c_str()));
  EXPECT_EQ(ReadFileBytes(File()), "[s]\nk=v\n");
}

TEST_F(ProfileEngineTest, RelativeNamesAreTakenFromTheCurrentDirectory) {
  WriteFileBytes(File("relative.ini"), "[s]\nk=here\n");
  const fs::path previous = fs::current_path();
  fs::current_path(folder_.path());
  char16_t buffer[16];
  ProfileReadString(u"s", u"k", u"", buffer, 16, u"relative.ini");
  const bool deleted = ProfileDeleteSection(u"s", u"./relative.ini");
  fs::current_path(previous);
  EXPECT_EQ(std::u16string(buffer), u"here");
  EXPECT_TRUE(deleted);
  EXPECT_EQ(ReadFileBytes(File("relative.ini")), "");
}

// ---- Changes ----

struct DeletionCase {
  const char* name;
  std::string before;
  std::u16string section;
  std::string after;
};

TEST_F(ProfileEngineTest, DeletingASectionKeepsEveryOtherByte) {
  const std::string utf8 =
      "; comment\r\n[first]\r\na=1\r\n\r\n  [middle]  \n  b = 2 \n;c\n[last]\rc=3";
  const std::u16string utf16 = u"[first]\r\na=\u00E9\r\n[middle]\r\nb=2\r\n[last]\r\nc=3\r\n";
  const DeletionCase cases[] = {
      {"first", utf8, u"FIRST", "; comment\r\n  [middle]  \n  b = 2 \n;c\n[last]\rc=3"},
      {"middle", utf8, u"middle", "; comment\r\n[first]\r\na=1\r\n\r\n[last]\rc=3"},
      {"last", utf8, u"last", "; comment\r\n[first]\r\na=1\r\n\r\n  [middle]  \n  b = 2 \n;c\n"},
      {"missing", utf8, u"other", utf8},
      {"first of two", "[d]\nx=1\n[e]\n[D]\nx=2\n", u"d", "[e]\n[D]\nx=2\n"},
      {"BOM kept", "\xEF\xBB\xBF[a]\nx=1\n[b]\n", u"a", "\xEF\xBB\xBF[b]\n"},
      {"nameless part kept", "k=v\n[a]\n[]\nx=1\n[b]\n", u"a", "k=v\n[]\nx=1\n[b]\n"},
      {"UTF-16LE first", Utf16Le(utf16), u"first",
       Utf16Le(u"[middle]\r\nb=2\r\n[last]\r\nc=3\r\n")},
      {"UTF-16LE middle", Utf16Le(utf16), u"middle",
       Utf16Le(u"[first]\r\na=\u00E9\r\n[last]\r\nc=3\r\n")},
      {"UTF-16LE last", Utf16Le(utf16), u"last",
       Utf16Le(u"[first]\r\na=\u00E9\r\n[middle]\r\nb=2\r\n")},
  };
  for (const DeletionCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(File(), c.before);
    EXPECT_TRUE(Delete(c.section));
    EXPECT_EQ(ReadFileBytes(File()), c.after);
  }
}

TEST_F(ProfileEngineTest, ManyDeletionsInOneRunMakeOnePass) {
  std::string before;
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    const std::string section =
        "[s" + std::to_string(i % 1000) + "]\r\nk=" + std::to_string(i) + "\r\n";
    before += section;
    // Each odd name is deleted twice: its first two of three occurrences go.
    if ((i % 1000) % 2 == 0 || i >= 2000) {
      expected += section;
    }
  }
  WriteFileBytes(File(), before);
  {
    RunScope run;
    for (int i = 1; i < 1000; i += 2) {
      const std::u16string name = u"S" + ToU16(std::to_string(i));
      EXPECT_TRUE(Delete(name));
      EXPECT_TRUE(Delete(name));
    }
    EXPECT_EQ(Read(u"s1", u"k"), u"2001");
    EXPECT_EQ(Sections().size(), 2000u);
  }
  EXPECT_EQ(ReadFileBytes(File()), expected);
}

TEST_F(ProfileEngineTest, WritingAValueKeepsEveryOtherByte) {
  struct Case {
    const char* name;
    std::optional<std::string> before;  // nothing: no file yet
    std::u16string section;
    std::u16string key;
    std::u16string value;
    std::string after;
  };
  const Case cases[] = {
      {"replace", "[s]\r\nk = old ; x \r\nz=1\r\n", u"S", u"K", u"new",
       "[s]\r\nk = new \r\nz=1\r\n"},
      {"replace empty", "[s]\nk=\n", u"s", u"k", u"v", "[s]\nk=v\n"},
      {"key without '='", "[s]\n  k  \n", u"s", u"k", u"v", "[s]\n  k=v  \n"},
      {"first section, first key", "[s]\nk=1\nk=2\n[s]\nk=3\n", u"s", u"k", u"9",
       "[s]\nk=9\nk=2\n[s]\nk=3\n"},
      {"leading space dropped", "[s]\nk=1\n", u"s", u"k", u" \t v", "[s]\nk=v\n"},
      {"add after last line", "[s]\r\na=1\r\n\r\n;c\r\n\r\n[t]\r\n", u"s", u"b", u"2",
       "[s]\r\na=1\r\n\r\n;c\r\nb=2\r\n\r\n[t]\r\n"},
      {"add to an empty section", "[s]\n[t]\n", u"s", u"b", u"2", "[s]\nb=2\n[t]\n"},
      {"add at the end", "[s]\na=1", u"s", u"b", u"2", "[s]\na=1\nb=2\n"},
      {"add section, CR", "[s]\ra=1\r", u"t", u"k", u"v", "[s]\ra=1\r[t]\rk=v\r"},
      {"add section, no final break", "[s]\r\na=1", u"t", u"k", u"v",
       "[s]\r\na=1\r\n[t]\r\nk=v\r\n"},
      {"empty file", "", u"t", u"k", u"v", "[t]\r\nk=v\r\n"},
      {"new file", std::nullopt, u" t ", u" k ", u"v", "[t]\r\nk=v\r\n"},
      {"UTF-8 text", "\xEF\xBB\xBF[s]\n", u"s", u"k", u"\u00E9\U0001F3AE",
       "\xEF\xBB\xBF[s]\nk=\xC3\xA9\xF0\x9F\x8E\xAE\n"},
      {"UTF-16LE", Utf16Le(u"[s]\r\na=1\r\n"), u"s", u"b", u"\u00E9",
       Utf16Le(u"[s]\r\na=1\r\nb=\u00E9\r\n")},
      {"UTF-16BE new section", Utf16(u"[s]\n", false), u"t", u"k", u"v",
       Utf16(u"[s]\n[t]\nk=v\n", false)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(File());
    if (c.before) {
      WriteFileBytes(File(), *c.before);
    }
    EXPECT_TRUE(WriteValue(c.section, c.key, c.value));
    EXPECT_EQ(ReadFileBytes(File()), c.after);
  }
}

TEST_F(ProfileEngineTest, RefusesValuesThatWouldNotReadBack) {
  const std::string before = "[s]\nk=1\n";
  WriteFileBytes(File(), before);
  struct Case {
    std::u16string section;
    std::u16string key;
    std::u16string value;
  };
  const Case cases[] = {{u"", u"k", u"v"},     {u" ", u"k", u"v"},     {u"s", u"", u"v"},
                        {u"s", u"a=b", u"v"},  {u"s", u"[k]", u"v"},   {u"s\nt", u"k", u"v"},
                        {u"s", u"k\rj", u"v"}, {u"s", u"k", u"v\nw=1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.section + u"|" + c.key + u"|" + c.value));
    EXPECT_FALSE(WriteValue(c.section, c.key, c.value));
    {
      RunScope run;
      EXPECT_FALSE(WriteValue(c.section, c.key, c.value));
    }
    EXPECT_EQ(ReadFileBytes(File()), before);
  }
}

TEST_F(ProfileEngineTest, FollowsSymbolicLinks) {
  fs::create_directory(File("real"));
  WriteFileBytes(File("real") / "target.ini", "[a]\nx=1\n[b]\n");
  fs::create_symlink("real/target.ini", File("link.ini"));
  fs::create_symlink("link.ini", File("chain.ini"));

  EXPECT_TRUE(Delete(u"a", "chain.ini"));
  EXPECT_TRUE(fs::is_symlink(File("link.ini")));
  EXPECT_TRUE(fs::is_symlink(File("chain.ini")));
  EXPECT_EQ(fs::read_symlink(File("link.ini")), "real/target.ini");
  EXPECT_EQ(ReadFileBytes(File("real") / "target.ini"), "[b]\n");

  // A dangling link gets its target created, as writing through it would.
  fs::create_symlink("real/new.ini", File("dangling.ini"));
  EXPECT_TRUE(Delete(u"a", "dangling.ini"));  // nothing to delete: nothing created
  EXPECT_FALSE(fs::exists(File("real") / "new.ini"));
  EXPECT_TRUE(WriteValue(u"s", u"k", u"v", "dangling.ini"));
  EXPECT_TRUE(fs::is_symlink(File("dangling.ini")));
  EXPECT_EQ(ReadFileBytes(File("real") / "new.ini"), "[s]\r\nk=v\r\n");
  // No temporary file left anywhere.
  EXPECT_EQ(FolderEntries().size(), 4u);
  EXPECT_EQ(FolderEntries("real").size(), 2u);
}

TEST_F(ProfileEngineTest, KeepsPermissionBits) {
  for (const fs::perms mode : {fs::perms(0600), fs::perms(0640), fs::perms(0754)}) {
    SCOPED_TRACE(static_cast<int>(mode));
    WriteFileBytes(File(), "[a]\n[b]\n");
    fs::permissions(File(), mode);
    EXPECT_TRUE(Delete(u"a"));
    EXPECT_EQ(ReadFileBytes(File()), "[b]\n");
    EXPECT_EQ(fs::status(File()).permissions(), mode);
  }
  const mode_t mask = umask(027);
  EXPECT_TRUE(WriteValue(u"s", u"k", u"v", "new.ini"));
  umask(mask);
  EXPECT_EQ(fs::status(File("new.ini")).permissions(), fs::perms(0640));
}

TEST_F(ProfileEngineTest, ReplacesTheFileAtomically) {
  WriteFileBytes(File(), "[a]\n[b]\n");
  struct stat before {};
  ASSERT_EQ(stat(File().c_str(), &before), 0);
  EXPECT_TRUE(Delete(u"a"));
  struct stat after {};
  ASSERT_EQ(stat(File().c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);  // a new file took the name
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"test.ini"});

  // Nothing to change: the file is not rewritten.
  EXPECT_TRUE(Delete(u"a"));
  struct stat unchanged {};
  ASSERT_EQ(stat(File().c_str(), &unchanged), 0);
  EXPECT_EQ(unchanged.st_ino, after.st_ino);
}

TEST_F(ProfileEngineTest, RewritesInPlaceInAReadOnlyFolder) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "permissions do not bind root; see the injected case";
  }
  WriteFileBytes(File(), "[a]\nx=1\n[b]\n");
  struct stat before {};
  ASSERT_EQ(stat(File().c_str(), &before), 0);
  fs::permissions(folder_.path(), fs::perms(0555));
  EXPECT_TRUE(Delete(u"a"));
  EXPECT_TRUE(WriteValue(u"b", u"k", u"a longer value than before"));
  fs::permissions(folder_.path(), fs::perms(0755));
  EXPECT_EQ(ReadFileBytes(File()), "[b]\nk=a longer value than before\n");
  struct stat after {};
  ASSERT_EQ(stat(File().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
}

// ---- Failures, injected through the call table ----

enum class Fault {
  kNone,
  kCreateDenied,    // EACCES on the exclusive create: in-place rewrite instead
  kCreateReadOnly,  // EROFS likewise
  kShortWrites,     // one byte at a time: still complete
  kInterrupted,     // EINTR before every write and fsync: still complete
  kNoSpace,         // ENOSPC on every write
  kFsync,           // EIO on fsync
  kClose,           // EIO when the written file is closed
  kRename,          // EXDEV on rename
  kLock,            // ENOLCK on flock
  kInPlaceFails,    // create denied, then the in-place rewrite fails after a partial write
};

struct FaultState {
  Fault fault = Fault::kNone;
  int writes = 0;
  bool interrupted = false;
};
FaultState faultState;

const posix::FileSystemCalls& Real() { return posix::RealFileSystemCalls(); }

bool Interrupt() {
  if (faultState.fault != Fault::kInterrupted) {
    return false;
  }
  faultState.interrupted = !faultState.interrupted;
  if (faultState.interrupted) {
    errno = EINTR;
  }
  return faultState.interrupted;
}

posix::FileSystemCalls FaultyCalls() {
  posix::FileSystemCalls calls = Real();
  calls.open = [](const char* path, int flags, mode_t mode) {
    const Fault f = faultState.fault;
    if ((flags & O_EXCL) != 0 &&
        (f == Fault::kCreateDenied || f == Fault::kCreateReadOnly || f == Fault::kInPlaceFails)) {
      errno = f == Fault::kCreateReadOnly ? EROFS : EACCES;
      return -1;
    }
    return Real().open(path, flags, mode);
  };
  calls.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
    if (Interrupt()) {
      return -1;
    }
    if (faultState.fault == Fault::kNoSpace) {
      errno = ENOSPC;
      return -1;
    }
    const bool shortWrites = faultState.fault == Fault::kShortWrites && count > 0;
    return Real().write(fd, buffer, shortWrites ? 1 : count);
  };
  calls.pwrite = [](int fd, const void* buffer, size_t count, off_t offset) -> ssize_t {
    if (Interrupt()) {
      return -1;
    }
    if (faultState.fault == Fault::kInPlaceFails) {
      const int write = ++faultState.writes;
      if (write == 1) {
        count = std::min<size_t>(count, 8);
      }
      if (write == 2) {
        errno = ENOSPC;
        return -1;
      }
    }
    const bool shortWrites = faultState.fault == Fault::kShortWrites && count > 0;
    return Real().pwrite(fd, buffer, shortWrites ? 1 : count, offset);
  };
  calls.fsync = [](int fd) {
    if (Interrupt()) {
      return -1;
    }
    if (faultState.fault == Fault::kFsync) {
      errno = EIO;
      return -1;
    }
    return Real().fsync(fd);
  };
  calls.close = [](int fd) {
    const int result = Real().close(fd);
    if (faultState.fault == Fault::kClose && result == 0) {
      errno = EIO;
      return -1;
    }
    return result;
  };
  calls.rename = [](const char* from, const char* to) {
    if (faultState.fault == Fault::kRename) {
      errno = EXDEV;
      return -1;
    }
    return Real().rename(from, to);
  };
  calls.flock = [](int fd, int operation) {
    if (faultState.fault == Fault::kLock) {
      errno = ENOLCK;
      return -1;
    }
    return Real().flock(fd, operation);
  };
  return calls;
}

class ProfileFaultTest : public ProfileEngineTest {
 protected:
  void TearDown() override { faultState = {}; }
};

TEST_F(ProfileFaultTest, AFailedReplacementLeavesTheFileAsItWas) {
  struct Case {
    const char* name;
    Fault fault;
    bool succeeds;
    bool sameInode;  // rewritten in place
  };
  const Case cases[] = {
      {"no fault", Fault::kNone, true, false},
      {"create denied", Fault::kCreateDenied, true, true},
      {"read-only mount", Fault::kCreateReadOnly, true, true},
      {"short writes", Fault::kShortWrites, true, false},
      {"interrupted calls", Fault::kInterrupted, true, false},
      {"disk full", Fault::kNoSpace, false, true},
      {"fsync fails", Fault::kFsync, false, true},
      {"close fails", Fault::kClose, false, true},
      {"rename fails", Fault::kRename, false, true},
      {"lock fails", Fault::kLock, false, true},
  };
  // Large enough to take several writes when they are cut short.
  std::string before = "[gone]\r\nx=1\r\n";
  for (int i = 0; i < 50; ++i) {
    before += "[s" + std::to_string(i) + "]\r\nk=v\r\n";
  }
  const std::string after = before.substr(13);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(File(), before);
    struct stat original {};
    ASSERT_EQ(stat(File().c_str(), &original), 0);
    faultState = {.fault = c.fault};
    {
      posix::ScopedFileSystemCalls faulty(FaultyCalls());
      EXPECT_EQ(Delete(u"gone"), c.succeeds);
    }
    faultState = {};
    EXPECT_EQ(ReadFileBytes(File()), c.succeeds ? after : before);
    struct stat now {};
    ASSERT_EQ(stat(File().c_str(), &now), 0);
    EXPECT_EQ(now.st_ino == original.st_ino, c.sameInode);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"test.ini"});
  }
}

TEST_F(ProfileFaultTest, AFailedInPlaceRewriteRestoresTheOldContent) {
  const std::string before = "[a]\nx=1\n[b]\n";
  WriteFileBytes(File(), before);
  faultState = {.fault = Fault::kInPlaceFails};
  {
    posix::ScopedFileSystemCalls faulty(FaultyCalls());
    EXPECT_FALSE(WriteValue(u"a", u"x", u"changed"));
  }
  EXPECT_EQ(faultState.writes, 3);  // part of the new text, the failure, the old text
  EXPECT_EQ(ReadFileBytes(File()), before);
}

// ---- Runs ----

TEST_F(ProfileEngineTest, ARunAppliesItsChangesOnceAtTheEnd) {
  const std::string before = "[keep]\r\nk=1\r\n[gone]\r\nk=2\r\n";
  WriteFileBytes(File(), before);
  RunScope run;
  EXPECT_EQ(Sections(), (std::vector<std::u16string>{u"keep", u"gone"}));
  EXPECT_TRUE(Delete(u"gone"));
  EXPECT_TRUE(WriteValue(u"keep", u"added", u"3"));
  EXPECT_TRUE(Delete(u"never there"));
  EXPECT_EQ(Sections(), std::vector<std::u16string>{u"keep"});
  EXPECT_EQ(Read(u"gone", u"k"), kDefault);
  EXPECT_EQ(Read(u"keep", u"added"), u"3");
  EXPECT_EQ(ReadFileBytes(File()), before);  // untouched until the end

  run.End();
  EXPECT_EQ(ReadFileBytes(File()), "[keep]\r\nk=1\r\nadded=3\r\n");
}

TEST_F(ProfileEngineTest, ARunMergesWithWhatAnotherWriterAddedMeanwhile) {
  WriteFileBytes(File(), "[old]\nk=1\n[gone]\nk=2\n");
  RunScope run;
  EXPECT_EQ(Read(u"gone", u"k"), u"2");
  EXPECT_TRUE(Delete(u"gone"));
  // Another writer adds a session while the run goes on.
  WriteFileBytes(File(), "[old]\nk=1\n[gone]\nk=2\n[new]\nk=3\n");
  EXPECT_EQ(Read(u"new", u"k"), u"3");       // the changed file is parsed again...
  EXPECT_EQ(Read(u"gone", u"k"), kDefault);  // ...with the run's deletions
  run.End();
  EXPECT_EQ(ReadFileBytes(File()), "[old]\nk=1\n[new]\nk=3\n");
}

// At its end a run compares the file with the copy it parsed, block by block, and writes
// its own copy only when they are equal; any difference, wherever it lies, makes the
// deletion apply to what the file holds then.
struct EndOfRunCase {
  const char* name;
  size_t fillerSize;                         // the value of [keep], to span several compared blocks
  std::function<void(std::string&)> change;  // what another writer does meanwhile
};

TEST_F(ProfileEngineTest, ARunEndsOnTheFileAsItIsThen) {
  const std::vector<EndOfRunCase> cases = {
      {"unchanged", 10, [](std::string&) {}},
      {"first byte of the rest", 10, [](std::string& bytes) { bytes[bytes.find('x')] = 'y'; }},
      {"same size, a later block", 3 << 20, [](std::string& bytes) { bytes[(5 << 20) / 2] = 'y'; }},
      {"same size, last byte", 2 << 20, [](std::string& bytes) { bytes.back() = '\r'; }},
      {"grown", 10, [](std::string& bytes) { bytes += "[new]\nk=3\n"; }},
      {"shrunk", 2 << 20, [](std::string& bytes) { bytes.erase(bytes.size() - 2, 1); }},
  };
  const std::string gone = "[gone]\nk=1\n";
  for (const EndOfRunCase& row : cases) {
    SCOPED_TRACE(row.name);
    const std::string rest = "[keep]\nv=" + std::string(row.fillerSize, 'x') + "\n";
    WriteFileBytes(File(), gone + rest);
    std::string changed = rest;
    {
      RunScope run;
      EXPECT_EQ(Read(u"gone", u"k"), u"1");
      EXPECT_TRUE(Delete(u"gone"));
      std::string meanwhile = gone + rest;
      row.change(meanwhile);
      WriteFileBytes(File(), meanwhile);
      changed = meanwhile.substr(gone.size());
    }
    EXPECT_TRUE(ReadFileBytes(File()) == changed);
  }
}

// A run makes many deletions in one pass over the sections, at the next use of its copy
// or at its end; the result must be that of deleting one after another, and a deletion
// that found nothing is not made later on a section another writer added.
TEST_F(ProfileEngineTest, ManyDeletionsInARunActAsOneAfterAnother) {
  const auto section = [](const std::string& name, const std::string& value) {
    return "[" + name + "]\nk=" + value + "\n";
  };
  std::string before;
  for (int i = 0; i < 100; ++i) before += section("s" + std::to_string(i), std::to_string(i));
  before += section("dup", "first") + section("Mixed", "m") + section("DUP", "second") +
            section("dup", "third");
  WriteFileBytes(File(), before);

  std::vector<std::u16string> requests;
  requests.reserve(85);
  for (int i = 0; i < 80; ++i) requests.push_back(ToU16("s" + std::to_string((i * 37) % 80)));
  requests.insert(requests.end(), {u"Dup", u"mIXED", u"absent", u"dup", u"s3"});
  RunScope run;
  EXPECT_EQ(Read(u"s3", u"k"), u"3");
  for (const auto& request : requests) EXPECT_TRUE(Delete(request));
  // The next use of the copy sees every deletion.
  EXPECT_EQ(Read(u"s3", u"k"), kDefault);
  EXPECT_EQ(Read(u"s79", u"k"), kDefault);
  EXPECT_EQ(Read(u"s80", u"k"), u"80");
  EXPECT_EQ(Read(u"dup", u"k"), u"third");
  EXPECT_EQ(Sections().size(), 21U);
  // Another writer adds the section that was not there to delete.
  std::string meanwhile = before + section("absent", "new");
  WriteFileBytes(File(), meanwhile);
  run.End();

  std::string expected;
  for (int i = 80; i < 100; ++i) expected += section("s" + std::to_string(i), std::to_string(i));
  expected += section("dup", "third") + section("absent", "new");
  EXPECT_EQ(ReadFileBytes(File()), expected);
}

TEST_F(ProfileEngineTest, ARunSeesAChangeOfModificationTimeAlone) {
  WriteFileBytes(File(), "[s]\nk=1\n");
  RunScope run;
  EXPECT_EQ(Read(u"s", u"k"), u"1");
  WriteFileBytes(File(), "[s]\nk=2\n");  // same size, same inode
  fs::last_write_time(File(), fs::last_write_time(File()) + std::chrono::seconds(5));
  EXPECT_EQ(Read(u"s", u"k"), u"2");
}

TEST_F(ProfileEngineTest, ARunKeepsNothingAfterItsEnd) {
  WriteFileBytes(File(), "[a]\n[b]\n");
  {
    RunScope run;
    EXPECT_TRUE(Delete(u"a"));
  }
  // A later run starts from the file, with no deletion left over.
  WriteFileBytes(File(), "[a]\n[b]\n");
  {
    RunScope run;
    EXPECT_EQ(Sections(), (std::vector<std::u16string>{u"a", u"b"}));
  }
  EXPECT_EQ(ReadFileBytes(File()), "[a]\n[b]\n");
  posix::ProfileEndRun();  // an unmatched end is harmless
  EXPECT_TRUE(Delete(u"a"));
  EXPECT_EQ(ReadFileBytes(File()), "[b]\n");
}

TEST_F(ProfileFaultTest, AFailedReplacementAtTheEndOfARunLeavesTheFile) {
  const std::string before = "[a]\n[b]\n";
  WriteFileBytes(File(), before);
  {
    RunScope run;
    EXPECT_TRUE(Delete(u"a"));
    faultState = {.fault = Fault::kRename};
    posix::ScopedFileSystemCalls faulty(FaultyCalls());
    run.End();
  }
  EXPECT_EQ(ReadFileBytes(File()), before);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"test.ini"});
}

}  // namespace
}  // namespace psrl::platform
