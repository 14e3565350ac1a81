// psrl sessions (the table and the tallies, reading only) and psrl add (sessions written
// as the recorder writes them, checked by reporting them).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/session_event_owner.h"
#include "support/platform_cases.h"
#include "support/store_file.h"
#include "support/temp_folder.h"
#include "tool/tool_fixture.h"

namespace psrl::testing {
namespace {

class SessionsTest : public ToolTest {};

TEST_F(SessionsTest, TableOfSessionsThenTallies) {
  WriteStore(SampleContent());
  const platform::SessionEventOwner racerRunning(ToU16(Name("S3")));
  ASSERT_TRUE(racerRunning.valid());
  const auto outcome = RunOnFolder("sessions");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, "");
  // Columns line up by characters: "Café Racer" is ten wide, though eleven bytes.
  const std::string s1 = Name("S1");
  const std::string s2 = Name("S2");
  const std::string s3 = Name("S3");
  EXPECT_EQ(outcome.out,
            "Sessions in '" + InDir("plg.dat") + "': 3 (1 live)\n" + "SECTION" +
                std::string(s1.size() - 5, ' ') +
                "STATE     USER  GAME        STARTED  SECONDS  FLAGS\n" + s1 +
                "  finished  5     Chess       T2       120      -\n" + s2 +
                "  finished  5     Chess       T1       100      IG error=4\n" + s3 +
                "  live      0     Caf\xC3\xA9 Racer  T3       60       -\n"
                "\n"
                "Tallies a report would make now: 1\n"
                "user;game;module;path;first start;seconds;seconds without IG;sessions;"
                "sessions without IG;sessions with an error\n" +
                kChessLine.substr(0, kChessLine.size() - 2) + "\n");
  ExpectStore(SampleContent());
}

TEST_F(SessionsTest, EmptyOrSwitchedOff) {
  struct Case {
    std::string name;
    StoreContent store;
    std::string control;
    std::vector<std::string> expectedLines;
  };
  const std::vector<Case> cases = {
      {"no store",
       {},
       "",
       {"No sessions in '" + InDir("plg.dat") + "'.", "Tallies a report would make now: 0"}},
      {"switched off",
       SampleContent(),
       "[Ctrl]\r\nUploadPSR=0\r\n",
       {"Sessions in '" + InDir("plg.dat") + "': 3 (0 live)",
        "Reporting is switched off (UploadPSR=0 in '" + InDir("psrl.ini") +
            "'): a report now delivers nothing."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.store.empty()) {
      WriteStore(c.store);
    }
    if (!c.control.empty()) {
      WriteControl(c.control);
    }
    const auto outcome = RunOnFolder("sessions");
    EXPECT_EQ(outcome.status, 0);
    for (const auto& line : c.expectedLines) {
      EXPECT_NE(outcome.out.find(line + "\n"), std::string::npos) << outcome.out;
    }
    EXPECT_EQ(outcome.out.find("user;game;"), std::string::npos) << outcome.out;
    if (!c.store.empty()) {
      ExpectStore(c.store);
    }
  }
}

class AddTest : public ToolTest {};

TEST_F(AddTest, WrittenSessionsAreReported) {
  // Into a folder without a store; then a second session and a change to the first.
  const std::vector<std::vector<std::string>> additions = {
      {Name("A"), "UserID=5", "GameName=Chess", "GameModuleName=chess.exe", "GameFullPath=C:\\G\\",
       "StartTime=T2", "GamingTime=120"},
      {Name("B"), "UserID=5", "GameName=\"Chess\"", "GameModuleName=chess.exe",
       "GameFullPath=C:\\G\\", "StartTime=T1", "GamingTime=100", "IGActived=1"},
      {Name("A"), "ErrorCode=4", "gamingtime=  20  "},
  };
  for (const auto& addition : additions) {
    SCOPED_TRACE(addition[0]);
    std::vector<std::string> arguments = {"add", "--dir", Dir()};
    arguments.insert(arguments.end(), addition.begin(), addition.end());
    const auto outcome = RunTool(arguments);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "psrl: wrote session '" + addition[0] + "' (" +
                               std::to_string(addition.size() - 1) + " keys) to '" +
                               InDir("plg.dat") + "'\n");
  }
  const auto report = RunOnFolder("report");
  EXPECT_EQ(report.out, "5;Chess;chess.exe;C:\\G\\;T1;120;20;2;1;1\r\n");
  ExpectStore({});
}

TEST_F(AddTest, KeepsTheRestOfTheStore) {
  WriteStore(SampleContent());
  const auto outcome = RunOnFolder("add", {Name("S4"), "UserID=7", "GameModuleName=m.exe"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  StoreContent expected = SampleContent();
  expected.push_back({Name("S4"), {{"UserID", "7"}, {"GameModuleName", "m.exe"}}});
  ExpectStore(expected);
  if (AppliesHere(Platforms::kLinuxOnly)) {
    // The Linux engine keeps the bytes of the sections that were there.
    const std::string store = Store();
    EXPECT_EQ(store.substr(0, SampleStore().size()), SampleStore());
    EXPECT_NE(store.find("[" + Name("S4") + "]"), std::string::npos);
  }
}

}  // namespace
}  // namespace psrl::testing
