#include "platform/posix/file_system_calls.h"

#include <sys/file.h>
#include <unistd.h>

#include <cstdio>

namespace psrl::platform::posix {
namespace {

// Lambdas rather than the functions themselves: some of them are variadic (open) or may
// be macros or inline wrappers in the C library headers.
const FileSystemCalls kRealCalls = {
    .open = [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
    .close = [](int fd) { return ::close(fd); },
    .read = [](int fd, void* buffer, size_t count) { return ::read(fd, buffer, count); },
    .write = [](int fd, const void* buffer, size_t count) { return ::write(fd, buffer, count); },
    .pwrite = [](int fd, const void* buffer, size_t count,
                 off_t offset) { return ::pwrite(fd, buffer, count, offset); },
    .fstat = [](int fd, struct stat* info) { return ::fstat(fd, info); },
    .stat = [](const char* path, struct stat* info) { return ::stat(path, info); },
    .lstat = [](const char* path, struct stat* info) { return ::lstat(path, info); },
    .readlink = [](const char* path, char* buffer,
                   size_t size) { return ::readlink(path, buffer, size); },
    .getcwd = [](char* buffer, size_t size) { return ::getcwd(buffer, size); },
    .fsync = [](int fd) { return ::fsync(fd); },
    .ftruncate = [](int fd, off_t length) { return ::ftruncate(fd, length); },
    .fchmod = [](int fd, mode_t mode) { return ::fchmod(fd, mode); },
    .fchown = [](int fd, uid_t owner, gid_t group) { return ::fchown(fd, owner, group); },
    .flock = [](int fd, int operation) { return ::flock(fd, operation); },
    .rename = [](const char* from, const char* to) { return ::rename(from, to); },
    .unlink = [](const char* path) { return ::unlink(path); },
};

FileSystemCalls activeCalls = kRealCalls;

}  // namespace

const FileSystemCalls& RealFileSystemCalls() { return kRealCalls; }

FileSystemCalls& ActiveFileSystemCalls() { return activeCalls; }

ScopedFileSystemCalls::ScopedFileSystemCalls(const FileSystemCalls& replacement)
    : previous_(activeCalls) {
  activeCalls = replacement;
}

ScopedFileSystemCalls::~ScopedFileSystemCalls() { activeCalls = previous_; }

}  // namespace psrl::platform::posix
