#include "report/emission.h"

#include <cstring>
#include <limits>
#include <vector>

#include "files/profile_access.h"
#include "platform/platform.h"

namespace psrl {
namespace {

constexpr char16_t kFieldSeparator = u';';
constexpr char16_t kLineEnd[] = u"\r\n";

// The bytes of `line` in the caller's code page, without the zero; empty when the
// conversion failed (an unsupported code page, for instance).
std::string ConvertLine(const std::u16string& line, uint32_t codePage) {
  const int32_t needed = platform::ConvertToCodePage(codePage, line.c_str(), nullptr, 0);
  if (needed <= 0) return {};
  std::vector<char> bytes(static_cast<size_t>(needed) + 1, '\0');
  if (platform::ConvertToCodePage(codePage, line.c_str(), bytes.data(), needed) <= 0) return {};
  // The line ends at its first zero byte, whatever the converter reported.
  return std::string(bytes.data());
}

int32_t AddSaturating(int32_t total, size_t bytes) {
  const auto room = static_cast<size_t>(std::numeric_limits<int32_t>::max() - total);
  return bytes >= room ? std::numeric_limits<int32_t>::max() : total + static_cast<int32_t>(bytes);
}

}  // namespace

std::u16string FormatReportLine(const GameAggregate& aggregate) {
  std::u16string line;
  line.reserve(aggregate.gameName.size() + aggregate.gameModuleName.size() +
               aggregate.gameFullPath.size() + aggregate.startTime.size() + 72);
  AppendDecimal(line, aggregate.userId);
  for (const auto* text : {&aggregate.gameName, &aggregate.gameModuleName, &aggregate.gameFullPath,
                           &aggregate.startTime}) {
    line.push_back(kFieldSeparator);
    line.append(*text);
  }
  for (const uint32_t number :
       {aggregate.totalTime, aggregate.timeWithoutIG, aggregate.sessionCount,
        aggregate.sessionsWithoutIG, aggregate.errorSessions}) {
    line.push_back(kFieldSeparator);
    AppendDecimal(line, number);
  }
  line.append(kLineEnd);
  return line;
}

void EmitReport(AggregateTable& table, const std::u16string& store, const ReportBuffer& output,
                bool keepSessions, EmissionOutcome& outcome) {
  char* writePosition = output.buffer;
  // Signed, so that a negative size takes nothing; a null buffer takes nothing either.
  int32_t remaining = output.buffer != nullptr ? output.bufferSize : 0;
  while (!table.empty()) {
    const auto entry = table.begin();
    const GameAggregate& aggregate = entry->second;
    const std::string bytes = ConvertLine(FormatReportLine(aggregate), output.codePage);
    const size_t length = bytes.size();
    const size_t sessions = aggregate.sectionNames.size();
    if (bytes.empty()) {
      // Dropped for this call: nothing counts, and its sessions stay in the store.
      ++outcome.linesDropped;
      outcome.sessionsLeft += sessions;
    } else if (remaining > 0 && length < static_cast<size_t>(remaining)) {
      // Copy with its zero byte, which the next line overwrites.
      std::memcpy(writePosition, bytes.data(), length);
      writePosition[length] = '\0';
      writePosition += length;
      remaining -= static_cast<int32_t>(length);
      if (output.written != nullptr) *output.written += static_cast<int32_t>(length);
      ++outcome.linesDelivered;
      outcome.bytesWritten += length;
      outcome.sessionsDelivered += sessions;
      if (!keepSessions) {
        for (const auto& sectionName : aggregate.sectionNames) RemoveSection(store, sectionName);
        outcome.sessionsRemoved += sessions;
      } else {
        outcome.sessionsLeft += sessions;
      }
    } else {
      ++outcome.linesNotDelivered;
      outcome.sessionsLeft += sessions;
      outcome.bytesStillNeeded = AddSaturating(outcome.bytesStillNeeded, length + 1);
    }
    table.erase(entry);
  }
}

}  // namespace psrl
