// Running the built psrl command as a user does: arguments in, standard output, standard
// error and exit status out.
#pragma once

#include <string>
#include <vector>

namespace psrl::testing {

// The built psrl command.
const std::string& ToolPath();

struct ToolOutcome {
  int status = -1;  // the exit status; 128 + the signal number when a signal ended it
  std::string out;
  std::string err;
};

// Runs psrl with `arguments` and waits for it to end.
ToolOutcome RunTool(const std::vector<std::string>& arguments);

// psrl running in the background while the test goes on; killed if still running when
// the object goes.
class BackgroundTool {
 public:
  explicit BackgroundTool(const std::vector<std::string>& arguments);
  ~BackgroundTool();
  BackgroundTool(const BackgroundTool&) = delete;
  BackgroundTool& operator=(const BackgroundTool&) = delete;

  // Reads its standard error until it contains `text` (or ends); returns what was read.
  std::string WaitForError(const std::string& text);
  // Asks it to stop, as a termination request from the system does.
  void Interrupt();
  // Waits for it to end.
  ToolOutcome Finish();

 private:
  int process_ = -1;
  int outPipe_ = -1;
  int errPipe_ = -1;
  std::string err_;
};

}  // namespace psrl::testing
