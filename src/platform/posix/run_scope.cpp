// A run on Linux: parsed profile files and open converters live for one report, and the
// deletions collected meanwhile reach the files when it ends.
#include "platform/platform.h"
#include "platform/posix/code_page_run.h"
#include "platform/posix/profile_run.h"

namespace psrl::platform {

void BeginRun() {
  posix::ProfileBeginRun();
  posix::CodePageBeginRun();
}

void EndRun() noexcept {
  posix::CodePageEndRun();
  posix::ProfileEndRun();
}

}  // namespace psrl::platform
