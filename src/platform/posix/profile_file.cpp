#include "platform/posix/profile_file.h"

#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "platform/posix/file_system_calls.h"

namespace psrl::platform::posix {
namespace {

// Files the parser accepts: byte offsets must fit 32 bits.
constexpr uint64_t kMaxFileSize = UINT32_MAX - 1;
constexpr int kMaxLinkHops = 40;  // as the kernel's own limit on a path's links
constexpr int kTemporaryNameAttempts = 64;
constexpr size_t kMaxTemporaryBaseName = 200;  // keeps the name under NAME_MAX (255)
constexpr size_t kMaxWriteChunk = size_t{1} << 30;
// Small pieces are gathered up to this size before they are written, so that a file cut
// into many pieces costs few system calls.
constexpr size_t kWriteStagingSize = size_t{1} << 20;
// Block size when a file is compared with bytes already in memory.
constexpr size_t kCompareBlockSize = size_t{1} << 20;

const FileSystemCalls& Calls() { return ActiveFileSystemCalls(); }

template <typename Call>
auto RetryOnInterrupt(Call call) {
  auto result = call();
  while (result == -1 && errno == EINTR) {
    result = call();
  }
  return result;
}

// Closes the descriptor when it goes, through the call table.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) {
      Calls().close(fd_);
    }
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now and reports the result, which for a written file may be a write error.
  bool Close() {
    const int fd = std::exchange(fd_, -1);
    return fd < 0 || Calls().close(fd) == 0;
  }

 private:
  int fd_;
};

int Open(const std::string& path, int flags, mode_t mode = 0) {
  return RetryOnInterrupt([&] { return Calls().open(path.c_str(), flags | O_CLOEXEC, mode); });
}

FileIdentity IdentityOf(const struct stat& info) {
  return {.exists = true,
          .device = info.st_dev,
          .inode = info.st_ino,
          .size = info.st_size,
          .modifiedSeconds = info.st_mtim.tv_sec,
          .modifiedNanoseconds = info.st_mtim.tv_nsec};
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    return ".";
  }
  if (slash == 0) {
    return "/";
  }
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links from `path` to the first name that is not a link (or does not
// exist). False for a loop, an unreadable link or an unexpected error.
bool ResolveLinks(const std::string& path, std::string& target) {
  std::string current = path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat info {};
    if (Calls().lstat(current.c_str(), &info) != 0) {
      if (errno != ENOENT) {
        return false;
      }
      target = std::move(current);
      return true;
    }
    if (!S_ISLNK(info.st_mode)) {
      target = std::move(current);
      return true;
    }
    std::string link(info.st_size > 0 ? static_cast<size_t>(info.st_size) + 1 : 256, '\0');
    for (;;) {
      const ssize_t length = Calls().readlink(current.c_str(), link.data(), link.size());
      if (length < 0) {
        return false;
      }
      if (static_cast<size_t>(length) < link.size()) {
        link.resize(static_cast<size_t>(length));
        break;
      }
      if (link.size() >= (size_t{1} << 20)) {
        return false;
      }
      link.resize(link.size() * 2);
    }
    if (link.empty()) {
      return false;
    }
    if (link.front() == '/') {
      current = std::move(link);
    } else {
      current = DirectoryOf(current).append("/").append(link);
    }
  }
  return false;
}

// Writes all of `bytes` at the file's position, or at `offset` when `positional`.
bool WriteAll(int fd, std::string_view bytes, bool positional, size_t offset = 0) {
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t chunk = std::min(bytes.size() - done, kMaxWriteChunk);
    const ssize_t written = positional ? Calls().pwrite(fd, bytes.data() + done, chunk,
                                                        static_cast<off_t>(offset + done))
                                       : Calls().write(fd, bytes.data() + done, chunk);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (written == 0) {  // no progress: treat as a full disk rather than loop
      errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(written);
  }
  return true;
}

size_t TotalSize(const ContentPieces& pieces) {
  size_t total = 0;
  for (const std::string_view piece : pieces) {
    total += piece.size();
  }
  return total;
}

