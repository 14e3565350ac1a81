#include <gtest/gtest.h>

#include <climits>

#include "report/aggregate.h"
#include "report/emission.h"

namespace psrl {
namespace {

TEST(ReportLineTest, TenFieldsSeparatedAndEnded) {
  const struct {
    const char* name;
    GameAggregate aggregate;
    std::u16string line;
  } cases[] = {
      {"worked example",
       {5, u"Chess", u"chess.exe", u"C:\\G\\", u"T1", 300, 120, 3, 1, 0, {}},
       u"5;Chess;chess.exe;C:\\G\\;T1;300;120;3;1;0\r\n"},
      {"empty texts", {0, u"", u"", u"", u"", 0, 0, 0, 0, 0, {}}, u"0;;;;;0;0;0;0;0\r\n"},
      {"extremes",
       {INT32_MIN,
        u"a",
        u"b",
        u"c",
        u"d",
        UINT32_MAX,
        UINT32_MAX,
        UINT32_MAX,
        UINT32_MAX,
        UINT32_MAX,
        {}},
       u"-2147483648;a;b;c;d;4294967295;4294967295;4294967295;4294967295;4294967295\r\n"},
      {"separators inside values go out unchanged",
       {-1, u"a;b", u"\r\n", u"\u00E9", u"", 1, 2, 3, 4, 5, {}},
       u"-1;a;b;\r\n;\u00E9;;1;2;3;4;5\r\n"},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    EXPECT_EQ(FormatReportLine(testCase.aggregate), testCase.line);
  }
}

TEST(ReportLineTest, AggregateKeyFoldsOnlyAsciiLetters) {
  EXPECT_EQ(MakeAggregateKey(u"C:\\GAMES\\\u00C4", u"X.Exe", -12), u"c:\\games\\\u00C4x.exe-12");
  EXPECT_EQ(MakeAggregateKey(u"", u"", 0), u"0");
  EXPECT_EQ(MakeAggregateKey(u"@[`{", u"AZaz", 1), u"@[`{azaz1");
}

}  // namespace
}  // namespace psrl
