// Run scope of the profile engine: between ProfileBeginRun and ProfileEndRun each file is
// parsed once and its changes are collected; ProfileEndRun applies them, one replacement
// per file, and forgets everything.
#pragma once

namespace psrl::platform::posix {

void ProfileBeginRun();
void ProfileEndRun() noexcept;

}  // namespace psrl::platform::posix
