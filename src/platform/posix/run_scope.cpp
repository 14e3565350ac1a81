// A run on Linux: parsed profile files, open converters and the liveness probe socket
// live for one report, and the deletions collected meanwhile reach the files when it ends.
#include "platform/platform.h"
#include "platform/posix/code_page_run.h"
#include "platform/posix/named_event.h"
#include "platform/posix/profile_run.h"

namespace psrl::platform {

void BeginRun() {
  posix::ProfileBeginRun();
  posix::CodePageBeginRun();
  posix::NamedEventBeginRun();
}

void EndRun() noexcept {
  posix::NamedEventEndRun();
  posix::CodePageEndRun();
  posix::ProfileEndRun();
}

}  // namespace psrl::platform
