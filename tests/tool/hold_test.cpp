// psrl hold: sessions kept live while a command runs or until interrupted, so that
// reports leave them alone; and a session that someone else holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/session_event_owner.h"
#include "support/temp_folder.h"
#include "tool/tool_fixture.h"

namespace psrl::testing {
namespace {

class HoldTest : public ToolTest {};

TEST_F(HoldTest, CommandRunsWhileTheSessionIsLive) {
  WriteStore(SampleStore());
  const auto held = RunTool({"hold", Name("S3"), "--", ToolPath(), "report", "--dir", Dir()});
  EXPECT_EQ(held.status, 0);
  EXPECT_EQ(held.out, kChessLine);
  EXPECT_NE(held.err.find("psrl: holding '" + Name("S3") + "' while '" + ToolPath() + "'"),
            std::string::npos)
      << held.err;
  EXPECT_NE(held.err.find("1 live session skipped"), std::string::npos) << held.err;
  EXPECT_EQ(Store(), RacerSection());

  // Released when the command ends: the next report takes it.
  EXPECT_EQ(RunOnFolder("report").out, kRacerLine);
}

TEST_F(HoldTest, ExitsWithTheCommandsStatus) {
  struct Case {
    std::vector<std::string> command;
    int status;
  };
  const std::vector<Case> cases = {
      {{"sh", "-c", "exit 7"}, 7},
      {{"sh", "-c", "kill -TERM $$"}, 128 + 15},
      {{"true"}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command.back());
    std::vector<std::string> arguments = {"hold", Name("S1"), "--"};
    arguments.insert(arguments.end(), c.command.begin(), c.command.end());
    EXPECT_EQ(RunTool(arguments).status, c.status);
  }
}

TEST_F(HoldTest, HoldsUntilInterrupted) {
  WriteStore(SampleStore());
  BackgroundTool hold({"hold", Name("S1"), Name("S2")});
  const std::string announced = hold.WaitForError("until interrupted\n");
  ASSERT_EQ(announced,
            "psrl: holding '" + Name("S1") + "', '" + Name("S2") + "' until interrupted\n");

  const auto whileHeld = RunOnFolder("report");
  EXPECT_EQ(whileHeld.out, kRacerLine);
  EXPECT_EQ(Store(), ChessSections());

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

}  // namespace
}  // namespace psrl::testing
