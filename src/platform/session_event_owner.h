// Holding a session live, as the recorder of game sessions does: while an object of
// this type exists, the named event of the session exists and NamedEventIsOpen(name)
// is true. For the tests and the command-line tool; the library never creates events.
#pragma once

#include <cstdint>
#include <string>

namespace psrl::platform {

class SessionEventOwner {
 public:
  // Creates the event. valid() tells whether that worked (the name may be taken).
  explicit SessionEventOwner(const std::u16string& name);
  ~SessionEventOwner();
  SessionEventOwner(SessionEventOwner&& other) noexcept;
  SessionEventOwner& operator=(SessionEventOwner&& other) noexcept;
  SessionEventOwner(const SessionEventOwner&) = delete;
  SessionEventOwner& operator=(const SessionEventOwner&) = delete;

  bool valid() const;

 private:
  void Release() noexcept;
  // A socket descriptor on Linux, an event handle on Windows.
  intptr_t handle_;
};

}  // namespace psrl::platform
