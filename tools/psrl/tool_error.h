// The failures the psrl command reports to its user, each with its exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace psrl::tool {

inline constexpr int kExitRunFailure = 1;  // the command could not do its job
inline constexpr int kExitUsageError = 2;  // the command line asks for something invalid

class ToolError : public std::runtime_error {
 public:
  ToolError(const std::string& message, int exitStatus)
      : std::runtime_error(message), exitStatus_(exitStatus) {}
  int exitStatus() const { return exitStatus_; }

 private:
  int exitStatus_;
};

// A malformed command line: a bad number, name, key or value.
class UsageError : public ToolError {
 public:
  explicit UsageError(const std::string& message) : ToolError(message, kExitUsageError) {}
};

// Something the command met while running: a missing folder, a session held elsewhere.
class RunError : public ToolError {
 public:
  explicit RunError(const std::string& message) : ToolError(message, kExitRunFailure) {}
};

}  // namespace psrl::tool
