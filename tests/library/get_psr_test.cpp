// GetPSR as a host sees it: the built library in a fresh folder with its control file
// and session store, called through its export.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/session_event_owner.h"
#include "support/deployed_library.h"
#include "support/platform_cases.h"
#include "support/store_file.h"
#include "support/temp_folder.h"

namespace psrl::testing {
namespace {

// Stores are described by their sections (support/store_file.h): every platform checks
// which sections and keys stay, Linux also that their bytes stay as they were.

StoreSection ChessSession(const char* name, const char* startTime, const char* gamingTime,
                          const char* activated) {
  return {name,
          {{"UserID", "5"},
           {"GameName", "Chess"},
           {"GameModuleName", "chess.exe"},
           {"GameFullPath", "C:\\G\\"},
           {"StartTime", startTime},
           {"GamingTime", gamingTime},
           {"IGActived", activated}}};
}

// Three sessions of one game that add up to the tallies 300;120;3;1;0.
StoreContent ChessStore() {
  auto first = ChessSession("S1", "T2", "120", "0");
  first.keys.emplace_back("ErrorCode", "0");
  return {first, ChessSession("S2", "T1", "100", "1"), ChessSession("S3", "T3", "80", "1")};
}
const StoreContent kChessStore = ChessStore();
const std::string kChessLine = "5;Chess;chess.exe;C:\\G\\;T1;300;120;3;1;0\r\n";

// One session per game; the games order as "a" < "bb", and Alpha's line is the shorter.
const StoreSection kAlphaSection = {"A1",
                                    {{"UserID", "1"},
                                     {"GameName", "Alpha"},
                                     {"GameModuleName", "a.exe"},
                                     {"GameFullPath", "/a/"},
                                     {"StartTime", "T"},
                                     {"GamingTime", "7"}}};
const StoreSection kBetaSection = {"B1",
                                   {{"UserID", "1"},
                                    {"GameName", "Beta Longer Name"},
                                    {"GameModuleName", "b.exe"},
                                    {"GameFullPath", "/bb/"},
                                    {"StartTime", "T"},
                                    {"GamingTime", "9"}}};
const std::string kAlphaLine = "1;Alpha;a.exe;/a/;T;7;7;1;1;0\r\n";
const std::string kBetaLine = "1;Beta Longer Name;b.exe;/bb/;T;9;9;1;1;0\r\n";

// Lines ended by LF alone: a store need not use CR LF.
constexpr StoreFormat kLf{.lineEnd = "\n"};

int32_t Needed(const std::string& line) { return static_cast<int32_t>(line.size() + 1); }

class GetPsrTest : public ::testing::Test {
 protected:
  std::filesystem::path StorePath() const { return folder_ / "plg.dat"; }

  CallOutcome Call(const CallArguments& arguments = {}) {
    if (!library_) library_.emplace(folder_.path(), kLibraryFileName);
    return CallWithGuard(library_->getPsr(), arguments);
  }

