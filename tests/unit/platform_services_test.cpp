// The named-event and code-page services against the platform's own behaviour: the
// Linux stand-ins, or the Windows functions themselves.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/platform.h"
#include "platform/session_event_owner.h"
#include "support/platform_cases.h"

namespace psrl::platform {
namespace {

using psrl::testing::AppliesHere;
using psrl::testing::Platforms;

// Within a run the probes may share resources (one socket on Linux); the answers must be
// those of single probes, also when an owner lets go in the middle of the run.
TEST(NamedEventTest, OpenOnlyWhileItsOwnerHoldsIt) {
  const std::u16string names[] = {
      u"Session-{4C1D}", u"caf\u00E9 \U0001F3AE", std::u16string(u"lone \xD800 surrogate"),
      std::u16string(10000, u'x'),  // longer than a socket address: hashed on Linux
  };
  for (const bool inRun : {false, true}) {
    SCOPED_TRACE(inRun ? "within a run" : "outside a run");
    if (inRun) BeginRun();
    for (const auto& name : names) {
      SCOPED_TRACE(name.size());
      EXPECT_FALSE(NamedEventIsOpen(name.c_str()));
      {
        SessionEventOwner owner(name);
        ASSERT_TRUE(owner.valid());
        EXPECT_TRUE(NamedEventIsOpen(name.c_str()));
        EXPECT_FALSE(NamedEventIsOpen(u"no-such-session"));  // after a live one
        // Probing never takes the name from its owner.
        EXPECT_TRUE(NamedEventIsOpen(name.c_str()));
        EXPECT_FALSE(SessionEventOwner(name).valid());
      }
      EXPECT_FALSE(NamedEventIsOpen(name.c_str()));
      // The name is free again for a new owner.
      SessionEventOwner again(name);
      EXPECT_TRUE(again.valid());
      EXPECT_TRUE(NamedEventIsOpen(name.c_str()));
    }
    if (inRun) EndRun();
  }
}

TEST(NamedEventTest, NamesAreExactAndCaseSensitive) {
  SessionEventOwner owner(u"Game-1");
  ASSERT_TRUE(owner.valid());
  EXPECT_FALSE(NamedEventIsOpen(u"game-1"));
  EXPECT_FALSE(NamedEventIsOpen(u"Game-1 "));
  EXPECT_FALSE(NamedEventIsOpen(u"Game-"));
}

TEST(NamedEventTest, AMovedOwnerKeepsHoldingTheName) {
  SessionEventOwner first(u"moved-session");
  ASSERT_TRUE(first.valid());
  SessionEventOwner second(std::move(first));
  EXPECT_TRUE(second.valid());
  EXPECT_TRUE(NamedEventIsOpen(u"moved-session"));
  SessionEventOwner other(u"other-session");
  ASSERT_TRUE(other.valid());
  other = std::move(second);  // lets go of "other-session", takes over "moved-session"
  EXPECT_FALSE(NamedEventIsOpen(u"other-session"));
  EXPECT_TRUE(NamedEventIsOpen(u"moved-session"));
  { SessionEventOwner released(std::move(other)); }
  EXPECT_FALSE(NamedEventIsOpen(u"moved-session"));
}

struct ConversionCase {
  const char* name;
  uint32_t codePage;
  std::u16string text;
  std::string bytes;  // empty: the conversion fails
  Platforms platforms = Platforms::kAll;
};

TEST(CodePageTest, ConvertsLikeWideCharToMultiByte) {
  const ConversionCase cases[] = {
      {"UTF-8", 65001, u"a\u00E9\u20AC\U0001F3AE", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xAE"},
      {"UTF-8 lone surrogate", 65001, std::u16string(u"a\xDC00z"), "a\xEF\xBF\xBDz"},
      {"ANSI is UTF-8 on Linux", 0, u"\u00E9", "\xC3\xA9", Platforms::kLinuxOnly},
      {"OEM is UTF-8 on Linux", 1, u"\u00E9", "\xC3\xA9", Platforms::kLinuxOnly},
      {"Windows-1252", 1252, u"\u00E9\u20AC", "\xE9\x80"},
      {"Windows-1251", 1251, u"\u0416", "\xC6"},
      {"OEM 437", 437, u"\u00E9", "\x82"},
      {"ISO-8859-15", 28605, u"\u20AC", "\xA4"},
      {"Shift-JIS", 932, u"\u3042", "\x82\xA0"},
      // Wine 8 has no converter for GB18030.
      {"GB18030", 54936, u"\U0001F3AE", "\x94\x39\xC1\x32", Platforms::kLinuxOnly},
      {"missing character", 1252, u"a\u3042b", "a?b"},
      {"missing surrogate pair is one ?", 1252, u"a\U0001F3AEb", "a?b", Platforms::kLinuxOnly},
      {"missing surrogate pair is ? per unit", 1252, u"a\U0001F3AEb", "a??b",
       Platforms::kWindowsOnly},
      {"lone surrogate", 1252, std::u16string(u"a\xD800") + u"b", "a?b"},
      {"US-ASCII", 20127, u"\u00E9x", "?x", Platforms::kLinuxOnly},
      {"US-ASCII with best fit", 20127, u"\u00E9x", "ex", Platforms::kWindowsOnly},
      {"unsupported", 12345, u"abc", ""},
      {"no ISO-8859-12", 28602, u"abc", ""},
  };
  for (const bool inRun : {false, true}) {
    if (inRun) BeginRun();
    for (const auto& testCase : cases) {
      if (!AppliesHere(testCase.platforms)) continue;
      SCOPED_TRACE(std::string(testCase.name) + (inRun ? " (in a run)" : ""));
      const int32_t needed =
          ConvertToCodePage(testCase.codePage, testCase.text.c_str(), nullptr, 0);
      if (testCase.bytes.empty()) {
        EXPECT_EQ(needed, 0);
        continue;
      }
      ASSERT_EQ(needed, static_cast<int32_t>(testCase.bytes.size() + 1));
      std::string out(static_cast<size_t>(needed), '\x7F');
      EXPECT_EQ(ConvertToCodePage(testCase.codePage, testCase.text.c_str(), out.data(), needed),
                needed);
      EXPECT_EQ(out, testCase.bytes + '\0');
      // Too small an output converts nothing.
      EXPECT_EQ(ConvertToCodePage(testCase.codePage, testCase.text.c_str(), out.data(), needed - 1),
                0);
    }
    if (inRun) EndRun();
  }
}

}  // namespace
}  // namespace psrl::platform
