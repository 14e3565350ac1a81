// A folder with a small session store for running psrl on, and the lines its report makes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/platform_cases.h"
#include "support/store_file.h"
#include "support/temp_folder.h"
#include "tool/tool_process.h"

namespace psrl::testing {

// Chess (two sessions of user 5) and Café Racer (one session of user 0), in the order of
// their report lines.
inline const std::string kChessLine = "5;Chess;chess.exe;C:\\G\\;T1;220;120;2;1;1\r\n";
inline const std::string kRacerLine = "0;Caf\xC3\xA9 Racer;racer.exe;C:\\R\\;T3;60;60;1;1;0\r\n";

// What joins a folder and a file name in the paths that psrl shows.
inline const std::string kSeparator(1,
                                    static_cast<char>(std::filesystem::path::preferred_separator));

class ToolTest : public ::testing::Test {
 protected:
  // Session names carry the folder's random name, so that tests running side by side
  // never hold each other's sessions.
  std::string Name(const std::string& base) const {
    return base + "-" + folder_.path().filename().string();
  }
  std::string Dir() const { return folder_.path().string(); }

  // The sample store: Chess in sections S1 and S2, Café Racer in S3.
  StoreContent ChessContent() const {
    return {{Name("S1"),
             {{"UserID", "5"},
              {"GameName", "Chess"},
              {"GameModuleName", "chess.exe"},
              {"GameFullPath", "C:\\G\\"},
              {"StartTime", "T2"},
              {"GamingTime", "120"}}},
            {Name("S2"),
             {{"UserID", "5"},
              {"GameName", "Chess"},
              {"GameModuleName", "chess.exe"},
              {"GameFullPath", "C:\\G\\"},
              {"StartTime", "T1"},
              {"GamingTime", "100"},
              {"IGActived", "1"},
              {"ErrorCode", "4"}}}};
  }
  StoreContent RacerContent() const {
    return {{Name("S3"),
             {{"UserID", "0"},
              {"GameName", "Caf\xC3\xA9 Racer"},
              {"GameModuleName", "racer.exe"},
              {"GameFullPath", "C:\\R\\"},
              {"StartTime", "T3"},
              {"GamingTime", "60"}}}};
  }
  StoreContent SampleContent() const {
    StoreContent content = ChessContent();
    const StoreContent racer = RacerContent();
    content.insert(content.end(), racer.begin(), racer.end());
    return content;
  }
  // The sample's sections as the bytes of a file with CR LF line ends.
  std::string ChessSections() const { return StoreBytes(ChessContent()); }
  std::string RacerSection() const { return StoreBytes(RacerContent()); }
  std::string SampleStore() const { return StoreBytes(SampleContent()); }

  // Writes the store as the recorder does (on Linux: StoreBytes(content)).
  void WriteStore(const StoreContent& content) {
    psrl::testing::WriteStore(folder_ / "plg.dat", content);
  }
  // The store holds exactly `expected` (on Linux: byte for byte StoreBytes(expected)).
  void ExpectStore(const StoreContent& expected) const {
    psrl::testing::ExpectStore(folder_ / "plg.dat", expected);
  }
  void WriteStoreBytes(const std::string& bytes) { WriteFileBytes(folder_ / "plg.dat", bytes); }
  void WriteControl(const std::string& bytes) { WriteFileBytes(folder_ / "psrl.ini", bytes); }
  std::string Store() const { return ReadFileBytes(folder_ / "plg.dat"); }

  // `name` in this folder, joined as psrl joins it ('/' on Linux, '\' on Windows).
  std::string InDir(const std::string& name) const { return Dir() + kSeparator + name; }

  // psrl `subcommand` with "--dir" and this folder, then `more`.
  ToolOutcome RunOnFolder(const std::string& subcommand, std::vector<std::string> more = {}) {
    std::vector<std::string> arguments = {subcommand, "--dir", Dir()};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return RunTool(arguments);
  }

  TempFolder folder_;
};

}  // namespace psrl::testing
