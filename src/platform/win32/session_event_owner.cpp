// On Windows a session's event is a named manual-reset event, as its recorder creates it;
// it disappears with its last handle.
#include "platform/session_event_owner.h"

#include <windows.h>

#include <utility>

namespace psrl::platform {

namespace {

constexpr intptr_t kNoEvent = 0;

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

SessionEventOwner::SessionEventOwner(const std::u16string& name) : handle_(kNoEvent) {
  const HANDLE event =
      CreateEventW(nullptr, TRUE, FALSE, reinterpret_cast<const wchar_t*>(name.c_str()));
  if (event == nullptr) return;
  // An event of that name existed already: it belongs to someone else, who holds the name.
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(event);
    return;
  }
  handle_ = reinterpret_cast<intptr_t>(event);
}

SessionEventOwner::~SessionEventOwner() { Release(); }

SessionEventOwner::SessionEventOwner(SessionEventOwner&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoEvent)) {}

SessionEventOwner& SessionEventOwner::operator=(SessionEventOwner&& other) noexcept {
  if (this != &other) {
    Release();
    handle_ = std::exchange(other.handle_, kNoEvent);
  }
  return *this;
}

bool SessionEventOwner::valid() const { return handle_ != kNoEvent; }

void SessionEventOwner::Release() noexcept {
  if (handle_ != kNoEvent) CloseHandle(AsHandle(handle_));
  handle_ = kNoEvent;
}

}  // namespace psrl::platform
