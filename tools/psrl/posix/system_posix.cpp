// The command's operating-system services on Linux: signals, posix_spawn and waitpid.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "system.h"
#include "tool_error.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): unistd.h may omit it

namespace psrl::tool {
namespace {

// The interrupts that end a hold, or that a running command receives in its place.
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<pid_t> g_childProcess{0};
static_assert(std::atomic<pid_t>::is_always_lock_free);

sigset_t InterruptSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kInterruptSignals) {
    sigaddset(&set, signal);
  }
  return set;
}

void ForwardToChild(int signal) {
  const int savedErrno = errno;
  const pid_t child = g_childProcess.load();
  if (child > 0) {
    kill(child, signal);
  }
  errno = savedErrno;
}

// Blocks the interrupts for its lifetime; the previous mask comes back afterwards.
class BlockedInterrupts {
 public:
  BlockedInterrupts() {
    const sigset_t set = InterruptSet();
    sigprocmask(SIG_BLOCK, &set, &previous_);
  }
  ~BlockedInterrupts() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  BlockedInterrupts(const BlockedInterrupts&) = delete;
  BlockedInterrupts& operator=(const BlockedInterrupts&) = delete;

  const sigset_t& previous() const { return previous_; }

 private:
  sigset_t previous_{};
};

// Spawn attributes that give the child the signal mask and the default handling of
// interrupts that it would have had without this process in between.
class ChildAttributes {
 public:
  explicit ChildAttributes(const sigset_t& mask) {
    posix_spawnattr_init(&attributes_);
    sigset_t defaults = InterruptSet();
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
    posix_spawnattr_setsigmask(&attributes_, &mask);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  ~ChildAttributes() { posix_spawnattr_destroy(&attributes_); }
  ChildAttributes(const ChildAttributes&) = delete;
  ChildAttributes& operator=(const ChildAttributes&) = delete;

  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_{};
};

// While it exists, interrupts that reach this process go on to `child`.
class ForwardedInterrupts {
 public:
  explicit ForwardedInterrupts(pid_t child) {
    g_childProcess.store(child);
    struct sigaction forward {};
    forward.sa_handler = ForwardToChild;
    sigemptyset(&forward.sa_mask);
    for (size_t i = 0; i < std::size(kInterruptSignals); ++i) {
      sigaction(kInterruptSignals[i], &forward, &previous_[i]);
    }
  }
  ~ForwardedInterrupts() {
    g_childProcess.store(0);  // reaped: its number may soon be another process's
    for (size_t i = 0; i < std::size(kInterruptSignals); ++i) {
      sigaction(kInterruptSignals[i], &previous_[i], nullptr);
    }
  }
  ForwardedInterrupts(const ForwardedInterrupts&) = delete;
  ForwardedInterrupts& operator=(const ForwardedInterrupts&) = delete;

 private:
  struct sigaction previous_[std::size(kInterruptSignals)]{};
};

int WaitForChild(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      throw RunError(std::string("cannot wait for the command: ") + std::strerror(errno));
    }
  }
  if (WIFSIGNALED(status)) {
    return 128 + WTERMSIG(status);
  }
  return WEXITSTATUS(status);
}

}  // namespace

std::vector<std::string> CommandLineWords(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool PrepareStandardOutput() {
  std::signal(SIGPIPE, SIG_IGN);
  return fcntl(STDOUT_FILENO, F_GETFD) != -1;
}

int RunChildCommand(const std::vector<std::string>& command) {
  std::vector<char*> arguments;
  arguments.reserve(command.size() + 1);
  for (const auto& word : command) {
    arguments.push_back(const_cast<char*>(word.c_str()));
  }
  arguments.push_back(nullptr);

  // Interrupts are held back until the child is known, then go to it; this process
  // stays to report the child's status and to release what it holds.
  std::optional<BlockedInterrupts> blocked(std::in_place);
  const ChildAttributes attributes(blocked->previous());
  pid_t child = 0;
  const int error =
      posix_spawnp(&child, arguments[0], nullptr, attributes.get(), arguments.data(), environ);
  if (error != 0) {
    throw RunError("cannot run '" + command[0] + "': " + std::strerror(error));
  }
  const ForwardedInterrupts forwarding(child);
  blocked.reset();
  return WaitForChild(child);
}

void DeferInterruptions() {
  const sigset_t set = InterruptSet();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

void WaitForInterruption() {
  const sigset_t set = InterruptSet();
  int signal = 0;
  while (sigwait(&set, &signal) != 0) {
  }
}

}  // namespace psrl::tool
