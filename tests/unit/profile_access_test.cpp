// The buffer rules of profile access over the platform's profile services: the same code
// grows its buffers against the Linux engine and against the Windows functions.
#include "files/profile_access.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace psrl {
namespace {

using psrl::testing::TempFolder;
using psrl::testing::ToU16;
using psrl::testing::WriteFileBytes;

// Distinct section names of at least 20 characters whose list, with one zero after each
// name, takes exactly `listLength` characters (at least 21).
std::vector<std::u16string> NamesFillingList(size_t listLength) {
  constexpr size_t kLength = 20;
  std::vector<std::u16string> names;
  size_t left = listLength;
  while (left > 0) {
    // The last name takes whatever is left, so that it is never too short to be distinct.
    const size_t length = left >= 2 * (kLength + 1) ? kLength : left - 1;
    auto name = ToU16(std::to_string(names.size()));
    name.insert(0, length - name.size(), u's');
    names.push_back(name);
    left -= length + 1;
  }
  return names;
}

TEST(ProfileAccessTest, SectionNamesGrowTheirBufferUntilTheListFits) {
  // The first buffer holds 1024 characters: lists around that size end exactly at, just
  // before and just after its end; a long one takes several doublings.
  for (const size_t listLength : {1021U, 1022U, 1023U, 1024U, 1025U, 2046U, 70000U}) {
    SCOPED_TRACE(listLength);
    const auto names = NamesFillingList(listLength);
    std::string file;
    for (const auto& name : names) file += "[" + psrl::testing::ToUtf8(name) + "]\r\nk=v\r\n";
    TempFolder folder;
    WriteFileBytes(folder / "names.ini", file);
    EXPECT_EQ(ReadSectionNames(ToU16(folder / "names.ini")), names);
  }
}

TEST(ProfileAccessTest, StringValuesAreCutTo259Characters) {
  TempFolder folder;
  const auto file = ToU16(folder / "values.ini");
  std::string text = "[S]\r\n";
  for (const size_t length : {258U, 259U, 260U, 1000U}) {
    text += "v" + std::to_string(length) + "=" + std::string(length, 'x') + "\r\n";
  }
  WriteFileBytes(folder / "values.ini", text);
  for (const size_t length : {258U, 259U, 260U, 1000U}) {
    SCOPED_TRACE(length);
    const auto key = ToU16("v" + std::to_string(length));
    EXPECT_EQ(ReadProfileString(u"S", key.c_str(), u"", file),
              std::u16string(std::min<size_t>(length, kMaxProfileValueLength), u'x'));
  }
  EXPECT_EQ(ReadProfileString(u"S", u"missing", u"fallback", file), u"fallback");
  EXPECT_EQ(ReadProfileString(u"S", u"missing", u"", file), u"");
}

TEST(ProfileAccessTest, MissingFilesReadAsDefaultsAndNoSections) {
  TempFolder folder;
  const auto file = ToU16(folder / "absent.ini");
  EXPECT_EQ(ReadSectionNames(file), std::vector<std::u16string>{});
  EXPECT_EQ(ReadProfileInt(u"S", u"k", -7, file), -7);
  EXPECT_EQ(ReadProfileString(u"S", u"k", u"d", file), u"d");
  EXPECT_FALSE(std::filesystem::exists(folder / "absent.ini"));
}

}  // namespace
}  // namespace psrl
