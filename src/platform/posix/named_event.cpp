// Liveness of a named event on Linux. The owner of a running session keeps a datagram
// socket bound to the event's abstract address; the kernel drops it when that process
// ends, as Windows drops an event with its last handle. The test only connects, so it
// can never take the name from its owner.
//
// Outside a run each test connects a fresh socket and closes it. Within a run one probe
// socket serves every test: creating and closing a socket costs about four times the
// connect itself, and a report tests every session of the store. The socket is never
// bound, a failed connect leaves it unconnected, and a successful one is dissolved at
// once (connect to AF_UNSPEC), so between tests it refers to no owner's socket, just as
// a closed one would not. Success means live and any failure finished, either way.
#include "platform/posix/named_event.h"

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/platform.h"
#include "platform/posix/text_encoding.h"

namespace psrl::platform {
namespace posix {
namespace {

constexpr std::string_view kNamedPrefix = "psrl-event:";
constexpr std::string_view kHashedPrefix = "psrl-event#";
// sun_path less the leading zero byte of the abstract namespace.
constexpr size_t kMaxAbstractName = sizeof(sockaddr_un::sun_path) - 1;

struct RunProbe {
  std::mutex mutex;
  unsigned runDepth = 0;
  int socket = -1;  // opened at the run's first test
};

RunProbe& TheRunProbe() {
  static RunProbe probe;
  return probe;
}

int OpenProbeSocket() { return socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0); }

bool Connects(int probe, const EventAddress& address) {
  return connect(probe, reinterpret_cast<const sockaddr*>(&address.address), address.length) == 0;
}

// The test within a run, on the shared socket.
bool IsOpenInRun(RunProbe& run, const EventAddress& address) {
  if (run.socket < 0) {
    run.socket = OpenProbeSocket();
    if (run.socket < 0) return false;
  }
  if (!Connects(run.socket, address)) return false;
  sockaddr none{};
  none.sa_family = AF_UNSPEC;
  if (connect(run.socket, &none, sizeof none) != 0) {
    // Still connected to the owner: give the socket up rather than keep that reference.
    close(run.socket);
    run.socket = -1;
  }
  return true;
}

uint64_t Fnv1a64(std::string_view bytes) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char byte : bytes) {
    hash ^= static_cast<uint8_t>(byte);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

}  // namespace

EventAddress MakeEventAddress(std::u16string_view name) {
  EventAddress result;
  result.address.sun_family = AF_UNIX;
  // The name goes after the zero byte that marks the abstract namespace.
  char* const begin = result.address.sun_path + 1;
  char* end = begin;
  const auto append = [&end](std::string_view bytes) {
    end = std::copy(bytes.begin(), bytes.end(), end);
  };
  const bool ascii = std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x80; });
  if (ascii && kNamedPrefix.size() + name.size() <= kMaxAbstractName) {
    // The common case: ASCII is its own UTF-8, so no conversion is needed.
    append(kNamedPrefix);
    end = std::transform(name.begin(), name.end(), end,
                         [](char16_t c) { return static_cast<char>(c); });
  } else if (const std::string utf8 = EncodeUtf8(name);
             kNamedPrefix.size() + utf8.size() <= kMaxAbstractName) {
    append(kNamedPrefix);
    append(utf8);
  } else {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    append(kHashedPrefix);
    const uint64_t hash = Fnv1a64(utf8);
    for (int shift = 60; shift >= 0; shift -= 4) {
      *end++ = kHexDigits[(hash >> shift) & 0xF];
    }
  }
  result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + (end - begin));
  return result;
}

void NamedEventBeginRun() {
  try {
    RunProbe& run = TheRunProbe();
    const std::lock_guard lock(run.mutex);
    ++run.runDepth;
  } catch (...) {
    // Without a run each test opens its own socket: slower, equally right.
  }
}

void NamedEventEndRun() noexcept {
  try {
    RunProbe& run = TheRunProbe();
    const std::lock_guard lock(run.mutex);
    if (run.runDepth == 0 || --run.runDepth > 0) return;
    if (run.socket >= 0) {
      close(run.socket);
      run.socket = -1;
    }
  } catch (...) {
    // The lock does not fail on a working mutex; if it did, the socket would stay open
    // until a later run closes it.
  }
}

}  // namespace posix

bool NamedEventIsOpen(const char16_t* name) {
  if (name == nullptr) return false;
  try {
    const auto address = posix::MakeEventAddress(name);
    posix::RunProbe& run = posix::TheRunProbe();
    {
      const std::lock_guard lock(run.mutex);
      if (run.runDepth > 0) return posix::IsOpenInRun(run, address);
    }
    const int probe = posix::OpenProbeSocket();
    if (probe < 0) return false;
    const bool live = posix::Connects(probe, address);
    close(probe);
    return live;
  } catch (...) {
    return false;
  }
}

}  // namespace psrl::platform
