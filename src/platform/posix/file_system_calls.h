// Every system call the profile engine makes on files, gathered in one replaceable table
// so that tests can make any of them fail (open, short write, fsync, rename, ENOSPC...)
// without touching the code that uses them.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

namespace psrl::platform::posix {

// Plain function pointers with the signatures of the POSIX calls they stand for; they
// report errors through their return value and errno, exactly as the real ones do.
// Callers handle EINTR and short transfers themselves, so a replacement may produce them.
struct FileSystemCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buffer, size_t count);
  ssize_t (*write)(int fd, const void* buffer, size_t count);
  ssize_t (*pwrite)(int fd, const void* buffer, size_t count, off_t offset);
  int (*fstat)(int fd, struct stat* info);
  int (*stat)(const char* path, struct stat* info);
  int (*lstat)(const char* path, struct stat* info);
  ssize_t (*readlink)(const char* path, char* buffer, size_t size);
  char* (*getcwd)(char* buffer, size_t size);
  int (*fsync)(int fd);
  int (*ftruncate)(int fd, off_t length);
  int (*fchmod)(int fd, mode_t mode);
  int (*fchown)(int fd, uid_t owner, gid_t group);
  int (*flock)(int fd, int operation);
  int (*rename)(const char* from, const char* to);
  int (*unlink)(const char* path);
};

// The table of the C library's own calls.
const FileSystemCalls& RealFileSystemCalls();

// The table in use. The engine reads it on every call; tests change it through
// ScopedFileSystemCalls.
FileSystemCalls& ActiveFileSystemCalls();

// Installs `replacement` as the active table for its lifetime and then restores the
// table that was active before. Not for concurrent use with running file operations.
class ScopedFileSystemCalls {
 public:
  explicit ScopedFileSystemCalls(const FileSystemCalls& replacement);
  ~ScopedFileSystemCalls();
  ScopedFileSystemCalls(const ScopedFileSystemCalls&) = delete;
  ScopedFileSystemCalls& operator=(const ScopedFileSystemCalls&) = delete;

 private:
  FileSystemCalls previous_;
};

}  // namespace psrl::platform::posix
