// The subcommands of psrl: what each takes from the command line, and the function that
// runs it and returns the exit status. Failures are thrown as ToolError.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace psrl::tool {

struct ReportOptions {
  std::string folder = ".";
  std::string codePage = "65001";
  std::optional<std::string> bufferSize;  // unset: room for every line
  std::string defaultUser = "0";
  bool dryRun = false;
};
int RunReportCommand(const ReportOptions& options);

struct SessionsOptions {
  std::string folder = ".";
  std::string defaultUser = "0";
};
int RunSessionsCommand(const SessionsOptions& options);

struct AddOptions {
  std::string folder = ".";
  std::string name;
  std::vector<std::string> pairs;  // KEY=VALUE
};
int RunAddCommand(const AddOptions& options);

struct HoldOptions {
  std::vector<std::string> names;
  std::vector<std::string> command;  // empty: hold until interrupted
};
int RunHoldCommand(const HoldOptions& options);

}  // namespace psrl::tool