  TempFolder folder_;
  std::optional<LoadedLibrary> library_;
};

TEST_F(GetPsrTest, DeliversTheTallyLineAndDeletesItsSessions) {
  WriteStore(StorePath(), kChessStore);
  const auto outcome = Call({.bufferSize = 100});
  EXPECT_EQ(outcome.text, kChessLine);
  EXPECT_EQ(outcome.written, 42);
  EXPECT_EQ(outcome.result, 0);
  ExpectStore(StorePath(), {});
}

struct BufferCase {
  const char* name;
  CallArguments arguments;
  std::string expectedText;
  int32_t expectedResult;
  StoreContent expectedStore;  // after the call
};

TEST_F(GetPsrTest, PlacesWhatFitsAndKeepsTheRestForLater) {
  const StoreContent store = {kAlphaSection, kBetaSection};
  const auto bothLines = static_cast<int32_t>(kAlphaLine.size() + kBetaLine.size());
  const BufferCase cases[] = {
      {"everything fits", {.bufferSize = bothLines + 1}, kAlphaLine + kBetaLine, 0, {}},
      {"one byte short of both: the first stays behind",
       {.bufferSize = bothLines},
       kAlphaLine,
       Needed(kBetaLine),
       {kBetaSection}},
      {"size equal to the first line takes neither line's zero byte",
       {.bufferSize = static_cast<int32_t>(kAlphaLine.size())},
       "",
       Needed(kAlphaLine) + Needed(kBetaLine),
       store},
      {"exactly the first line and its zero byte",
       {.bufferSize = Needed(kAlphaLine)},
       kAlphaLine,
       Needed(kBetaLine),
       {kBetaSection}},
      {"zero size", {.bufferSize = 0}, "", Needed(kAlphaLine) + Needed(kBetaLine), store},
      {"negative size", {.bufferSize = -5}, "", Needed(kAlphaLine) + Needed(kBetaLine), store},
      {"null written", {.bufferSize = 4096, .nullWritten = true}, kAlphaLine + kBetaLine, 0, {}},
      {"null buffer: nothing written or deleted",
       {.bufferSize = 4096, .nullBuffer = true},
       "",
       Needed(kAlphaLine) + Needed(kBetaLine),
       store},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    TempFolder folder;
    WriteStore(folder / "plg.dat", store, kLf);
    const auto before = ReadFileBytes(folder / "plg.dat");
    LoadedLibrary library(folder.path(), kLibraryFileName);
    const auto outcome = CallWithGuard(library.getPsr(), testCase.arguments);
    EXPECT_EQ(outcome.text, testCase.expectedText);
    EXPECT_EQ(outcome.result, testCase.expectedResult);
    if (!testCase.arguments.nullWritten) {
      EXPECT_EQ(outcome.written, static_cast<int32_t>(testCase.expectedText.size()));
    }
    ExpectStore(folder / "plg.dat", testCase.expectedStore, kLf);
    if (testCase.expectedStore == store) {
      EXPECT_EQ(ReadFileBytes(folder / "plg.dat"), before) << "an unchanged store was rewritten";
    }
  }
}

TEST_F(GetPsrTest, ALineThatDoesNotFitDoesNotStopTheWalk) {
  // The first line in key order is the longer one: it stays behind, and the later,
  // shorter line still takes the room.
  const StoreSection longFirst = {"L",
                                  {{"UserID", "1"},
                                   {"GameName", "A much longer name than the other"},
                                   {"GameFullPath", "/a/"}}};
  const StoreSection shortSecond = {
      "S", {{"UserID", "1"}, {"GameName", "Short"}, {"GameFullPath", "/b/"}}};
  const std::string shortLine = "1;Short;;/b/;;0;0;1;1;0\r\n";
  WriteStore(StorePath(), {longFirst, shortSecond}, kLf);
  const auto outcome = Call({.bufferSize = Needed(shortLine)});
  EXPECT_EQ(outcome.text, shortLine);
  EXPECT_EQ(outcome.result, Needed("1;A much longer name than the other;;/a/;;0;0;1;1;0\r\n"));
  ExpectStore(StorePath(), {longFirst}, kLf);
}

TEST_F(GetPsrTest, LinesComeInKeyOrderComparedAsText) {
  WriteStore(StorePath(),
             {{"U9", {{"UserID", "9"}, {"GameName", "G"}, {"GameFullPath", "/g/"}}},
              {"U10", {{"UserID", "10"}, {"GameName", "G"}, {"GameFullPath", "/g/"}}},
              {"Z", {{"UserID", "1"}, {"GameName", "Z"}, {"GameFullPath", "/z/"}}},
              {"A", {{"UserID", "1"}, {"GameName", "A"}, {"GameFullPath", "/A/"}}}},
             kLf);
  EXPECT_EQ(Call().text,
            "1;A;;/A/;;0;0;1;1;0\r\n"
            "10;G;;/g/;;0;0;1;1;0\r\n"
            "9;G;;/g/;;0;0;1;1;0\r\n"
            "1;Z;;/z/;;0;0;1;1;0\r\n");
}

struct CodePageCase {
  const char* name;
  uint32_t codePage;
  std::string expectedText;
  int32_t expectedResult;
  bool sessionsKept;
  Platforms platforms = Platforms::kAll;
};

TEST_F(GetPsrTest, ConvertsIntoTheCallersCodePage) {
  // "Caf\u00E9 \u2615" in a UTF-16LE store, which reads the same on every platform.
  const StoreContent store = {{"S", {{"UserID", "2"}, {"GameName", "Caf\xC3\xA9 \xE2\x98\x95"}}}};
  constexpr StoreFormat kUtf16{.utf16 = true};
  const CodePageCase cases[] = {
      {"UTF-8", 65001, "2;Caf\xC3\xA9 \xE2\x98\x95;;;;0;0;1;1;0\r\n", 0, false},
      {"Windows-1252 lacks the cup", 1252, "2;Caf\xE9 ?;;;;0;0;1;1;0\r\n", 0, false},
      {"US-ASCII lacks both", 20127, "2;Caf? ?;;;;0;0;1;1;0\r\n", 0, false, Platforms::kLinuxOnly},
      {"US-ASCII lacks both, best fit for the accent", 20127, "2;Cafe ?;;;;0;0;1;1;0\r\n", 0, false,
       Platforms::kWindowsOnly},
      {"unsupported: line dropped, nothing counted", 12345, "", 0, true},
  };
  for (const auto& testCase : cases) {
    if (!AppliesHere(testCase.platforms)) continue;
    SCOPED_TRACE(testCase.name);
    TempFolder folder;
    WriteStore(folder / "plg.dat", store, kUtf16);
    LoadedLibrary library(folder.path(), kLibraryFileName);
    const auto outcome = CallWithGuard(library.getPsr(), {.codePage = testCase.codePage});
    EXPECT_EQ(outcome.text, testCase.expectedText);
    EXPECT_EQ(outcome.result, testCase.expectedResult);
    ExpectStore(folder / "plg.dat", testCase.sessionsKept ? store : StoreContent{}, kUtf16);
  }
}

TEST_F(GetPsrTest, ASecondCallSeesOnlyWhatStayed) {
  WriteStore(StorePath(), {kAlphaSection, kBetaSection}, kLf);
  const auto first = Call({.bufferSize = Needed(kAlphaLine)});
  EXPECT_EQ(first.text, kAlphaLine);
  EXPECT_EQ(first.result, Needed(kBetaLine));
  const auto second = Call();
  EXPECT_EQ(second.text, kBetaLine);
  EXPECT_EQ(second.result, 0);
  const auto third = Call();
  EXPECT_EQ(third.text, "");
  EXPECT_EQ(third.written, 0);
  ExpectStore(StorePath(), {}, kLf);
}

struct SwitchCase {
  const char* name;
  std::optional<std::string> control;  // no file when empty
  bool reports;
};

TEST_F(GetPsrTest, TheSwitchInTheControlFile) {
  const SwitchCase cases[] = {
      {"no control file", std::nullopt, true},
      {"switched off", "[Ctrl]\r\nUploadPSR=0\r\n", false},
      {"off, written as hex", "[ctrl]\nuploadpsr = 0x0\n", false},
      {"on", "[Ctrl]\nUploadPSR=1\n", true},
      {"any other value", "[Ctrl]\nUploadPSR=-3\n", true},
      {"missing key", "[Ctrl]\nOther=0\n", true},
      {"empty value keeps the default", "[Ctrl]\nUploadPSR=\n", true},
      {"key in another section", "[Other]\nUploadPSR=0\n", true},
      {"text without digits reads as 0", "[Ctrl]\nUploadPSR=off\n", false},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    TempFolder folder;
    WriteStore(folder / "plg.dat", kChessStore);
    const auto before = ReadFileBytes(folder / "plg.dat");
    if (testCase.control) WriteFileBytes(folder / "psrl.ini", *testCase.control);
    LoadedLibrary library(folder.path(), kLibraryFileName);
    const auto outcome = CallWithGuard(library.getPsr(), {});
    EXPECT_EQ(outcome.text, testCase.reports ? kChessLine : "");
    EXPECT_EQ(outcome.result, 0);
    if (testCase.reports) {
      ExpectStore(folder / "plg.dat", {});
    } else {
      EXPECT_EQ(ReadFileBytes(folder / "plg.dat"), before);
      ExpectStore(folder / "plg.dat", kChessStore);
    }
    if (testCase.control) {
      EXPECT_EQ(ReadFileBytes(folder / "psrl.ini"), *testCase.control);
    }
  }
}

TEST_F(GetPsrTest, NothingToReport) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"no store", std::nullopt},
      {"empty store", ""},
      {"only keys outside sections", "UserID=1\nGameName=X\n"},
  };
  for (const auto& [name, store] : cases) {
    SCOPED_TRACE(name);
    TempFolder folder;
    if (store) WriteFileBytes(folder / "plg.dat", *store);
    LoadedLibrary library(folder.path(), kLibraryFileName);
    const auto outcome = CallWithGuard(library.getPsr(), {});
    EXPECT_EQ(outcome.text, "");
    EXPECT_EQ(outcome.written, 0);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(std::filesystem::exists(folder / "plg.dat"), store.has_value());
  }
}

