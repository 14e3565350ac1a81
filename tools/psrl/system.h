// The few operating-system services the command needs beyond the library's platform
// layer: the command line, standard output for raw bytes, child processes, and waiting
// for an interrupt. posix/ implements them for Linux, win32/ for Windows.
#pragma once

#include <string>
#include <vector>

namespace psrl::tool {

// Readies the standard streams (text leaves them as UTF-8 with "\n" line ends) and
// returns the command line as UTF-8 words, the program's name first.
std::vector<std::string> CommandLineWords(int argc, char** argv);

// Readies standard output for raw report bytes (no newline translation), so that a
// failed write shows as an error rather than ending the process. False when standard
// output is not open at all.
bool PrepareStandardOutput();

// Runs `command` (its first word looked up on the search path) and waits for it,
// passing on interrupts meant for this process. Returns its exit status, 128 + the
// signal number when a signal ended it. Throws RunError when it cannot be started.
int RunChildCommand(const std::vector<std::string>& command);

// Interrupts (Ctrl-C, a termination request) are held back from here on, so that none
// is lost between announcing a wait and starting it.
void DeferInterruptions();

// Waits until an interrupt arrives; DeferInterruptions() must have been called.
void WaitForInterruption();

}  // namespace psrl::tool
