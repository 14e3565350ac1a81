// psrl report: one report over a folder's files, as GetPSR makes it, with the lines on
// standard output and a summary on standard error.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "report/report_run.h"
#include "store_folder.h"
#include "system.h"
#include "tool_error.h"

namespace psrl::tool {
namespace {

std::string Count(uint32_t number, const std::string& noun) {
  return std::to_string(number) + " " + noun + (number == 1 ? "" : "s");
}

// A buffer that takes every line: a first pass that keeps every session and has no
// room learns what the lines need (each with one zero byte, which is more than enough).
// Sessions that end or arrive between the two passes may not fit; they stay in the
// store, and the summary shows the bytes they still need.
int32_t RoomForEveryLine(const StoreFolder& folder, uint32_t codePage, int32_t defaultUser) {
  ReportRequest measure;
  measure.output.codePage = codePage;
  measure.defaultUserId = defaultUser;
  measure.keepSessions = true;
  const int32_t needed = RunReport(measure, &folder.files);
  return needed < std::numeric_limits<int32_t>::max() ? needed + 1 : needed;
}

std::string Summary(const ReportSummary& summary, const StoreFolder& folder, bool dryRun) {
  if (summary.reportingOff) {
    return "reporting is switched off (UploadPSR=0 in '" + folder.controlFile +
           "'); nothing reported";
  }
  const EmissionOutcome& emission = summary.emission;
  std::string text = dryRun ? "dry run: " : "";
  text += Count(emission.linesDelivered, "line") + " delivered (" +
          Count(emission.bytesWritten, "byte") + "), " +
          Count(static_cast<uint32_t>(emission.bytesStillNeeded), "byte") + " still needed";
  if (emission.linesDropped != 0) {
    text += ", " + Count(emission.linesDropped, "line") + " not convertible";
  }
  if (dryRun) {
    text += "; " + Count(emission.sessionsDelivered, "session") + " would be removed, " +
            std::to_string(emission.sessionsLeft - emission.sessionsDelivered) + " left";
  } else {
    text += "; " + Count(emission.sessionsRemoved, "session") + " removed, " +
            std::to_string(emission.sessionsLeft) + " left";
  }
  text += ", " + Count(summary.gathering.liveSessionsSkipped, "live session") + " skipped";
  if (dryRun) {
    text += "; nothing changed";
  }
  return text;
}

}  // namespace

int RunReportCommand(const ReportOptions& options) {
  const uint32_t codePage = ParseCodePage(options.codePage);
  const int32_t defaultUser =
      ParseInt32(options.defaultUser, "--default-user", std::numeric_limits<int32_t>::min(),
                 std::numeric_limits<int32_t>::max());
  int32_t bufferSize = 0;
  if (options.bufferSize) {
    bufferSize =
        ParseInt32(*options.bufferSize, "--buffer-size", 0, std::numeric_limits<int32_t>::max());
  }
  const StoreFolder folder = OpenStoreFolder(options.folder);
  if (!PrepareStandardOutput()) {
    throw RunError("standard output is closed");
  }
  if (!options.bufferSize) {
    bufferSize = RoomForEveryLine(folder, codePage, defaultUser);
  }

  std::vector<char> buffer(static_cast<size_t>(bufferSize));
  int32_t written = 0;
  ReportRequest request;
  request.output = {buffer.data(), bufferSize, &written, codePage};
  request.defaultUserId = defaultUser;
  request.keepSessions = options.dryRun;
  ReportSummary summary;
  RunReport(request, &folder.files, &summary);

  std::fwrite(buffer.data(), 1, static_cast<size_t>(written), stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::string message =
        std::string("cannot write the report to standard output: ") + std::strerror(errno);
    if (summary.emission.sessionsRemoved != 0) {
      message += "; " + Count(summary.emission.sessionsRemoved, "session") +
                 " already removed from '" + folder.sessionStore + "'";
    }
    throw RunError(message);
  }
  std::cerr << "psrl: " << Summary(summary, folder, options.dryRun) << '\n';
  return 0;
}

}  // namespace psrl::tool
