// The Linux stand-in for named events: an abstract-namespace datagram socket whose
// address is derived from the event's name.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <string>
#include <string_view>

namespace psrl::platform::posix {

// The abstract socket address of the named event `name`, and its length for
// bind()/connect().
struct EventAddress {
  sockaddr_un address{};
  socklen_t length = 0;
};
EventAddress MakeEventAddress(std::u16string_view name);

}  // namespace psrl::platform::posix
