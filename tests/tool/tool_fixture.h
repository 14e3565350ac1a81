// A folder with a small session store for running psrl on, and the lines its report makes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_folder.h"
#include "tool/tool_process.h"

namespace psrl::testing {

// Chess (two sessions of user 5) and Café Racer (one session of user 0), in the order of
// their report lines.
inline const std::string kChessLine = "5;Chess;chess.exe;C:\\G\\;T1;220;120;2;1;1\r\n";
inline const std::string kRacerLine = "0;Caf\xC3\xA9 Racer;racer.exe;C:\\R\\;T3;60;60;1;1;0\r\n";

class ToolTest : public ::testing::Test {
 protected:
  // Session names carry the folder's random name, so that tests running side by side
  // never hold each other's sessions.
  std::string Name(const std::string& base) const {
    return base + "-" + folder_.path().filename().string();
  }
  std::string Dir() const { return folder_.path().string(); }

  std::string ChessSections() const {
    return "[" + Name("S1") +
           "]\r\nUserID=5\r\nGameName=Chess\r\nGameModuleName=chess.exe\r\nGameFullPath=C:\\G\\\r\n"
           "StartTime=T2\r\nGamingTime=120\r\n"
           "[" +
           Name("S2") +
           "]\r\nUserID=5\r\nGameName=Chess\r\nGameModuleName=chess.exe\r\nGameFullPath=C:\\G\\\r\n"
           "StartTime=T1\r\nGamingTime=100\r\nIGActived=1\r\nErrorCode=4\r\n";
  }
  std::string RacerSection() const {
    return "[" + Name("S3") +
           "]\r\nUserID=0\r\nGameName=Caf\xC3\xA9 Racer\r\nGameModuleName=racer.exe\r\n"
           "GameFullPath=C:\\R\\\r\nStartTime=T3\r\nGamingTime=60\r\n";
  }
  std::string SampleStore() const { return ChessSections() + RacerSection(); }

  void WriteStore(const std::string& bytes) { WriteFileBytes(folder_ / "plg.dat", bytes); }
  void WriteControl(const std::string& bytes) { WriteFileBytes(folder_ / "psrl.ini", bytes); }
  std::string Store() const { return ReadFileBytes(folder_ / "plg.dat"); }

  // psrl `subcommand` with "--dir" and this folder, then `more`.
  ToolOutcome RunOnFolder(const std::string& subcommand, std::vector<std::string> more = {}) {
    std::vector<std::string> arguments = {subcommand, "--dir", Dir()};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return RunTool(arguments);
  }

  TempFolder folder_;
};

}  // namespace psrl::testing
