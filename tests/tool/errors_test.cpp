// What psrl tells its user when it cannot do what was asked: one plain line, exit status
// 2 for a malformed command line and 1 for a failure while running, and nothing changed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/platform_cases.h"
#include "support/temp_folder.h"
#include "tool/tool_fixture.h"

namespace psrl::testing {
namespace {

struct ErrorCase {
  std::vector<std::string> arguments;  // "DIR" stands for the test's folder
  int status;
  std::string message;  // standard error; "DIR" as above
  // A Windows command line is UTF-16 text: it cannot carry bytes that are not UTF-8.
  Platforms platforms = Platforms::kAll;
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// What follows a malformed command line that CLI11 finds.
const std::string kHint = "\nRun 'psrl --help' or 'psrl SUBCOMMAND --help'.";

class ErrorsTest : public ToolTest {
 protected:
  void Check(const std::vector<ErrorCase>& cases) {
    for (const auto& c : cases) {
      if (!AppliesHere(c.platforms)) {
        continue;
      }
      std::vector<std::string> arguments;
      std::string shown;
      for (const auto& argument : c.arguments) {
        arguments.push_back(Replace(argument, "DIR", Dir()));
        shown += argument + " ";
      }
      SCOPED_TRACE(shown);
      WriteStore(SampleContent());
      const auto outcome = RunTool(arguments);
      EXPECT_EQ(outcome.status, c.status);
      EXPECT_EQ(outcome.err, Replace(c.message, "DIR", Dir()) + "\n");
      EXPECT_EQ(outcome.out, "");
      ExpectStore(SampleContent());
    }
  }
};

TEST_F(ErrorsTest, Folders) {
  Check({
      {{"report", "--dir", "DIR/missing"},
       1,
       "psrl: cannot read folder 'DIR/missing': No such file or directory"},
      {{"sessions", "--dir", "DIR/plg.dat"}, 1, "psrl: 'DIR/plg.dat' is not a folder"},
      {{"add", "--dir", "DIR/missing", "S", "A=1"},
       1,
       "psrl: cannot read folder 'DIR/missing': No such file or directory"},
      {{"report", "--dir", "DIR/\xFF"},
       2,
       "psrl: folder name 'DIR/\xFF' is not valid UTF-8",
       Platforms::kLinuxOnly},
  });
  std::filesystem::create_directory(folder_ / "inner");
  std::filesystem::create_directory(folder_ / "inner" / "plg.dat");
  // A store that links into a missing folder passes every check and still cannot be
  // written: only reading the session back tells. (Windows lets only administrators
  // make symbolic links.)
  std::filesystem::create_directory(folder_ / "dangling");
  if (AppliesHere(Platforms::kLinuxOnly)) {
    std::filesystem::create_symlink(folder_ / "missing" / "plg.dat",
                                    folder_ / "dangling" / "plg.dat");
  }
  Check({
      {{"add", "--dir", "DIR/dangling", "S", "A=1"},
       1,
       "psrl: cannot write session 'S' to 'DIR/dangling" + kSeparator + "plg.dat'",
       Platforms::kLinuxOnly},
      {{"report", "--dir", "DIR/inner"},
       1,
       "psrl: 'DIR/inner" + kSeparator + "plg.dat' is not a file"},
      {{"add", "--dir", "DIR/inner", "S", "A=1"},
       1,
       "psrl: 'DIR/inner" + kSeparator + "plg.dat' is not a file"},
  });
}

TEST_F(ErrorsTest, Numbers) {
  const std::string bufferRange = " is not a whole number from 0 to 2147483647";
  const std::string userRange = " is not a whole number from -2147483648 to 2147483647";
  Check({
      {{"report", "--dir", "DIR", "--buffer-size", "abc"},
       2,
       "psrl: --buffer-size: 'abc'" + bufferRange},
      {{"report", "--dir", "DIR", "--buffer-size", "2147483648"},
       2,
       "psrl: --buffer-size: '2147483648'" + bufferRange},
      {{"report", "--dir", "DIR", "--buffer-size", "-1"},
       2,
       "psrl: --buffer-size: '-1'" + bufferRange},
      {{"report", "--dir", "DIR", "--buffer-size", "12k"},
       2,
       "psrl: --buffer-size: '12k'" + bufferRange},
      {{"report", "--dir", "DIR", "--default-user", "x"},
       2,
       "psrl: --default-user: 'x'" + userRange},
      {{"sessions", "--dir", "DIR", "--default-user", "-2147483649"},
       2,
       "psrl: --default-user: '-2147483649'" + userRange},
      {{"report", "--dir", "DIR", "--code-page", "4242"}, 2, "psrl: unknown code page 4242"},
      {{"report", "--dir", "DIR", "--code-page", "utf8"},
       2,
       "psrl: --code-page: 'utf8' is not a code page number"},
  });
}

TEST_F(ErrorsTest, SessionNamesAndKeys) {
  Check({
      {{"add", "--dir", "DIR", "", "A=1"}, 2, "psrl: session name '' is empty"},
      {{"add", "--dir", "DIR", "a]b", "A=1"}, 2, "psrl: session name 'a]b' contains ']'"},
      {{"add", "--dir", "DIR", "a\nb", "A=1"},
       2,
       "psrl: session name 'a\nb' contains a line break"},
      {{"add", "--dir", "DIR", "[S", "A=1"}, 2, "psrl: session name '[S' starts with '['"},
      {{"add", "--dir", "DIR", ";S", "A=1"}, 2, "psrl: session name ';S' starts with ';'"},
      {{"add", "--dir", "DIR", " S", "A=1"},
       2,
       "psrl: session name ' S' starts or ends with a blank"},
      {{"add", "--dir", "DIR", "S", "A"}, 2, "psrl: KEY=VALUE 'A': has no '='"},
      {{"add", "--dir", "DIR", "S", "=1"}, 2, "psrl: KEY=VALUE '=1': the key is empty"},
      {{"add", "--dir", "DIR", "S", "[A=1"}, 2, "psrl: KEY=VALUE '[A=1': the key starts with '['"},
      {{"add", "--dir", "DIR", "S", "A=1\r\n[T]"},
       2,
       "psrl: KEY=VALUE 'A=1\r\n[T]': contains a line break"},
      {{"add", "--dir", "DIR", "S", "A\r=1"}, 2, "psrl: KEY=VALUE 'A\r=1': contains a line break"},
      {{"add", "--dir", "DIR", "S", "A=1", "a=2"}, 2, "psrl: key 'a' is given twice"},
      {{"add", "--dir", "DIR", "S", "A=\xC3"},
       2,
       "psrl: value '\xC3' is not valid UTF-8",
       Platforms::kLinuxOnly},
      {{"hold", "S]", "--", "true"}, 2, "psrl: session name 'S]' contains ']'"},
      {{"hold", "S", "S", "--", "true"}, 2, "psrl: session name 'S' is given twice"},
  });
}

TEST_F(ErrorsTest, CommandLines) {
  Check({
      {{}, 2, "psrl: A subcommand is required" + kHint},
      {{"export"},
       2,
       "psrl: unknown subcommand 'export'; the subcommands are report, sessions, add and hold"},
      {{"report", "--dir", "DIR", "--verbose"},
       2,
       "psrl: The following argument was not expected: --verbose" + kHint},
      {{"add", "--dir", "DIR", "S"}, 2, "psrl: PAIRS is required" + kHint},
      {{"hold", "--", "true"}, 2, "psrl: NAME is required" + kHint},
  });
}

TEST_F(ErrorsTest, CommandThatCannotStart) {
  const std::string command = Dir() + "/no-such-command";
  const auto outcome = RunTool({"hold", Name("S"), "--", command});
  EXPECT_EQ(outcome.status, 1);
  // The reason is the system's own text.
  const std::string failure = "psrl: cannot run '" + command + "': ";
  EXPECT_NE(outcome.err.find(failure), std::string::npos) << outcome.err;
  EXPECT_EQ(outcome.err.back(), '\n');
  if (AppliesHere(Platforms::kLinuxOnly)) {
    EXPECT_NE(outcome.err.find(failure + "No such file or directory\n"), std::string::npos)
        << outcome.err;
  }
}

TEST_F(ErrorsTest, HelpIsNoError) {
  for (const std::string subcommand : {"report", "sessions", "add", "hold"}) {
    SCOPED_TRACE(subcommand);
    const auto outcome = RunTool({subcommand, "--help"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.out.find("Usage: psrl " + subcommand), std::string::npos) << outcome.out;
  }
}

}  // namespace
}  // namespace psrl::testing
