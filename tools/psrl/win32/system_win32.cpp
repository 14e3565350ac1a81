// The command's operating-system services on Windows: the command line as UTF-16, binary
// standard streams, console control handlers, and CreateProcessW.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "system.h"
#include "tool_error.h"

namespace psrl::tool {
namespace {

std::string ToUtf8(const wchar_t* text) {
  const int needed = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    return {};
  }
  std::string bytes(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), needed, nullptr, nullptr);
  bytes.pop_back();  // the terminating zero
  return bytes;
}

std::wstring ToWide(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(needed > 0 ? needed : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), needed);
  return wide;
}

// The system's text for error `code`, without its closing full stop and line end.
std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = length > 0 ? ToUtf8(text) : "";
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(code) : message;
}

// Appends `word` to `line` so that the C runtime's argument parser (and
// CommandLineToArgvW) gives it back unchanged: in quotes when it holds a blank or a
// quote or is empty; inside them a quote, and the backslashes before a quote or before
// the closing quote, are escaped with backslashes.
void AppendQuoted(std::wstring& line, const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += word;
    return;
  }
  line += L'"';
  for (auto at = word.begin();; ++at) {
    size_t backslashes = 0;
    while (at != word.end() && *at == L'\\') {
      ++at;
      ++backslashes;
    }
    if (at == word.end()) {
      line.append(backslashes * 2, L'\\');
      break;
    }
    if (*at == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
    } else {
      line.append(backslashes, L'\\');
    }
    line += *at;
  }
  line += L'"';
}

// While a command runs, Ctrl-C and Ctrl-Break are the command's to handle: it shares the
// console and receives them too, and this process stays to report its status.
BOOL WINAPI LeaveInterruptsToChild(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

class InterruptsLeftToChild {
 public:
  InterruptsLeftToChild() { SetConsoleCtrlHandler(LeaveInterruptsToChild, TRUE); }
  ~InterruptsLeftToChild() { SetConsoleCtrlHandler(LeaveInterruptsToChild, FALSE); }
  InterruptsLeftToChild(const InterruptsLeftToChild&) = delete;
  InterruptsLeftToChild& operator=(const InterruptsLeftToChild&) = delete;
};

// Closes a handle when it goes.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (handle_ != nullptr) {
      CloseHandle(handle_);
    }
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Set by the first interrupt once DeferInterruptions() has run; never closed, since the
// handler may use it until the process ends.
HANDLE g_interrupted = nullptr;

BOOL WINAPI NoteInterruption(DWORD /*event*/) {
  SetEvent(g_interrupted);
  return TRUE;
}

UINT g_consoleOutputCodePage = 0;

void RestoreConsoleOutputCodePage() { SetConsoleOutputCP(g_consoleOutputCodePage); }

// Text goes out as the same bytes as on other systems: UTF-8 with "\n" line ends. A
// console is switched to UTF-8 while the command runs, so that it shows that text.
void PrepareStandardStreams() {
  for (FILE* stream : {stdout, stderr}) {
    const int descriptor = _fileno(stream);
    if (descriptor >= 0) {
      _setmode(descriptor, _O_BINARY);
    }
  }
  DWORD mode = 0;
  if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0 ||
      GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0) {
    g_consoleOutputCodePage = GetConsoleOutputCP();
    if (g_consoleOutputCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8) != 0) {
      std::atexit(RestoreConsoleOutputCodePage);
    }
  }
}

// A child's standard handle: this process's own, made inheritable so that the child
// writes where this process writes.
HANDLE InheritedStandardHandle(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  return handle;
}

}  // namespace

std::vector<std::string> CommandLineWords(int /*argc*/, char** /*argv*/) {
  PrepareStandardStreams();
  // The C runtime's argv is in the ANSI code page; the command line itself is UTF-16.
  int count = 0;
  wchar_t** const words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == nullptr) {
    throw RunError("cannot read the command line: " + SystemMessage(GetLastError()));
  }
  std::vector<std::string> result;
  result.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    result.push_back(ToUtf8(words[i]));
  }
  LocalFree(static_cast<void*>(words));
  return result;
}

bool PrepareStandardOutput() {
  const int descriptor = _fileno(stdout);
  const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (descriptor < 0 || handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    return false;
  }
  _setmode(descriptor, _O_BINARY);
  return true;
}

int RunChildCommand(const std::vector<std::string>& command) {
  std::wstring line;
  for (const auto& word : command) {
    if (!line.empty()) {
      line += L' ';
    }
    AppendQuoted(line, ToWide(word));
  }
  std::fflush(stdout);
  std::fflush(stderr);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = InheritedStandardHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = InheritedStandardHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = InheritedStandardHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  const InterruptsLeftToChild interrupts;
  // CreateProcessW may write into the command line.
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process) == 0) {
    throw RunError("cannot run '" + command[0] + "': " + SystemMessage(GetLastError()));
  }
  const OwnedHandle child(process.hProcess);
  CloseHandle(process.hThread);
  DWORD status = 0;
  if (WaitForSingleObject(child.get(), INFINITE) != WAIT_OBJECT_0 ||
      GetExitCodeProcess(child.get(), &status) == 0) {
    throw RunError("cannot wait for the command: " + SystemMessage(GetLastError()));
  }
  return static_cast<int>(status);
}

void DeferInterruptions() {
  if (g_interrupted == nullptr) {
    g_interrupted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_interrupted == nullptr) {
      throw RunError("cannot wait for an interrupt: " + SystemMessage(GetLastError()));
    }
  }
  SetConsoleCtrlHandler(NoteInterruption, TRUE);
}

void WaitForInterruption() { WaitForSingleObject(g_interrupted, INFINITE); }

}  // namespace psrl::tool
