// One report over the control file and session store of a test folder, called as the
// library calls it, with a buffer followed by guard bytes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "report/report_run.h"
#include "support/store_file.h"
#include "support/temp_folder.h"

namespace psrl::testing {

struct FolderReport {
  std::string text;  // the delivered lines
  int32_t result = 0;
  ReportSummary summary;
};

// Reports `folder`'s "plg.dat" (its "psrl.ini" need not exist: reporting is then on) and
// fails the current test when the run wrote past the zero byte after its lines.
inline FolderReport ReportFolder(const std::filesystem::path& folder, int32_t bufferSize = 1 << 16,
                                 int32_t defaultUserId = 0) {
  constexpr unsigned char kGuard = 0xA5;
  std::vector<unsigned char> memory(static_cast<size_t>(std::max(bufferSize, 1)) + 64, kGuard);
  int32_t written = -1;
  ReportRequest request;
  request.output = {reinterpret_cast<char*>(memory.data()), bufferSize, &written, 65001};
  request.defaultUserId = defaultUserId;
  const ReportFiles files{ToU16(folder / "psrl.ini"), ToU16(folder / "plg.dat")};
  FolderReport report;
  report.result = RunReport(request, &files, &report.summary);
  const auto end = std::find(memory.begin(), memory.end(), 0);
  EXPECT_EQ(end - memory.begin(), written);
  EXPECT_TRUE(std::all_of(end + (end == memory.end() ? 0 : 1), memory.end(),
                          [](unsigned char byte) { return byte == kGuard; }))
      << "the run wrote past its lines";
  report.text.assign(memory.begin(), end);
  return report;
}

// A finished session of its own game at `path`, and the line it is reported as.
inline StoreSection SessionAt(const std::string& name, const std::string& path) {
  return {name,
          {{"UserID", "1"},
           {"GameName", "G"},
           {"GameModuleName", "m.exe"},
           {"GameFullPath", path},
           {"StartTime", "T"},
           {"GamingTime", "5"}}};
}
inline std::string LineOf(const std::string& path) {
  return "1;G;m.exe;" + path + ";T;5;5;1;1;0\r\n";
}

inline std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
  std::vector<std::string> entries;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    entries.push_back(entry.path().filename().string());
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

}  // namespace psrl::testing
