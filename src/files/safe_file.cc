#include "files/safe_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zv {

namespace {

constexpr mode_t kCreatedMode = 0600;

bool follows_rule(const struct stat& info) {
  return S_ISREG(info.st_mode) && info.st_nlink == 1 && info.st_uid == ::geteuid() &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool clear_nonblocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

}  // namespace

Descriptor safe_open(const char* path, int flags, FileId* id) {
  Descriptor fd(retried(
      [&] { return ::open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kCreatedMode); }));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0 || !follows_rule(info) || !clear_nonblocking(fd.get())) {
    return {};
  }
  if (id != nullptr) *id = {info.st_dev, info.st_ino};
  return fd;
}

bool lock_exclusive(int fd) {
  return retried([&] { return ::flock(fd, LOCK_EX); }) == 0;
}

}  // namespace zv
