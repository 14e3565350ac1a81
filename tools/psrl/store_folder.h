// The folder that a command works on: its control file "psrl.ini" and its session store
// "plg.dat", checked before the library sees them, since the library stays silent.
#pragma once

#include <string>

#include "report/report_run.h"

namespace psrl::tool {

inline constexpr char kControlFileName[] = "psrl.ini";
inline constexpr char kSessionStoreName[] = "plg.dat";

struct StoreFolder {
  std::string controlFile;  // the paths as shown to the user
  std::string sessionStore;
  ReportFiles files;  // the same paths as the library takes them
};

// Checks that `folder` is a readable folder and that each of its two files is either
// missing or a readable regular file; throws RunError (or UsageError for a name that is
// not UTF-8) otherwise.
StoreFolder OpenStoreFolder(const std::string& folder);

// One run of the library's profile engine for as long as it exists: files are parsed
// once, and changes land together in one replacement when it ends.
class LibraryRun {
 public:
  LibraryRun();
  ~LibraryRun();
  LibraryRun(const LibraryRun&) = delete;
  LibraryRun& operator=(const LibraryRun&) = delete;
};

}  // namespace psrl::tool
