// Liveness of a named event on Linux. The owner of a running session keeps a datagram
// socket bound to the event's abstract address; the kernel drops it when that process
// ends, as Windows drops an event with its last handle. The test only connects, so it
// can never take the name from its owner.
#include "platform/posix/named_event.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/text_encoding.h"

namespace psrl::platform {
namespace posix {
namespace {

constexpr std::string_view kNamedPrefix = "psrl-event:";
constexpr std::string_view kHashedPrefix = "psrl-event#";
// sun_path less the leading zero byte of the abstract namespace.
constexpr size_t kMaxAbstractName = sizeof(sockaddr_un::sun_path) - 1;

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
  const std::string utf8 = EncodeUtf8(name);
  std::string abstractName;
  if (kNamedPrefix.size() + utf8.size() <= kMaxAbstractName) {
    abstractName.append(kNamedPrefix).append(utf8);
  } else {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    abstractName.append(kHashedPrefix);
    const uint64_t hash = Fnv1a64(utf8);
    for (int shift = 60; shift >= 0; shift -= 4) {
      abstractName.push_back(kHexDigits[(hash >> shift) & 0xF]);
    }
  }
  EventAddress result;
  result.address.sun_family = AF_UNIX;
  result.address.sun_path[0] = '\0';
  std::memcpy(result.address.sun_path + 1, abstractName.data(), abstractName.size());
  result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + abstractName.size());
  return result;
}

}  // namespace posix

bool NamedEventIsOpen(const char16_t* name) {
  if (name == nullptr) return false;
  try {
    const auto address = posix::MakeEventAddress(name);
    const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool live =
        connect(probe, reinterpret_cast<const sockaddr*>(&address.address), address.length) == 0;
    close(probe);
    return live;
  } catch (...) {
    return false;
  }
}

}  // namespace psrl::platform