// Writes the pieces one after another from the start of the file (`positional`) or at
// the file's position. Large pieces are written as they are, small ones gathered first.
bool WritePieces(int fd, const ContentPieces& pieces, bool positional) {
  std::string staging;
  staging.reserve(std::min(TotalSize(pieces), kWriteStagingSize));
  size_t offset = 0;  // where the staged bytes go
  const auto flush = [&] {
    const bool done = WriteAll(fd, staging, positional, offset);
    offset += staging.size();
    staging.clear();
    return done;
  };
  for (const std::string_view piece : pieces) {
    if (staging.size() + piece.size() > kWriteStagingSize && !flush()) {
      return false;
    }
    if (piece.size() < kWriteStagingSize) {
      staging.append(piece);
    } else if (WriteAll(fd, piece, positional, offset)) {
      offset += piece.size();
    } else {
      return false;
    }
  }
  return flush();
}

bool SameBytes(const ContentPieces& pieces, std::string_view bytes) {
  if (TotalSize(pieces) != bytes.size()) {
    return false;
  }
  size_t position = 0;
  for (const std::string_view piece : pieces) {
    if (bytes.substr(position, piece.size()) != piece) {
      return false;
    }
    position += piece.size();
  }
  return true;
}

bool Sync(int fd) {
  return RetryOnInterrupt([&] { return Calls().fsync(fd); }) == 0;
}

uint64_t NextRandom() {
  // Names only need to differ between attempts and processes; O_EXCL keeps them safe.
  static std::atomic<uint64_t> counter{0};
  uint64_t x = counter.fetch_add(1, std::memory_order_relaxed) * 0x9E3779B97F4A7C15ULL;
  x ^= static_cast<uint64_t>(getpid()) << 32;
  x ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  x ^= reinterpret_cast<uintptr_t>(&counter);
  // splitmix64 finaliser
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// Creates a new file next to `target` that no one else has opened. Returns its
// descriptor (and name), or -1 with errno set.
int CreateTemporary(const std::string& target, mode_t mode, std::string& name) {
  std::string base = BaseNameOf(target);
  if (base.size() > kMaxTemporaryBaseName) {
    base.resize(kMaxTemporaryBaseName);
  }
  const std::string prefix = DirectoryOf(target) + "/." + base + ".";
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "%016llx.tmp",
                  static_cast<unsigned long long>(NextRandom()));
    name = prefix + suffix;
    const int fd = Open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, mode);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  errno = EEXIST;
  return -1;
}

// Writes `content` over the existing `target` (the file `current` was read from).
bool RewriteInPlace(const std::string& target, const FileContent& current, std::string_view old,
                    const ContentPieces& content) {
  Descriptor file(Open(target, O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK));
  struct stat info {};
  if (!file.valid() || Calls().fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_dev != current.identity.device || info.st_ino != current.identity.inode) {
    return false;
  }
  const auto truncate = [&](size_t size) {
    return RetryOnInterrupt(
               [&] { return Calls().ftruncate(file.get(), static_cast<off_t>(size)); }) == 0;
  };
  if (WritePieces(file.get(), content, true) && truncate(TotalSize(content)) && Sync(file.get())) {
    return file.Close();
  }
  // Put the old content back as well as possible.
  if (WriteAll(file.get(), old, true)) {
    truncate(old.size());
    Sync(file.get());
  }
  return false;
}

bool Replace(int directory, const std::string& target, const FileContent& current,
             std::string_view old, const ContentPieces& content) {
  const bool exists = current.state == FileState::kRead;
  std::string temporaryName;
  // An existing file's copy starts private and gets the old bits once its owner is set.
  Descriptor temporary(CreateTemporary(target, exists ? 0600 : 0644, temporaryName));
  if (!temporary.valid()) {
    return exists && RewriteInPlace(target, current, old, content);
  }

  bool written = true;
  if (exists) {
    // Best effort: only a privileged process may give a file away.
    (void)Calls().fchown(temporary.get(), current.owner, current.group);
    written = Calls().fchmod(temporary.get(), current.mode & 07777) == 0;
  }
  written = written && WritePieces(temporary.get(), content, false) && Sync(temporary.get());
  written = temporary.Close() && written;
  if (!written || Calls().rename(temporaryName.c_str(), target.c_str()) != 0) {
    Calls().unlink(temporaryName.c_str());
    return false;
  }
  // The rename is done; flushing the directory makes it durable, and its failure cannot
  // undo it.
  (void)Sync(directory);
  return true;
}

}  // namespace

FileIdentity ProfileFileIdentity(const std::string& path) {
  struct stat info {};
  if (Calls().stat(path.c_str(), &info) != 0) {
    return {};
  }
  return IdentityOf(info);
}

