// The last phase of a report: one line per tally into the caller's buffer, and the
// sessions of every delivered line deleted from the store.
#pragma once

#include <cstdint>
#include <string>

#include "report/aggregate.h"

namespace psrl {

// The caller's side of a report.
struct ReportBuffer {
  char* buffer = nullptr;  // null counts as a buffer of 0 bytes
  int32_t bufferSize = 0;
  int32_t* written = nullptr;  // may be null
  uint32_t codePage = 0;
};

struct EmissionOutcome {
  int32_t bytesStillNeeded = 0;  // the call's result
  uint32_t linesDelivered = 0;
  uint32_t bytesWritten = 0;
  uint32_t linesNotDelivered = 0;  // did not fit
  uint32_t linesDropped = 0;       // could not be converted
  uint32_t sessionsRemoved = 0;
  uint32_t sessionsLeft = 0;
  uint32_t sessionsDelivered = 0;  // of delivered lines, removed unless keepSessions is set
};

// The report line of `aggregate`: ten fields separated by ";" and ended by "\r\n".
std::u16string FormatReportLine(const GameAggregate& aggregate);

// Takes every aggregate out of `table` in key order and places its converted line into
// the buffer when it fits with a zero byte after it. The sessions of a delivered line
// are deleted from `store` unless `keepSessions` is set. `outcome` is updated line by
// line, so it stays true when the walk ends early.
void EmitReport(AggregateTable& table, const std::u16string& store, const ReportBuffer& output,
                bool keepSessions, EmissionOutcome& outcome);

}  // namespace psrl
