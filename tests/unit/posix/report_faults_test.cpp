// Whole reports while the file system fails, injected through the engine's call table:
// whatever fails, the store keeps its old bytes, no temporary file stays behind, and a
// later run without faults delivers every session.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "platform/posix/file_system_calls.h"
#include "unit/posix/report_in_folder.h"

namespace psrl::testing {
namespace {

using platform::posix::FileSystemCalls;
using platform::posix::RealFileSystemCalls;
using platform::posix::ScopedFileSystemCalls;

enum class Fault {
  kOpenEverywhere,     // EMFILE on every open: nothing can be read
  kReadEverywhere,     // EIO on every read
  kOpenUnderLock,      // every open fails once the lock is taken at the end of the run
  kReadUnderLock,      // the re-read under the lock fails
  kLock,               // ENOLCK on flock
  kWrite,              // EIO on every write of the new file
  kShortWriteThenEio,  // the first write is cut short, the next fails
  kNoSpace,            // ENOSPC on every write
  kFsync,              // EIO on fsync
  kRename,             // EIO on rename
  kInPlaceNoSpace,     // no new file can be made (EACCES), and the in-place rewrite hits ENOSPC
};

struct FaultState {
  Fault fault = Fault::kOpenEverywhere;
  bool locked = false;
  int writes = 0;
};
FaultState state;

const FileSystemCalls& Real() { return RealFileSystemCalls(); }

int Fail(int error) {
  errno = error;
  return -1;
}

// A write under the current fault: -1 with errno, or the count to pass on.
ssize_t WriteFault(size_t count) {
  switch (state.fault) {
    case Fault::kWrite:
      return Fail(EIO);
    case Fault::kNoSpace:
    case Fault::kInPlaceNoSpace:
      return Fail(ENOSPC);
    case Fault::kShortWriteThenEio:
      return ++state.writes == 1 ? static_cast<ssize_t>(std::min<size_t>(count, 5)) : Fail(EIO);
    default:
      return static_cast<ssize_t>(count);
  }
}

FileSystemCalls FaultyCalls() {
  FileSystemCalls calls = Real();
  calls.open = [](const char* path, int flags, mode_t mode) {
    if (state.fault == Fault::kOpenEverywhere) return Fail(EMFILE);
    if (state.fault == Fault::kOpenUnderLock && state.locked) return Fail(ENFILE);
    if (state.fault == Fault::kInPlaceNoSpace && (flags & O_EXCL) != 0) return Fail(EACCES);
    return Real().open(path, flags, mode);
  };
  calls.read = [](int fd, void* buffer, size_t count) -> ssize_t {
    if (state.fault == Fault::kReadEverywhere ||
        (state.fault == Fault::kReadUnderLock && state.locked)) {
      return Fail(EIO);
    }
    return Real().read(fd, buffer, count);
  };
  calls.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
    const ssize_t pass = WriteFault(count);
    return pass < 0 ? pass : Real().write(fd, buffer, static_cast<size_t>(pass));
  };
  calls.pwrite = [](int fd, const void* buffer, size_t count, off_t offset) -> ssize_t {
    const ssize_t pass = WriteFault(count);
    return pass < 0 ? pass : Real().pwrite(fd, buffer, static_cast<size_t>(pass), offset);
  };
  calls.fsync = [](int fd) { return state.fault == Fault::kFsync ? Fail(EIO) : Real().fsync(fd); };
  calls.rename = [](const char* from, const char* to) {
    return state.fault == Fault::kRename ? Fail(EIO) : Real().rename(from, to);
  };
  calls.flock = [](int fd, int operation) {
    if (state.fault == Fault::kLock) return Fail(ENOLCK);
    if ((operation & LOCK_EX) != 0) state.locked = true;
    return Real().flock(fd, operation);
  };
  return calls;
}

TEST(ReportFaultTest, AFailingFileSystemLosesNoSession) {
  struct Case {
    const char* name;
    Fault fault;
    bool deliveredNow;  // the lines reach the buffer, and their sessions stay to be sent again
  };
  const Case cases[] = {
      {"open fails everywhere", Fault::kOpenEverywhere, false},
      {"read fails everywhere", Fault::kReadEverywhere, false},
      {"open fails under the lock", Fault::kOpenUnderLock, true},
      {"re-read fails under the lock", Fault::kReadUnderLock, true},
      {"lock fails", Fault::kLock, true},
      {"write fails", Fault::kWrite, true},
      {"short write, then an error", Fault::kShortWriteThenEio, true},
      {"disk full", Fault::kNoSpace, true},
      {"fsync fails", Fault::kFsync, true},
      {"rename fails", Fault::kRename, true},
      {"no new file, disk full in place", Fault::kInPlaceNoSpace, true},
  };
  const StoreContent sessions = {SessionAt("S1", "/a/"), SessionAt("S2", "/b/"),
                                 SessionAt("S3", "/c/")};
  // The line before the first section stays, so that every replacement has bytes to write.
  const std::string kept = "; written by the recorder\r\n";
  const std::string before = kept + StoreBytes(sessions);
  const std::string allLines = LineOf("/a/") + LineOf("/b/") + LineOf("/c/");

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    WriteFileBytes(folder / "plg.dat", before);
    state = {.fault = c.fault};
    FolderReport faulty;
    {
      const ScopedFileSystemCalls calls(FaultyCalls());
      faulty = ReportFolder(folder.path());
    }
    EXPECT_EQ(faulty.text, c.deliveredNow ? allLines : "");
    EXPECT_EQ(ReadFileBytes(folder / "plg.dat"), before);
    EXPECT_EQ(FolderEntries(folder.path()), std::vector<std::string>{"plg.dat"});

    const FolderReport later = ReportFolder(folder.path());
    EXPECT_EQ(later.text, allLines);
    EXPECT_EQ(ReadFileBytes(folder / "plg.dat"), kept);
    EXPECT_EQ(FolderEntries(folder.path()), std::vector<std::string>{"plg.dat"});
  }
}

}  // namespace
}  // namespace psrl::testing