TEST_F(GetPsrTest, LiveSessionsAreNeitherReportedNorDeleted) {
  const StoreSection liveSection = ChessSession("Live-7f3a", "T0", "999", "0");
  auto store = kChessStore;
  store.push_back(liveSection);
  WriteStore(StorePath(), store);
  platform::SessionEventOwner live(u"Live-7f3a");
  ASSERT_TRUE(live.valid());
  const auto outcome = Call();
  EXPECT_EQ(outcome.text, kChessLine);
  ExpectStore(StorePath(), {liveSection});

  // Every session live: nothing to report, and the store is left alone.
  const auto again = Call();
  EXPECT_EQ(again.text, "");
  EXPECT_EQ(again.result, 0);
  ExpectStore(StorePath(), {liveSection});
}

TEST_F(GetPsrTest, DefaultUserTakesTheSessionsOfUserZero) {
  WriteStore(StorePath(),
             {{"A", {{"UserID", "0"}, {"GameName", "G"}, {"GamingTime", "1"}}},
              {"B", {{"GameName", "G"}, {"GamingTime", "2"}}},
              {"C", {{"UserID", "7"}, {"GameName", "G"}, {"GamingTime", "4"}}}},
             kLf);
  EXPECT_EQ(Call({.defaultUserId = 7}).text, "7;G;;;;7;7;3;3;0\r\n");
}

