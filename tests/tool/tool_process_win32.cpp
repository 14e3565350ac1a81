// The built psrl.exe started with CreateProcessW, its output read through pipes: standard
// output by a thread of its own, so that neither pipe fills while the other is read.
#include <windows.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_folder.h"
#include "tool/tool_process.h"

namespace psrl::testing {
namespace {

// Handles are kept in the class's int members: Windows handles have 32 significant bits
// (HandleToLong and LongToHandle convert them).
HANDLE AsHandle(int value) { return LongToHandle(value); }
int AsInt(HANDLE handle) { return HandleToLong(handle); }

struct Pipe {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
};

// A pipe whose write end the child inherits.
Pipe MakePipe() {
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Pipe pipe;
  if (CreatePipe(&pipe.read, &pipe.write, &inherited, 0) == 0 ||
      SetHandleInformation(pipe.read, HANDLE_FLAG_INHERIT, 0) == 0) {
    throw std::runtime_error("CreatePipe failed");
  }
  return pipe;
}

// `word` quoted as the C runtime's argument parser takes it back unchanged.
std::wstring Quoted(const std::string& utf8) {
  const std::u16string text = ToU16(utf8);
  const std::wstring word(text.begin(), text.end());
  if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return word;
  }
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

// Starts psrl with its standard output and error going into the two pipes, in a process
// group of its own so that a Ctrl-Break can be sent to it alone.
HANDLE Start(const std::vector<std::string>& arguments, const Pipe& out, const Pipe& err) {
  std::wstring line = Quoted(ToolPath());
  for (const auto& argument : arguments) {
    line += L' ' + Quoted(argument);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out.write;
  startup.hStdError = err.write;
  PROCESS_INFORMATION process{};
  const BOOL started =
      CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                     nullptr, nullptr, &startup, &process);
  const DWORD error = GetLastError();
  CloseHandle(out.write);
  CloseHandle(err.write);
  if (started == 0) {
    CloseHandle(out.read);
    CloseHandle(err.read);
    throw std::runtime_error("CreateProcessW failed for " + ToolPath() + ": error " +
                             std::to_string(error));
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

// Appends one chunk from `pipe` to `text`; false at its end.
bool ReadChunk(HANDLE pipe, std::string& text) {
  char chunk[4096];
  DWORD count = 0;
  if (ReadFile(pipe, chunk, sizeof chunk, &count, nullptr) == 0 || count == 0) {
    return false;
  }
  text.append(chunk, count);
  return true;
}

void ReadAll(HANDLE pipe, std::string& text) {
  while (ReadChunk(pipe, text)) {
  }
}

// Reads both pipes to their ends and closes them.
void Drain(int& outPipe, int& errPipe, ToolOutcome& outcome) {
  const HANDLE out = AsHandle(outPipe);
  const HANDLE err = AsHandle(errPipe);
  std::thread outReader(ReadAll, out, std::ref(outcome.out));
  ReadAll(err, outcome.err);
  outReader.join();
  CloseHandle(out);
  CloseHandle(err);
  outPipe = -1;
  errPipe = -1;
}

int Wait(HANDLE process) {
  DWORD status = 0;
  if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0 ||
      GetExitCodeProcess(process, &status) == 0) {
    throw std::runtime_error("cannot wait for psrl");
  }
  CloseHandle(process);
  return static_cast<int>(status);
}

}  // namespace

const std::string& ToolPath() {
  static const std::string path = PSRL_TOOL_PATH;
  return path;
}

ToolOutcome RunTool(const std::vector<std::string>& arguments) {
  const Pipe out = MakePipe();
  const Pipe err = MakePipe();
  const HANDLE child = Start(arguments, out, err);
  ToolOutcome outcome;
  int outRead = AsInt(out.read);
  int errRead = AsInt(err.read);
  Drain(outRead, errRead, outcome);
  outcome.status = Wait(child);
  return outcome;
}

BackgroundTool::BackgroundTool(const std::vector<std::string>& arguments) {
  const Pipe out = MakePipe();
  const Pipe err = MakePipe();
  process_ = AsInt(Start(arguments, out, err));
  outPipe_ = AsInt(out.read);
  errPipe_ = AsInt(err.read);
}

BackgroundTool::~BackgroundTool() {
  if (process_ != -1) {
    TerminateProcess(AsHandle(process_), 1);
    Wait(AsHandle(process_));
  }
  if (outPipe_ != -1) {
    CloseHandle(AsHandle(outPipe_));
  }
  if (errPipe_ != -1) {
    CloseHandle(AsHandle(errPipe_));
  }
}

std::string BackgroundTool::WaitForError(const std::string& text) {
  while (err_.find(text) == std::string::npos && ReadChunk(AsHandle(errPipe_), err_)) {
  }
  return err_;
}

// Windows has no termination signal: a console program is asked to stop with Ctrl-Break,
// which reaches it only when it shares this process's console.
void BackgroundTool::Interrupt() {
  if (GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, GetProcessId(AsHandle(process_))) == 0) {
    throw std::runtime_error("GenerateConsoleCtrlEvent failed: " + std::to_string(GetLastError()));
  }
}

ToolOutcome BackgroundTool::Finish() {
  ToolOutcome outcome;
  outcome.err = err_;
  Drain(outPipe_, errPipe_, outcome);
  outcome.status = Wait(AsHandle(process_));
  process_ = -1;
  return outcome;
}

}  // namespace psrl::testing
