// What differs between the platforms the tests run on, for the cases that say so.
//
// Most cases hold on every platform. A few state what only one platform's layer does:
// the Linux engine keeps a store's bytes and treats the ANSI code page as UTF-8, while
// Windows (as Wine implements it) converts with best-fit characters and rewrites a
// changed profile file in its own layout.
#pragma once

#include <filesystem>

namespace psrl::testing {

enum class Platforms { kAll, kLinuxOnly, kWindowsOnly };

// True when a case marked `platforms` applies to the platform this program was built for.
bool AppliesHere(Platforms platforms);

// The full path of the running test program.
std::filesystem::path HostExecutablePath();

// A system library that every program here has loaded ("libc.so.6", "kernel32.dll").
extern const char* const kSystemLibraryName;

}  // namespace psrl::testing
