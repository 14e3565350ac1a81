// On Linux a session's event is a datagram socket bound to the event's abstract address;
// it disappears when the socket is closed or its process ends.
#include "platform/session_event_owner.h"

#include <sys/socket.h>
#include <unistd.h>

#include <utility>

#include "platform/posix/named_event.h"

namespace psrl::platform {

namespace {
constexpr intptr_t kNoSocket = -1;
}

SessionEventOwner::SessionEventOwner(const std::u16string& name) : handle_(kNoSocket) {
  const auto address = posix::MakeEventAddress(name);
  const int owner = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (owner < 0) return;
  if (bind(owner, reinterpret_cast<const sockaddr*>(&address.address), address.length) != 0) {
    close(owner);
    return;
  }
  handle_ = owner;
}

SessionEventOwner::~SessionEventOwner() { Release(); }

SessionEventOwner::SessionEventOwner(SessionEventOwner&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoSocket)) {}

SessionEventOwner& SessionEventOwner::operator=(SessionEventOwner&& other) noexcept {
  if (this != &other) {
    Release();
    handle_ = std::exchange(other.handle_, kNoSocket);
  }
  return *this;
}

bool SessionEventOwner::valid() const { return handle_ != kNoSocket; }

void SessionEventOwner::Release() noexcept {
  if (handle_ != kNoSocket) close(static_cast<int>(handle_));
  handle_ = kNoSocket;
}

}  // namespace psrl::platform
