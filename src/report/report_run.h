// One complete report: the switch, gathering, emission, and the end of the run.
#pragma once

#include <cstdint>
#include <string>

#include "report/emission.h"
#include "report/gathering.h"

namespace psrl {

// The section and key of the reporting switch in the control file.
inline constexpr char16_t kControlSection[] = u"Ctrl";
inline constexpr char16_t kReportingSwitchKey[] = u"UploadPSR";

struct ReportRequest {
  ReportBuffer output;
  int32_t defaultUserId = 0;
  bool keepSessions = false;  // report without deleting anything (a dry run)
};

// The files of a report, when they are not the ones beside the library.
struct ReportFiles {
  std::u16string controlFile;
  std::u16string sessionStore;
};

struct ReportSummary {
  bool reportingOff = false;
  uint32_t sessionsInStore = 0;
  GatheringOutcome gathering;
  EmissionOutcome emission;
};

// Runs one report and returns the bytes that the undelivered lines need. `files` null
// means the library's own files. Never throws: a failure part-way (memory running out)
// ends the run early, keeping the lines already placed and deleting their sessions.
int32_t RunReport(const ReportRequest& request, const ReportFiles* files,
                  ReportSummary* summary = nullptr) noexcept;

}  // namespace psrl
