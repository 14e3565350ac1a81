// The file side of the profile engine: reading whole profile files and replacing them
// safely. Every system call goes through ActiveFileSystemCalls().
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace psrl::platform::posix {

// What identifies one version of a file: a parsed copy stays valid while these are equal.
struct FileIdentity {
  bool exists = false;
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t modifiedSeconds = 0;
  int64_t modifiedNanoseconds = 0;

  bool operator==(const FileIdentity&) const = default;
};

enum class FileState {
  kRead,        // a regular file, read whole
  kMissing,     // no such file (also a dangling link): reads as empty
  kUnreadable,  // a directory, a device, no permission, 4 GiB or more, a read error
};

struct FileContent {
  FileState state = FileState::kMissing;
  std::string bytes;          // empty when matchesKnown
  bool matchesKnown = false;  // the file holds exactly the caller's known bytes
  FileIdentity identity;      // of the file as it was opened
  mode_t mode = 0;
  uid_t owner = 0;
  gid_t group = 0;
};

// The identity of the file at `path` now, links followed; `exists` is false when it
// cannot be found.
FileIdentity ProfileFileIdentity(const std::string& path);

// Reads the whole file at `path`, links followed. Never blocks on a FIFO or device.
// With `known`, a file that holds exactly those bytes is only compared with them, not
// copied: the result is then kRead with matchesKnown set and no bytes.
FileContent ReadProfileFile(const std::string& path, const std::string_view* known = nullptr);

// `path` made absolute against the current directory when it is relative; nothing when
// the current directory cannot be found.
std::optional<std::string> AbsoluteProfilePath(const std::string& path);

// A file's new content as pieces laid end to end. The pieces point into memory that the
// change keeps alive until UpdateProfileFile returns.
using ContentPieces = std::vector<std::string_view>;

// Computes the new content from the current one. Returns false when nothing changes.
using ProfileFileChange = std::function<bool(const FileContent& current, ContentPieces& content)>;

// Changes the file at `path` while holding an exclusive flock on its directory:
// re-reads it, calls `change`, and when the content differs replaces the file.
//
// A symbolic link is followed to its final target, which is what changes; the link stays.
// When the target does not exist (also at the end of a dangling link) it is created there
// with mode 0644 less the umask, as open(O_CREAT) through the link would.
//
// The replacement is a new file created exclusively in the target's directory, with the
// old file's permission bits and (where allowed) owner, written whole, flushed, renamed
// over the target, and the directory flushed. On any failure the new file is removed
// and the target is left as it was. When no new file can be created in the directory
// (no write permission, read-only mount, no space...), an existing target is rewritten
// in place instead (written, truncated, flushed), and its old content is put back if
// that fails midway.
//
// Returns true when the file holds the changed content (or nothing had to change); false
// when the target could not be read, locked or replaced.
//
// `known`, when given, is what the caller believes the file holds (see ReadProfileFile):
// `change` then sees matchesKnown instead of a copy of bytes it already has.
bool UpdateProfileFile(const std::string& path, const ProfileFileChange& change,
                       const std::string_view* known = nullptr);

}  // namespace psrl::platform::posix