TEST(LibraryLocationTest, FindsItsFilesInAFolderWithAPathLongerThan260Characters) {
  if (!AppliesHere(Platforms::kLinuxOnly)) {
    GTEST_SKIP() << "the Windows profile functions take paths of at most MAX_PATH characters";
  }
  TempFolder root;
  auto folder = root.path();
  while (folder.native().size() <= 300) folder /= std::string(60, 'd');
  std::filesystem::create_directories(folder);
  WriteStore(folder / "plg.dat", kChessStore);
  LoadedLibrary library(folder, kLibraryFileName);
  EXPECT_EQ(CallWithGuard(library.getPsr(), {}).text, kChessLine);
  ExpectStore(folder / "plg.dat", {});
}

TEST(LibraryLocationTest, EachLoadFindsTheFolderItWasLoadedFrom) {
  TempFolder first;
  TempFolder second;
  WriteStore(first / "plg.dat", {kAlphaSection});
  WriteStore(second / "plg.dat", {kBetaSection});
  {
    LoadedLibrary library(first.path(), kLibraryFileName);
    EXPECT_EQ(CallWithGuard(library.getPsr(), {}).text, kAlphaLine);
  }
  LoadedLibrary library(second.path(), kLibraryFileName);
  EXPECT_EQ(CallWithGuard(library.getPsr(), {}).text, kBetaLine);
}

TEST(LibraryLocationTest, UnderAnotherFileNameItUsesTheHostExecutablesFolder) {
  TempFolder folder;
  WriteStore(folder / "plg.dat", {kAlphaSection});
  const auto hostFolder = HostExecutableFolder();
  ASSERT_FALSE(std::filesystem::exists(hostFolder / "plg.dat"));
  WriteStore(hostFolder / "plg.dat", {kBetaSection});
  struct RemoveHostStore {
    std::filesystem::path path;
    ~RemoveHostStore() { std::filesystem::remove(path); }
  } removeHostStore{hostFolder / "plg.dat"};

  // "libpsrl-renamed.so", "psrl-renamed.dll"
  const std::filesystem::path libraryName(kLibraryFileName);
  LoadedLibrary library(
      folder.path(), libraryName.stem().string() + "-renamed" + libraryName.extension().string());
  EXPECT_EQ(CallWithGuard(library.getPsr(), {}).text, kBetaLine);
  ExpectStore(folder / "plg.dat", {kAlphaSection});
  ExpectStore(hostFolder / "plg.dat", {});
}

}  // namespace
}  // namespace psrl::testing
