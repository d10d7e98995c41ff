#include "files/safe_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "base/stop.h"

namespace zv {

namespace {

constexpr mode_t kCreatedMode = 0600;
constexpr mode_t kDirectoryMode = 0755;

bool follows_rule(const struct stat& info, Owners owners) {
  bool owner = info.st_uid == ::geteuid() || (owners == Owners::kUserOrRoot && info.st_uid == 0);
  return S_ISREG(info.st_mode) && info.st_nlink == 1 && owner &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool clear_nonblocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

}  // namespace

Descriptor safe_open(const char* path, int flags, FileId* id, bool* created, Owners owners) {
  return safe_open_at(AT_FDCWD, path, flags, id, created, owners);
}

Descriptor safe_directory(const char* path) {
  Descriptor fd(
      retried([&] { return ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0) return {};
  bool owner = info.st_uid == ::geteuid() || info.st_uid == 0;
  bool shared = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  // Others may write a sticky directory (/tmp), but not rename or remove
  // what is the user's own in it.
  if (!owner || (shared && (info.st_mode & S_ISVTX) == 0)) return {};
  return fd;
}

Descriptor safe_open_at(int directory, const char* path, int flags, FileId* id, bool* created,
                        Owners owners) {
  const int always = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  bool made = false;
  Descriptor fd;
  if ((flags & O_CREAT) != 0 && (flags & O_EXCL) == 0) {
    // An existing file first, so that a new one is known to be new.
    fd =
        Descriptor(retried([&] { return ::openat(directory, path, (flags & ~O_CREAT) | always); }));
    if (!fd && errno != ENOENT) return {};
  }
  if (!fd) {
    fd = Descriptor(
        retried([&] { return ::openat(directory, path, flags | always, kCreatedMode); }));
    made = fd && (flags & O_CREAT) != 0;
  }
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0 || !follows_rule(info, owners) ||
      !clear_nonblocking(fd.get())) {
    return {};
  }
  // The umask must not take the owner's own access away.
  if (made && (info.st_mode & 07777) != kCreatedMode && ::fchmod(fd.get(), kCreatedMode) != 0) {
    return {};
  }
  if (id != nullptr) *id = {info.st_dev, info.st_ino};
  if (created != nullptr) *created = made;
  return fd;
}

bool make_directory(const char* path) {
  if (::mkdir(path, kDirectoryMode) != 0) return false;
  ::chmod(path, kDirectoryMode);  // whatever the umask took away
  return true;
}

int DurableCalls::sync(int fd) {
  return retried([&] { return ::fsync(fd); });
}

int DurableCalls::sync_directory_of(const char* path) {
  char directory[kMaxDirectoryName];
  if (!directory_name_of(path, directory)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  Descriptor fd(retried([&] { return ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (!fd) return -1;
  return retried([&] { return ::fsync(fd.get()); });
}

bool directory_name_of(const char* path, char (&directory)[kMaxDirectoryName]) {
  std::string_view whole(path);
  std::size_t slash = whole.rfind('/');
  if (slash == std::string_view::npos) {
    directory[0] = '.', directory[1] = '\0';
    return true;
  }
  std::size_t length = slash == 0 ? 1 : slash;  // "/tmp" for "/tmp/x", "/" for "/x"
  if (length >= kMaxDirectoryName) return false;
  whole.copy(directory, length);
  directory[length] = '\0';
  return true;
}

namespace {
DurableCalls system_durable_calls;
DurableCalls* current_durable_calls = &system_durable_calls;
}  // namespace

DurableCalls& durable_calls() { return *current_durable_calls; }

void durable_set_calls(DurableCalls* calls) {
  current_durable_calls = calls != nullptr ? calls : &system_durable_calls;
}

bool lock_exclusive(int fd) {
  for (;;) {
    if (::flock(fd, LOCK_EX) == 0) return true;
    // A run told to stop waits no more for another one's lock.
    if (errno != EINTR || stop_requested()) return false;
  }
}

}  // namespace zv
