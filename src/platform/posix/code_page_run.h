// Run scope of the code-page converters: opened on first use within a run, closed when
// the run ends.
#pragma once

namespace psrl::platform::posix {

void CodePageBeginRun();
void CodePageEndRun() noexcept;

}  // namespace psrl::platform::posix
