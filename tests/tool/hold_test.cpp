// psrl hold: sessions kept live while a command runs or until interrupted, so that
// reports leave them alone; and a session that someone else holds.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/session_event_owner.h"
#include "support/platform_cases.h"
#include "support/temp_folder.h"
#include "tool/tool_fixture.h"

namespace psrl::testing {
namespace {

class HoldTest : public ToolTest {};

TEST_F(HoldTest, CommandRunsWhileTheSessionIsLive) {
  WriteStore(SampleContent());
  const auto held = RunTool({"hold", Name("S3"), "--", ToolPath(), "report", "--dir", Dir()});
  EXPECT_EQ(held.status, 0);
  EXPECT_EQ(held.out, kChessLine);
  EXPECT_NE(held.err.find("psrl: holding '" + Name("S3") + "' while '" + ToolPath() + "'"),
            std::string::npos)
      << held.err;
  EXPECT_NE(held.err.find("1 live session skipped"), std::string::npos) << held.err;
  ExpectStore(RacerContent());

  // Released when the command ends: the next report takes it.
  EXPECT_EQ(RunOnFolder("report").out, kRacerLine);
}

TEST_F(HoldTest, ExitsWithTheCommandsStatus) {
  struct Case {
    std::vector<std::string> command;
    int status;
    Platforms platforms = Platforms::kAll;
  };
  const std::vector<Case> cases = {
      {{ToolPath(), "report", "--help"}, 0},
      {{ToolPath(), "report", "--dir", Dir() + "/missing"}, 1},
      {{ToolPath(), "report", "--code-page", "utf8"}, 2},
      {{"sh", "-c", "exit 7"}, 7, Platforms::kLinuxOnly},
      // Ended by a signal: 128 + its number, as a shell reports it.
      {{"sh", "-c", "kill -TERM $$"}, 128 + 15, Platforms::kLinuxOnly},
      {{"true"}, 0, Platforms::kLinuxOnly},
      {{"cmd", "/c", "exit 7"}, 7, Platforms::kWindowsOnly},
  };
  for (const auto& c : cases) {
    if (!AppliesHere(c.platforms)) {
      continue;
    }
    SCOPED_TRACE(c.command.back());
    std::vector<std::string> arguments = {"hold", Name("S1"), "--"};
    arguments.insert(arguments.end(), c.command.begin(), c.command.end());
    EXPECT_EQ(RunTool(arguments).status, c.status);
  }
}

TEST_F(HoldTest, HoldsUntilInterrupted) {
  WriteStore(SampleContent());
  BackgroundTool hold({"hold", Name("S1"), Name("S2")});
  const std::string announced = hold.WaitForError("until interrupted\n");
  ASSERT_EQ(announced,
            "psrl: holding '" + Name("S1") + "', '" + Name("S2") + "' until interrupted\n");

  const auto whileHeld = RunOnFolder("report");
  EXPECT_EQ(whileHeld.out, kRacerLine);
  ExpectStore(ChessContent());

  // Under Wine the tests have no console, which console control events need: there the
  // hold ends with the test.
  if (!AppliesHere(Platforms::kLinuxOnly)) {
    return;
  }
  hold.Interrupt();
  const auto ended = hold.Finish();
  EXPECT_EQ(ended.status, 0);
  EXPECT_EQ(ended.err, announced + "psrl: released '" + Name("S1") + "', '" + Name("S2") + "'\n");
  EXPECT_EQ(RunOnFolder("report").out, kChessLine);
}

TEST_F(HoldTest, SessionHeldElsewhereIsRefused) {
  const platform::SessionEventOwner recorder(ToU16(Name("S2")));
  ASSERT_TRUE(recorder.valid());
  const auto outcome = RunTool({"hold", Name("S1"), Name("S2"), "--", "true"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err,
            "psrl: cannot hold session '" + Name("S2") + "': another process holds it already\n");
}

// The command's words reach it unchanged: blanks, quotes and backslashes survive the
// command line that carries them (on Windows, quoted for the C runtime's parser).
TEST_F(HoldTest, CommandGetsItsArgumentsUnchanged) {
  const std::vector<std::pair<std::string, std::string>> values = {
      {"GameName", "two  words and \"quotes\" inside"},
      {"GameModuleName", "a\\\\\"b c\\"},
      {"GameFullPath", "C:\\Program Files\\G\\"},
      {"StartTime", "Caf\xC3\xA9\t\\\""},
  };
  std::vector<std::string> arguments = {"hold",  Name("S"), "--",      ToolPath(), "add",
                                        "--dir", Dir(),     Name("T"), "UserID=5", "GamingTime=10"};
  std::string line = "5";
  for (const auto& [key, value] : values) {
    arguments.push_back(key);
    arguments.back().append("=").append(value);
    line.append(";").append(value);
  }
  const auto held = RunTool(arguments);
  ASSERT_EQ(held.status, 0) << held.err;
  const auto report = RunOnFolder("report");
  EXPECT_EQ(report.out, line + ";10;10;1;1;0\r\n");
}

}  // namespace
}  // namespace psrl::testing
