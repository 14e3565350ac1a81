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

// Between these, liveness tests share one probe socket instead of opening and closing
// one each (see named_event.cpp). Nested runs count; EndRun never throws.
void NamedEventBeginRun();
void NamedEventEndRun() noexcept;

}  // namespace psrl::platform::posix
