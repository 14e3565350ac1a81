// psrl: the report of the library run on a folder given on the command line, and the
// tools around it (the store's sessions, adding a session, holding sessions live).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <exception>
#include <iostream>
#include <iterator>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "system.h"
#include "tool_error.h"

namespace psrl::tool {
namespace {

constexpr char kHoldName[] = "hold";

// "psrl hold NAME... -- COMMAND...": everything after the first "--" is the command,
// which CLI11 would otherwise add to the names.
std::vector<std::string> SplitHoldCommand(std::vector<std::string> arguments,
                                          std::vector<std::string>& command) {
  if (arguments.size() < 2 || arguments[1] != kHoldName) {
    return arguments;
  }
  const auto separator = std::find(arguments.begin() + 2, arguments.end(), "--");
  if (separator == arguments.end()) {
    return arguments;
  }
  command.assign(separator + 1, arguments.end());
  arguments.erase(separator, arguments.end());
  return arguments;
}

int Run(std::vector<std::string> words) {
  ReportOptions report;
  SessionsOptions sessions;
  AddOptions add;
  HoldOptions hold;
  std::string bufferSize;

  CLI::App app{"Reports finished game sessions from a session store, as the library's GetPSR does",
               "psrl"};
  app.require_subcommand(1);

  auto* reportCommand = app.add_subcommand(
      "report",
      "Run one report over DIR's psrl.ini and plg.dat: lines to standard output (raw "
      "bytes), a summary to standard error; delivered sessions leave the store");
  reportCommand->add_option("--dir", report.folder, "Folder of psrl.ini and plg.dat")
      ->option_text("DIR (default: .)");
  reportCommand->add_option("--code-page", report.codePage, "Code page of the lines")
      ->option_text("CP (default: 65001, UTF-8)");
  auto* bufferOption =
      reportCommand->add_option("--buffer-size", bufferSize, "Bytes of the report buffer")
          ->option_text("N (default: room for every line)");
  reportCommand
      ->add_option("--default-user", report.defaultUser,
                   "User id of sessions recorded with UserID 0")
      ->option_text("ID (default: 0)");
  reportCommand->add_flag("--dry-run", report.dryRun,
                          "Show the same lines and summary, and change nothing");

  auto* sessionsCommand = app.add_subcommand(
      "sessions", "List the sessions of DIR's plg.dat and the tallies a report would make now");
  sessionsCommand->add_option("--dir", sessions.folder, "Folder of psrl.ini and plg.dat")
      ->option_text("DIR (default: .)");
  sessionsCommand
      ->add_option("--default-user", sessions.defaultUser,
                   "User id of sessions recorded with UserID 0")
      ->option_text("ID (default: 0)");

  auto* addCommand = app.add_subcommand(
      "add", "Write (or update) session NAME in DIR's plg.dat, as the recorder does");
  addCommand->add_option("--dir", add.folder, "Folder of plg.dat")->option_text("DIR (default: .)");
  addCommand->add_option("NAME", add.name, "Section name of the session")->required();
  addCommand->add_option("PAIRS", add.pairs, "Keys to set, e.g. UserID=7 GamingTime=300")
      ->option_text("KEY=VALUE ...")
      ->required();

  auto* holdCommand = app.add_subcommand(
      kHoldName,
      "Keep sessions live, so that reports skip them, until COMMAND exits (then exit "
      "with its status) or, without a command, until interrupted");
  holdCommand->add_option("NAME", hold.names, "Section names of the sessions")->required();
  holdCommand->footer("Usage: psrl hold NAME... [-- COMMAND [ARGUMENT...]]");

  // CLI11 would only say that a subcommand is required.
  const CLI::App* const subcommands[] = {reportCommand, sessionsCommand, addCommand, holdCommand};
  if (words.size() > 1 && !words[1].starts_with('-') &&
      std::none_of(std::begin(subcommands), std::end(subcommands),
                   [&](const CLI::App* command) { return command->check_name(words[1]); })) {
    throw UsageError("unknown subcommand '" + words[1] +
                     "'; the subcommands are report, sessions, add and hold");
  }
  std::vector<std::string> arguments = SplitHoldCommand(std::move(words), hold.command);
  std::vector<char*> parsed;
  parsed.reserve(arguments.size());
  parsed.reserve(arguments.size());
  for (auto& argument : arguments) {
    parsed.push_back(argument.data());
  }
  try {
    app.parse(static_cast<int>(parsed.size()), parsed.data());
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
      return app.exit(error);
    }
    std::cerr << "psrl: " << error.what() << "\nRun 'psrl --help' or 'psrl SUBCOMMAND --help'.\n";
    return kExitUsageError;
  }

  if (reportCommand->parsed()) {
    if (bufferOption->count() > 0) {
      report.bufferSize = bufferSize;
    }
    return RunReportCommand(report);
  }
  if (sessionsCommand->parsed()) {
    return RunSessionsCommand(sessions);
  }
  if (addCommand->parsed()) {
    return RunAddCommand(add);
  }
  return RunHoldCommand(hold);
}

}  // namespace
}  // namespace psrl::tool

int main(int argc, char** argv) {
  try {
    return psrl::tool::Run(psrl::tool::CommandLineWords(argc, argv));
  } catch (const psrl::tool::ToolError& error) {
    std::cerr << "psrl: " << error.what() << '\n';
    return error.exitStatus();
  } catch (const std::bad_alloc&) {
    std::cerr << "psrl: out of memory\n";
  } catch (const std::exception& error) {
    std::cerr << "psrl: " << error.what() << '\n';
  } catch (...) {
    std::cerr << "psrl: unexpected failure\n";
  }
  return psrl::tool::kExitRunFailure;
}
