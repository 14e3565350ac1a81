// Where the library's files lie: in the folder from which the library itself was loaded.
#pragma once

#include <string>

namespace psrl {

// The full path of the loaded module with the file name `moduleName` (narrow text; null
// or empty, or no such module loaded: the host executable), or empty when unknown.
std::u16string GetModulePath(const char* moduleName);

// The folder part of `path`, its trailing separator included; the path unchanged when it
// has no separator or ends in one.
std::u16string DirectoryOfPath(std::u16string path);

// DirectoryOfPath(GetModulePath(moduleName)).
std::u16string GetModuleDirectory(const char* moduleName);

// The control file "psrl.ini" beside the library; rebuilt on every call.
std::u16string GetControlFilePath();

// The session store "plg.dat" beside the library; found once and then kept unchanged
// for as long as the library stays loaded.
const std::u16string& GetSessionStorePath();

}  // namespace psrl
