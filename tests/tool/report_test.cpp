// psrl report: the lines on standard output byte for byte, the summary on standard
// error, and what stays in the store.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tool/tool_fixture.h"

namespace psrl::testing {
namespace {

std::string Size(const std::string& bytes) { return std::to_string(bytes.size()); }

enum class StoreAfter { kUnchanged, kEmpty, kRacerOnly };

struct ReportCase {
  std::string name;
  std::vector<std::string> arguments;
  std::string out;
  std::string summary;  // standard error without "psrl: " and the newline
  StoreAfter store;
};

class ReportTest : public ToolTest {};

TEST_F(ReportTest, LinesSummaryAndStore) {
  const std::string both = kChessLine + kRacerLine;
  const std::string chessOnlyRoom = std::to_string(kChessLine.size() + 1);
  const std::string racerLine1252 = "0;Caf\xE9 Racer;racer.exe;C:\\R\\;T3;60;60;1;1;0\r\n";
  const std::vector<ReportCase> cases = {
      {"room for every line by default",
       {},
       both,
       "2 lines delivered (" + Size(both) +
           " bytes), 0 bytes still needed; 3 sessions removed, 0 left, 0 live sessions skipped",
       StoreAfter::kEmpty},
      {"room for the first line only",
       {"--buffer-size", chessOnlyRoom},
       kChessLine,
       "1 line delivered (" + Size(kChessLine) + " bytes), " +
           std::to_string(kRacerLine.size() + 1) +
           " bytes still needed; 2 sessions removed, 1 left, 0 live sessions skipped",
       StoreAfter::kRacerOnly},
      {"no room",
       {"--buffer-size", "0"},
       "",
       "0 lines delivered (0 bytes), " + std::to_string(both.size() + 2) +
           " bytes still needed; 0 sessions removed, 3 left, 0 live sessions skipped",
       StoreAfter::kUnchanged},
      {"dry run",
       {"--dry-run"},
       both,
       "dry run: 2 lines delivered (" + Size(both) +
           " bytes), 0 bytes still needed; 3 sessions would be removed, 0 left, 0 live "
           "sessions skipped; nothing changed",
       StoreAfter::kUnchanged},
      {"dry run with room for the first line",
       {"--dry-run", "--buffer-size", chessOnlyRoom},
       kChessLine,
       "dry run: 1 line delivered (" + Size(kChessLine) + " bytes), " +
           std::to_string(kRacerLine.size() + 1) +
           " bytes still needed; 2 sessions would be removed, 1 left, 0 live sessions skipped; "
           "nothing changed",
       StoreAfter::kUnchanged},
      {"default user",
       {"--default-user", "9"},
       kChessLine + "9" + kRacerLine.substr(1),
       "2 lines delivered (" + Size(both) +
           " bytes), 0 bytes still needed; 3 sessions removed, 0 left, 0 live sessions skipped",
       StoreAfter::kEmpty},
      {"code page 1252",
       {"--code-page", "1252"},
       kChessLine + racerLine1252,
       "2 lines delivered (" + Size(kChessLine + racerLine1252) +
           " bytes), 0 bytes still needed; 3 sessions removed, 0 left, 0 live sessions skipped",
       StoreAfter::kEmpty},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteStore(SampleContent());
    const ToolOutcome outcome = RunOnFolder("report", c.arguments);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(outcome.err, "psrl: " + c.summary + "\n");
    switch (c.store) {
      case StoreAfter::kUnchanged:
        ExpectStore(SampleContent());
        break;
      case StoreAfter::kEmpty:
        ExpectStore({});
        break;
      case StoreAfter::kRacerOnly:
        ExpectStore(RacerContent());
        break;
    }
  }
}

TEST_F(ReportTest, SecondReportDeliversWhatStayed) {
  WriteStore(SampleContent());
  const auto first =
      RunOnFolder("report", {"--buffer-size", std::to_string(kChessLine.size() + 1)});
  ASSERT_EQ(first.out, kChessLine);
  const auto second = RunOnFolder("report");
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.out, kRacerLine);
  ExpectStore({});
}

TEST_F(ReportTest, DryRunKeepsEveryByteOfAnUnusualStore) {
  // A BOM, a comment, mixed line ends, blanks and a last line without its end.
  const std::string store = "\xEF\xBB\xBF; recorded sessions\n\n" + ChessSections() + "\n  \r" +
                            RacerSection() + "Extra = x";
  WriteStoreBytes(store);
  const auto outcome = RunOnFolder("report", {"--dry-run"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, kChessLine + kRacerLine);
  EXPECT_EQ(Store(), store);
}

TEST_F(ReportTest, SwitchedOffReportsNothing) {
  WriteStore(SampleContent());
  WriteControl("; 0 switches reporting off\r\n[Ctrl]\r\nUploadPSR=0\r\n");
  const auto outcome = RunOnFolder("report");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "psrl: reporting is switched off (UploadPSR=0 in '" + InDir("psrl.ini") +
                             "'); nothing reported\n");
  ExpectStore(SampleContent());
}

TEST_F(ReportTest, MissingStoreIsAnEmptyReport) {
  const auto outcome = RunOnFolder("report");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err,
            "psrl: 0 lines delivered (0 bytes), 0 bytes still needed; 0 sessions removed, 0 "
            "left, 0 live sessions skipped\n");
}

}  // namespace
}  // namespace psrl::testing
