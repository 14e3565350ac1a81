// The built psrl started with fork and exec, its output read through pipes.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>

#include "tool/tool_process.h"

namespace psrl::testing {
namespace {

struct Pipe {
  int read = -1;
  int write = -1;
};

Pipe MakePipe() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  return {ends[0], ends[1]};
}

// Starts psrl with its standard output and error going into the two pipes.
pid_t Start(const std::vector<std::string>& arguments, const Pipe& out, const Pipe& err) {
  std::vector<std::string> words = {ToolPath()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  argv.reserve(words.size());
  for (auto& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    throw std::runtime_error("fork failed");
  }
  if (child == 0) {
    dup2(out.write, STDOUT_FILENO);
    dup2(err.write, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out.write);
  close(err.write);
  return child;
}

// Appends one chunk from `fd` to `text`; false at its end.
bool ReadChunk(int fd, std::string& text) {
  char chunk[4096];
  for (;;) {
    const ssize_t count = read(fd, chunk, sizeof chunk);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      return false;
    }
    text.append(chunk, static_cast<size_t>(count));
    return true;
  }
}

// Reads both pipes to their ends, whichever has data first, and closes them.
void Drain(int& outPipe, int& errPipe, ToolOutcome& outcome) {
  pollfd polled[2] = {{outPipe, POLLIN, 0}, {errPipe, POLLIN, 0}};
  std::string* texts[2] = {&outcome.out, &outcome.err};
  int open = 0;
  for (const auto& entry : polled) {
    open += entry.fd >= 0 ? 1 : 0;
  }
  while (open > 0) {
    if (poll(polled, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw std::runtime_error("poll failed");
    }
    for (int i = 0; i < 2; ++i) {
      if (polled[i].fd >= 0 && polled[i].revents != 0 && !ReadChunk(polled[i].fd, *texts[i])) {
        close(polled[i].fd);
        polled[i].fd = -1;
        --open;
      }
    }
  }
  outPipe = -1;
  errPipe = -1;
}

int Wait(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      throw std::runtime_error("waitpid failed");
    }
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

}  // namespace

const std::string& ToolPath() {
  static const std::string path = PSRL_TOOL_PATH;
  return path;
}

ToolOutcome RunTool(const std::vector<std::string>& arguments) {
  const Pipe out = MakePipe();
  const Pipe err = MakePipe();
  const pid_t child = Start(arguments, out, err);
  ToolOutcome outcome;
  int outRead = out.read;
  int errRead = err.read;
  Drain(outRead, errRead, outcome);
  outcome.status = Wait(child);
  return outcome;
}

BackgroundTool::BackgroundTool(const std::vector<std::string>& arguments) {
  const Pipe out = MakePipe();
  const Pipe err = MakePipe();
  process_ = Start(arguments, out, err);
  outPipe_ = out.read;
  errPipe_ = err.read;
}

BackgroundTool::~BackgroundTool() {
  if (process_ > 0) {
    kill(process_, SIGKILL);
    waitpid(process_, nullptr, 0);
  }
  if (outPipe_ >= 0) {
    close(outPipe_);
  }
  if (errPipe_ >= 0) {
    close(errPipe_);
  }
}

std::string BackgroundTool::WaitForError(const std::string& text) {
  while (err_.find(text) == std::string::npos && ReadChunk(errPipe_, err_)) {
  }
  return err_;
}

void BackgroundTool::Interrupt() { kill(process_, SIGTERM); }

ToolOutcome BackgroundTool::Finish() {
  ToolOutcome outcome;
  outcome.err = err_;
  Drain(outPipe_, errPipe_, outcome);
  outcome.status = Wait(process_);
  process_ = -1;
  return outcome;
}

}  // namespace psrl::testing
