// psrl sessions: the store's sessions as a table, then the tallies that a report would
// make now. Reads only.
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "files/profile_access.h"
#include "files/session_store.h"
#include "report/emission.h"
#include "report/gathering.h"
#include "report/report_run.h"
#include "store_folder.h"

namespace psrl::tool {
namespace {

using Row = std::vector<std::string>;

const Row kHeading = {"SECTION", "STATE", "USER", "GAME", "STARTED", "SECONDS", "FLAGS"};
constexpr char kTallyFields[] =
    "user;game;module;path;first start;seconds;seconds without IG;sessions;"
    "sessions without IG;sessions with an error";

// Terminal columns of UTF-8 text, counted as one per character.
size_t DisplayWidth(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string Flags(const SessionRecord& session) {
  std::string flags;
  if (session.activationFlag) {
    flags = "IG";
  }
  if (session.errorCode != 0) {
    if (!flags.empty()) {
      flags += ' ';
    }
    flags += "error=" + std::to_string(session.errorCode);
  }
  return flags.empty() ? "-" : flags;
}

Row SessionRow(const std::u16string& store, const std::u16string& sectionName) {
  // Unlike a report, the table reads live sessions too: it changes nothing.
  const bool live = IsSessionLive(sectionName);
  const SessionRecord session = ReadSession(store, sectionName);
  return {ToDisplayText(sectionName),
          live ? "live" : "finished",
          std::to_string(session.userId),
          ToDisplayText(ReadGameName(store, sectionName)),
          ToDisplayText(session.startTime),
          std::to_string(session.gamingTime),
          Flags(session)};
}

void PrintTable(const std::vector<Row>& rows) {
  std::vector<size_t> widths(kHeading.size(), 0);
  for (const auto& row : rows) {
    for (size_t column = 0; column < row.size(); ++column) {
      widths[column] = std::max(widths[column], DisplayWidth(row[column]));
    }
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t column = 0; column < row.size(); ++column) {
      line += row[column];
      if (column + 1 < row.size()) {
        line.append(widths[column] - DisplayWidth(row[column]) + 2, ' ');
      }
    }
    std::cout << line << '\n';
  }
}

std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.pop_back();
  }
  return line;
}

}  // namespace

int RunSessionsCommand(const SessionsOptions& options) {
  const int32_t defaultUser =
      ParseInt32(options.defaultUser, "--default-user", std::numeric_limits<int32_t>::min(),
                 std::numeric_limits<int32_t>::max());
  const StoreFolder folder = OpenStoreFolder(options.folder);
  const std::u16string& store = folder.files.sessionStore;

  std::vector<Row> rows = {kHeading};
  std::vector<std::string> tallies;
  bool reportingOff = false;
  uint32_t live = 0;
  {
    const LibraryRun run;
    reportingOff =
        ReadProfileInt(kControlSection, kReportingSwitchKey, 1, folder.files.controlFile) == 0;
    const auto sectionNames = ReadSectionNames(store);
    for (const auto& sectionName : sectionNames) {
      rows.push_back(SessionRow(store, sectionName));
    }
    AggregateTable table;
    live = GatherSessions(store, sectionNames, defaultUser, table).liveSessionsSkipped;
    for (const auto& [key, aggregate] : table) {
      tallies.push_back(WithoutLineEnd(ToDisplayText(FormatReportLine(aggregate))));
    }
  }

  if (rows.size() == 1) {
    std::cout << "No sessions in '" << folder.sessionStore << "'.\n";
  } else {
    std::cout << "Sessions in '" << folder.sessionStore << "': " << rows.size() - 1 << " (" << live
              << " live)\n";
    PrintTable(rows);
  }
  std::cout << '\n';
  if (reportingOff) {
    std::cout << "Reporting is switched off (UploadPSR=0 in '" << folder.controlFile
              << "'): a report now delivers nothing.\n";
  } else {
    std::cout << "Tallies a report would make now: " << tallies.size() << '\n';
    if (!tallies.empty()) {
      std::cout << kTallyFields << '\n';
      for (const auto& line : tallies) {
        std::cout << line << '\n';
      }
    }
  }
  return 0;
}

}  // namespace psrl::tool
