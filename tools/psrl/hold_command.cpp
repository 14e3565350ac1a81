// psrl hold: keeps sessions live, as their recorder does while a game runs, until a
// command ends or until interrupted.
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "files/session_store.h"
#include "platform/session_event_owner.h"
#include "system.h"
#include "tool_error.h"

namespace psrl::tool {
namespace {

std::string JoinQuoted(const std::vector<std::string>& words, const char* separator) {
  std::string text;
  for (const auto& word : words) {
    if (!text.empty()) {
      text += separator;
    }
    text += "'" + word + "'";
  }
  return text;
}

std::vector<platform::SessionEventOwner> HoldAll(const std::vector<std::string>& names) {
  std::vector<platform::SessionEventOwner> owners;
  owners.reserve(names.size());
  for (const auto& name : names) {
    const std::u16string event = ToLibraryText(name, "session name");
    if (IsSessionLive(event)) {
      throw RunError("cannot hold session '" + name + "': another process holds it already");
    }
    platform::SessionEventOwner owner(event);
    if (!owner.valid()) {
      throw RunError("cannot hold session '" + name + "'");
    }
    owners.push_back(std::move(owner));
  }
  return owners;
}

}  // namespace

int RunHoldCommand(const HoldOptions& options) {
  for (auto name = options.names.begin(); name != options.names.end(); ++name) {
    CheckSectionName(*name);
    if (std::find(options.names.begin(), name, *name) != name) {
      throw UsageError("session name '" + *name + "' is given twice");
    }
  }
  const auto owners = HoldAll(options.names);
  const std::string held = JoinQuoted(options.names, ", ");
  if (!options.command.empty()) {
    std::cerr << "psrl: holding " << held << " while " << JoinQuoted(options.command, " ")
              << " runs\n";
    return RunChildCommand(options.command);
  }
  DeferInterruptions();
  std::cerr << "psrl: holding " << held << " until interrupted\n";
  WaitForInterruption();
  std::cerr << "psrl: released " << held << '\n';
  return 0;
}

}  // namespace psrl::tool