FileContent ReadProfileFile(const std::string& path, const std::string_view* known) {
  FileContent content;
  Descriptor file(Open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK));
  if (!file.valid()) {
    content.state =
        errno == ENOENT || errno == ENOTDIR ? FileState::kMissing : FileState::kUnreadable;
    return content;
  }
  content.state = FileState::kUnreadable;
  struct stat info {};
  if (Calls().fstat(file.get(), &info) != 0) {
    return content;
  }
  content.identity = IdentityOf(info);
  content.mode = info.st_mode;
  content.owner = info.st_uid;
  content.group = info.st_gid;
  if (!S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) > kMaxFileSize) {
    return content;
  }

  std::string& bytes = content.bytes;
  const auto readSome = [&](char* into, size_t room) {
    return RetryOnInterrupt([&] { return Calls().read(file.get(), into, room); });
  };
  if (known != nullptr && static_cast<uint64_t>(info.st_size) == known->size()) {
    // Compared block by block: while the file holds the known bytes, no copy of it is
    // made. At the first difference the bytes so far become the start of the copy.
    std::string block(std::min(known->size() + 1, kCompareBlockSize), '\0');
    size_t matched = 0;
    for (;;) {
      const ssize_t count = readSome(block.data(), block.size());
      if (count < 0) {
        return content;
      }
      const auto got = static_cast<size_t>(count);
      if (got == 0 && matched == known->size()) {
        content.state = FileState::kRead;
        content.matchesKnown = true;
        return content;
      }
      if (got == 0 || known->substr(matched, got) != std::string_view(block.data(), got)) {
        bytes.reserve(static_cast<size_t>(info.st_size) + 1);
        bytes.assign(known->substr(0, matched)).append(block, 0, got);
        break;
      }
      matched += got;
    }
  }

  // One more byte than the size shows the end.
  size_t filled = bytes.size();
  bytes.resize(std::max(filled, static_cast<size_t>(info.st_size)) + 1);
  for (;;) {
    if (filled == bytes.size()) {
      if (bytes.size() > kMaxFileSize) {
        bytes.clear();
        return content;
      }
      bytes.resize(std::min<size_t>(bytes.size() * 2, kMaxFileSize + 1));
    }
    const ssize_t count = readSome(bytes.data() + filled, bytes.size() - filled);
    if (count < 0) {
      bytes.clear();
      return content;
    }
    if (count == 0) {
      break;
    }
    filled += static_cast<size_t>(count);
  }
  bytes.resize(filled);
  content.state = FileState::kRead;
  return content;
}

std::optional<std::string> AbsoluteProfilePath(const std::string& path) {
  if (!path.empty() && path.front() == '/') {
    return path;
  }
  std::string directory(256, '\0');
  while (Calls().getcwd(directory.data(), directory.size()) == nullptr) {
    if (errno != ERANGE || directory.size() >= (size_t{1} << 20)) {
      return std::nullopt;
    }
    directory.resize(directory.size() * 2);
  }
  directory.resize(directory.find('\0'));
  // getcwd reports an unreachable directory as a name that does not start with '/'.
  if (directory.empty() || directory.front() != '/') {
    return std::nullopt;
  }
  if (directory.back() != '/') {
    directory.push_back('/');
  }
  return directory + path;
}

bool UpdateProfileFile(const std::string& path, const ProfileFileChange& change,
                       const std::string_view* known) {
  std::string target;
  if (!ResolveLinks(path, target)) {
    return false;
  }
  Descriptor directory(Open(DirectoryOf(target), O_RDONLY | O_DIRECTORY));
  if (!directory.valid() ||
      RetryOnInterrupt([&] { return Calls().flock(directory.get(), LOCK_EX); }) != 0) {
    return false;
  }
  // Held until `directory` closes, after the replacement.
  const FileContent current = ReadProfileFile(target, known);
  if (current.state == FileState::kUnreadable) {
    return false;
  }
  ContentPieces content;
  if (!change(current, content)) {
    return true;
  }
  const std::string_view old = current.matchesKnown ? *known : std::string_view(current.bytes);
  if (current.state == FileState::kRead && SameBytes(content, old)) {
    return true;
  }
  return Replace(directory.get(), target, current, old, content);
}

}  // namespace psrl::platform::posix
