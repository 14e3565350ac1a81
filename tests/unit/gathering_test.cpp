// Gathering against real store files and real live sessions.
#include "report/gathering.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "files/profile_access.h"
#include "platform/platform.h"
#include "platform/session_event_owner.h"
#include "support/platform_cases.h"
#include "support/store_file.h"
#include "support/temp_folder.h"

namespace psrl {
namespace {

using psrl::testing::AppliesHere;
using psrl::testing::Platforms;
using psrl::testing::TempFolder;
using psrl::testing::ToU16;
using psrl::testing::Utf16LeWithBom;
using psrl::testing::WriteFileBytes;

struct ExpectedAggregate {
  std::u16string key;
  int32_t userId;
  std::u16string gameName;
  std::u16string gameModuleName;
  std::u16string gameFullPath;
  std::u16string startTime;
  uint32_t totalTime;
  uint32_t timeWithoutIG;
  uint32_t sessionCount;
  uint32_t sessionsWithoutIG;
  uint32_t errorSessions;
  std::vector<std::u16string> sectionNames;
};

struct GatheringCase {
  const char* name;
  std::string store;
  int32_t defaultUserId;
  std::vector<ExpectedAggregate> expected;  // in key order
  Platforms platforms = Platforms::kAll;
};

AggregateTable Gather(const std::string& storeBytes, int32_t defaultUserId) {
  TempFolder folder;
  WriteFileBytes(folder / "plg.dat", storeBytes);
  const auto store = ToU16(folder / "plg.dat");
  AggregateTable table;
  platform::BeginRun();
  GatherSessions(store, ReadSectionNames(store), defaultUserId, table);
  platform::EndRun();
  return table;
}

void ExpectTable(const AggregateTable& table, const std::vector<ExpectedAggregate>& expected) {
  ASSERT_EQ(table.size(), expected.size());
  auto actual = table.begin();
  for (const auto& want : expected) {
    const auto& [key, got] = *actual++;
    EXPECT_EQ(key, want.key);
    EXPECT_EQ(got.userId, want.userId);
    EXPECT_EQ(got.gameName, want.gameName);
    EXPECT_EQ(got.gameModuleName, want.gameModuleName);
    EXPECT_EQ(got.gameFullPath, want.gameFullPath);
    EXPECT_EQ(got.startTime, want.startTime);
    EXPECT_EQ(got.totalTime, want.totalTime);
    EXPECT_EQ(got.timeWithoutIG, want.timeWithoutIG);
    EXPECT_EQ(got.sessionCount, want.sessionCount);
    EXPECT_EQ(got.sessionsWithoutIG, want.sessionsWithoutIG);
    EXPECT_EQ(got.errorSessions, want.errorSessions);
    EXPECT_EQ(got.sectionNames, want.sectionNames);
  }
}

TEST(GatheringTest, FoldsSessionsPerGameAndUser) {
  const GatheringCase cases[] = {
      {"path case folded, the first session's case kept",
       "[s1]\nUserID=3\nGameName=Doom\nGameFullPath=C:\\Games\\DOOM\\\nGameModuleName=Doom.EXE\n"
       "StartTime=2024-01-02\nGamingTime=10\n"
       "[s2]\nUserID=3\nGameName=Other\nGameFullPath=c:\\games\\doom\\\nGameModuleName=doom.exe\n"
       "StartTime=2024-01-01\nGamingTime=5\n",
       0,
       {{u"c:\\games\\doom\\doom.exe3",
         3,
         u"Doom",
         u"Doom.EXE",
         u"C:\\Games\\DOOM\\",
         u"2024-01-01",
         15,
         15,
         2,
         2,
         0,
         {u"s1", u"s2"}}}},
      {"two users of one game, user 0 joins the default user",
       "[a]\nUserID=7\nGameFullPath=/g/\nGamingTime=1\n"
       "[b]\nUserID=8\nGameFullPath=/g/\nGamingTime=2\n"
       "[c]\nUserID=0\nGameFullPath=/g/\nGamingTime=4\n",
       7,
       {{u"/g/7", 7, u"", u"", u"/g/", u"", 5, 5, 2, 2, 0, {u"a", u"c"}},
        {u"/g/8", 8, u"", u"", u"/g/", u"", 2, 2, 1, 1, 0, {u"b"}}}},
      {"path and module joined without a separator",
       "[x]\nUserID=1\nGameFullPath=C:\\Games\\A\nGameModuleName=b.exe\n"
       "[y]\nUserID=1\nGameFullPath=C:\\Games\\Ab\nGameModuleName=.exe\n",
       0,
       {{u"c:\\games\\ab.exe1",
         1,
         u"",
         u"b.exe",
         u"C:\\Games\\A",
         u"",
         0,
         0,
         2,
         2,
         0,
         {u"x", u"y"}}}},
      {"non-ASCII letters keep their case (UTF-8, the ANSI code page on Linux only)",
       "[x]\nUserID=1\nGameFullPath=/\xC3\x84/\n"   // Ä
       "[y]\nUserID=1\nGameFullPath=/\xC3\xA4/\n",  // ä
       0,
       {{u"/\u00C4/1", 1, u"", u"", u"/\u00C4/", u"", 0, 0, 1, 1, 0, {u"x"}},
        {u"/\u00E4/1", 1, u"", u"", u"/\u00E4/", u"", 0, 0, 1, 1, 0, {u"y"}}},
       Platforms::kLinuxOnly},
      {"non-ASCII letters keep their case (UTF-16)",
       Utf16LeWithBom(
           u"[x]\nUserID=1\nGameFullPath=/\u00C4/\n[y]\nUserID=1\nGameFullPath=/\u00E4/\n"),
       0,
       {{u"/\u00C4/1", 1, u"", u"", u"/\u00C4/", u"", 0, 0, 1, 1, 0, {u"x"}},
        {u"/\u00E4/1", 1, u"", u"", u"/\u00E4/", u"", 0, 0, 1, 1, 0, {u"y"}}}},
      {"a placeholder name is replaced by the next session's, whatever it is",
       "[a]\nUserID=1\nGameName=Unknown_0042\n"
       "[b]\nUserID=1\nGameName=Unknown_0043\n"
       "[c]\nUserID=1\n"
       "[d]\nUserID=1\nGameName=Late\n",
       0,
       {{u"1", 1, u"", u"", u"", u"", 0, 0, 4, 4, 0, {u"a", u"b", u"c", u"d"}}}},
      {"a lower-case placeholder is a real name",
       "[a]\nUserID=1\nGameName=unknown_0042\n[b]\nUserID=1\nGameName=Real\n",
       0,
       {{u"1", 1, u"unknown_0042", u"", u"", u"", 0, 0, 2, 2, 0, {u"a", u"b"}}}},
      {"a real name stays",
       "[a]\nUserID=1\nGameName=First\n[b]\nUserID=1\nGameName=Unknown_1\n",
       0,
       {{u"1", 1, u"First", u"", u"", u"", 0, 0, 2, 2, 0, {u"a", u"b"}}}},
      {"an empty start time wins",
       "[a]\nUserID=1\nStartTime=2024\n[b]\nUserID=1\n[c]\nUserID=1\nStartTime=2023\n",
       0,
       {{u"1", 1, u"", u"", u"", u"", 0, 0, 3, 3, 0, {u"a", u"b", u"c"}}}},
      {"activation and error tallies",
       "[a]\nUserID=1\nIGActived=1\nGamingTime=30\nErrorCode=5\n",
       0,
       {{u"1", 1, u"", u"", u"", u"", 30, 0, 1, 0, 1, {u"a"}}}},
      {"any non-zero flag or error counts",
       "[a]\nUserID=1\nIGActived=-1\nGamingTime=30\nErrorCode=-2\n"
       "[b]\nUserID=1\nIGActived=0\nGamingTime=12\nErrorCode=0\n",
       0,
       {{u"1", 1, u"", u"", u"", u"", 42, 12, 2, 1, 1, {u"a", u"b"}}}},
      {"a section without keys belongs to the default user",
       "[empty]\n",
       -4,
       {{u"-4", -4, u"", u"", u"", u"", 0, 0, 1, 1, 0, {u"empty"}}}},
      {"sums wrap around past 2^32",
       "[a]\nUserID=1\nGamingTime=4294967295\n[b]\nUserID=1\nGamingTime=2\n",
       0,
       {{u"1", 1, u"", u"", u"", u"", 1, 1, 2, 2, 0, {u"a", u"b"}}}},
      {"user 10 orders before user 9",
       "[nine]\nUserID=9\nGameFullPath=/g/\n[ten]\nUserID=10\nGameFullPath=/g/\n",
       0,
       {{u"/g/10", 10, u"", u"", u"/g/", u"", 0, 0, 1, 1, 0, {u"ten"}},
        {u"/g/9", 9, u"", u"", u"/g/", u"", 0, 0, 1, 1, 0, {u"nine"}}}},
  };
  for (const auto& testCase : cases) {
    if (!AppliesHere(testCase.platforms)) continue;
    SCOPED_TRACE(testCase.name);
    ExpectTable(Gather(testCase.store, testCase.defaultUserId), testCase.expected);
  }
}

TEST(GatheringTest, LeavesLiveSessionsOut) {
  const std::string store =
      "[done-1]\nUserID=1\nGameFullPath=/g/\nGamingTime=10\nStartTime=B\n"
      "[running-2]\nUserID=1\nGameFullPath=/g/\nGamingTime=500\nStartTime=A\n"
      "[done-3]\nUserID=1\nGameFullPath=/g/\nGamingTime=20\nStartTime=C\n";
  platform::SessionEventOwner running(u"running-2");
  ASSERT_TRUE(running.valid());
  ExpectTable(Gather(store, 0),
              {{u"/g/1", 1, u"", u"", u"/g/", u"B", 30, 30, 2, 2, 0, {u"done-1", u"done-3"}}});
}

TEST(GatheringTest, EveryLiveSessionLeavesTheTableEmpty) {
  platform::SessionEventOwner first(u"first");
  platform::SessionEventOwner second(u"second");
  ASSERT_TRUE(first.valid() && second.valid());
  EXPECT_TRUE(Gather("[first]\nUserID=1\n[second]\nUserID=2\n", 0).empty());
}

}  // namespace
}  // namespace psrl
