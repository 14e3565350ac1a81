#include "report/report_run.h"

#include <utility>

#include "files/file_locations.h"
#include "files/profile_access.h"
#include "platform/platform.h"

namespace psrl {
namespace {

constexpr int32_t kReportingOnByDefault = 1;

void ClearOutput(const ReportBuffer& output) {
  if (output.buffer != nullptr) output.buffer[0] = '\0';
  if (output.written != nullptr) *output.written = 0;
}

void RunPhases(const ReportRequest& request, const ReportFiles* files, ReportSummary& summary) {
  const std::u16string controlFile = files != nullptr ? files->controlFile : GetControlFilePath();
  if (ReadProfileInt(kControlSection, kReportingSwitchKey, kReportingOnByDefault, controlFile) ==
      0) {
    summary.reportingOff = true;
    return;
  }
  const std::u16string& store = files != nullptr ? files->sessionStore : GetSessionStorePath();
  auto sectionNames = ReadSectionNames(store);
  summary.sessionsInStore = static_cast<uint32_t>(sectionNames.size());
  if (sectionNames.empty()) return;

  AggregateTable table;
  summary.gathering = GatherSessions(store, std::move(sectionNames), request.defaultUserId, table);
  if (table.empty()) return;
  EmitReport(table, store, request.output, request.keepSessions, summary.emission);
}

}  // namespace

int32_t RunReport(const ReportRequest& request, const ReportFiles* files,
                  ReportSummary* summary) noexcept {
  ClearOutput(request.output);
  ReportSummary local;
  ReportSummary& outcome = summary != nullptr ? *summary : local;
  outcome = ReportSummary{};
  try {
    platform::BeginRun();
    RunPhases(request, files, outcome);
  } catch (...) {
    // Out of memory part-way: what was placed stays placed, and its sessions are
    // deleted below with the rest of the run's changes.
  }
  platform::EndRun();
  return outcome.emission.bytesStillNeeded;
}

}  // namespace psrl
