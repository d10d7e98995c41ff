#include "cli/recover_progress.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace zv {

namespace {

constexpr std::size_t kDigits = 20;
// "DEV INO OFFSET\n": the offset is the third field.
constexpr std::size_t kRecordSize = 3 * (kDigits + 1);
constexpr off_t kOffsetAt = 2 * (kDigits + 1);

void put_number(char* out, std::uint64_t value) {
  for (std::size_t i = kDigits; i-- > 0; value /= 10) out[i] = static_cast<char>('0' + value % 10);
}

bool get_number(const char* in, std::uint64_t& value) {
  value = 0;
  for (std::size_t i = 0; i < kDigits; ++i) {
    if (in[i] < '0' || in[i] > '9') return false;
    std::uint64_t digit = static_cast<std::uint64_t>(in[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

bool write_at(int fd, const char* data, std::size_t size, off_t at) {
  while (size > 0) {
    ssize_t n = ::pwrite(fd, data, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    at += n;
  }
  return true;
}

// Reads the record; false when it is short, too long or malformed.
bool read_record(int fd, std::uint64_t (&fields)[3]) {
  char record[kRecordSize + 1];
  std::size_t got = 0;
  while (got < sizeof record) {
    ssize_t n = ::pread(fd, record + got, sizeof record - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got != kRecordSize) return false;
  for (std::size_t field = 0; field < 3; ++field) {
    const char* at = record + field * (kDigits + 1);
    if (!get_number(at, fields[field]) || at[kDigits] != (field < 2 ? ' ' : '\n')) return false;
  }
  return true;
}

void unlink_quietly(const char* path) {
  while (::unlink(path) != 0 && errno == EINTR) {
  }
}

}  // namespace

Descriptor open_own_file(const char* path, int flags, FileId* id) {
  Descriptor fd;
  do {
    fd = Descriptor(::open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  } while (!fd && errno == EINTR);
  struct stat status;
  if (!fd || ::fstat(fd.get(), &status) != 0) return {};
  if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) return {};
  int status_flags = ::fcntl(fd.get(), F_GETFL);
  if (status_flags < 0 || ::fcntl(fd.get(), F_SETFL, status_flags & ~O_NONBLOCK) != 0) return {};
  if (id != nullptr) *id = {status.st_dev, status.st_ino};
  return fd;
}

bool lock_exclusive(int fd) {
  int result;
  do {
    result = ::flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

Descriptor lock_recovery(const char* path) {
  Descriptor fd = open_own_file(path, O_RDONLY | O_CREAT);
  if (!fd || !lock_exclusive(fd.get())) return {};
  return fd;
}

RecoverProgress::RecoverProgress(const char* path, Descriptor fd, std::uint64_t offset)
    : path_(path), fd_(std::move(fd)), offset_(offset) {}

std::optional<RecoverProgress> RecoverProgress::create(const char* path, FileId file) {
  unlink_quietly(path);  // a stale one; a new file is made below
  Descriptor fd = open_own_file(path, O_RDWR | O_CREAT | O_EXCL);
  char record[kRecordSize];
  put_number(record, static_cast<std::uint64_t>(file.device));
  put_number(record + kDigits + 1, static_cast<std::uint64_t>(file.inode));
  put_number(record + kOffsetAt, 0);
  record[kDigits] = record[2 * kDigits + 1] = ' ';
  record[kRecordSize - 1] = '\n';
  if (fd && write_at(fd.get(), record, kRecordSize, 0))
    return RecoverProgress(path, std::move(fd), 0);
  if (fd) unlink_quietly(path);
  return std::nullopt;
}

std::optional<RecoverProgress> RecoverProgress::pending(const char* path, const FileId* file) {
  Descriptor fd = open_own_file(path, O_RDWR);
  std::uint64_t fields[3];
  if (fd && file != nullptr && read_record(fd.get(), fields) &&
      fields[0] == static_cast<std::uint64_t>(file->device) &&
      fields[1] == static_cast<std::uint64_t>(file->inode)) {
    return RecoverProgress(path, std::move(fd), fields[2]);
  }
  unlink_quietly(path);
  return std::nullopt;
}

void RecoverProgress::mark(std::uint64_t offset) {
  char number[kDigits];
  put_number(number, offset);
  // A mark that cannot be written leaves the older one: at worst, lines
  // are sent twice after a crash, never lost.
  if (write_at(fd_.get(), number, kDigits, kOffsetAt)) offset_ = offset;
}

void RecoverProgress::remove() {
  unlink_quietly(path_);
  fd_ = Descriptor();
}

}  // namespace zv
