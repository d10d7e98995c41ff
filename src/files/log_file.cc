#include "files/log_file.h"

#include <sys/stat.h>

#include "base/descriptor.h"
#include "files/safe_file.h"

namespace zv {

namespace {

// Read access as well, so that the last byte of the file can be looked at.
constexpr int kPlaceFlags = O_RDWR | O_APPEND | O_CREAT;
constexpr mode_t kDirectoryMode = 0755;
// Each retry means a recovery renamed the log in the short time between an
// open and its lock; a handful is more than any real run needs.
constexpr int kLockAttempts = 8;

// A recovery may have renamed the file away since it was opened.
bool still_at_path(int fd, const char* path) {
  struct stat opened {
  }, named{};
  if (::fstat(fd, &opened) != 0 || ::lstat(path, &named) != 0) return false;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// The file now at `path`, opened and locked; invalid when there is none.
Descriptor lock_place(const char* path, LogFileCalls& calls) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    Descriptor file(log_open_place(path));
    if (!file) break;
    if (retried([&] { return calls.lock(file.get()); }) != 0) break;
    if (still_at_path(file.get(), path)) return file;
  }
  return {};
}

// A file that does not end with LF gets one before the record.  When the
// last byte cannot be read the LF is written anyway: a blank line is
// skipped by every reader, a glued record is not.
bool ends_open(int fd, off_t size) {
  if (size == 0) return false;
  char last = '\0';
  return retried([&] { return ::pread(fd, &last, 1, size - 1); }) != 1 || last != '\n';
}

bool write_all(int fd, std::span<iovec> parts, LogFileCalls& calls) {
  std::size_t next = 0;
  while (next < parts.size()) {
    ssize_t written = retried(
        [&] { return calls.write(fd, &parts[next], static_cast<int>(parts.size() - next)); });
    if (written <= 0) return false;
    auto left = static_cast<std::size_t>(written);
    while (next < parts.size() && left >= parts[next].iov_len) left -= parts[next++].iov_len;
    if (left > 0) {
      parts[next].iov_base = static_cast<char*>(parts[next].iov_base) + left;
      parts[next].iov_len -= left;
    }
  }
  return true;
}

bool append_at(const char* path, std::string_view line, LogFileCalls& calls) {
  Descriptor file = lock_place(path, calls);
  struct stat info {};
  if (!file || ::fstat(file.get(), &info) != 0) return false;
  char line_end = '\n';
  iovec parts[3];
  std::size_t count = 0;
  if (ends_open(file.get(), info.st_size)) parts[count++] = {&line_end, 1};
  parts[count++] = {const_cast<char*>(line.data()), line.size()};
  parts[count++] = {&line_end, 1};
  if (write_all(file.get(), std::span(parts, count), calls) &&
      retried([&] { return calls.sync(file.get()); }) == 0) {
    return true;
  }
  retried([&] { return ::ftruncate(file.get(), info.st_size); });
  return false;
}

}  // namespace

LogFileCalls& log_system_calls() {
  static LogFileCalls calls;
  return calls;
}

int log_open_place(const char* path) { return safe_open(path, kPlaceFlags).release(); }

bool log_write(std::string_view line, std::span<const LogPlace> places, LogFileCalls& calls) {
  for (const LogPlace& place : places) {
    if (place.directory != nullptr) ::mkdir(place.directory, kDirectoryMode);
    if (append_at(place.path, line, calls)) return true;
  }
  return false;
}

}  // namespace zv
