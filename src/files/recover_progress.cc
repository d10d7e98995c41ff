#include "files/recover_progress.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <utility>

#include "base/stop.h"
#include "base/text.h"

namespace zv {

namespace {

constexpr std::size_t kDigits = 20;
// How often a recovery that waits for another one looks at the lock.
constexpr int kLockPollMs = 50;
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

// Log writers hold the lock of the file while they append; one that opened
// it before the rename may still be mid-record.  Taking the lock once lets
// that record finish before the file's size is taken as its end.
void wait_for_writers(int fd) {
  if (lock_exclusive(fd)) ::flock(fd, LOCK_UN);
}

bool path_exists(const char* path) {
  struct stat status;
  return ::lstat(path, &status) == 0 || errno != ENOENT;
}

RecoverNames recover_names(const char* path) {
  Text recover = string_concat(path, ".", "recover");
  Text lock = string_concat(recover, ".", "lock");
  Text progress = string_concat(recover, ".", "offset");
  return {std::move(recover), std::move(lock), std::move(progress)};
}

std::optional<RenamedRecoverFile> rename_recover_file(const char* path, const RecoverNames& names) {
  FileId id;
  Descriptor file = safe_open(path, O_RDONLY, &id);
  if (!file) return std::nullopt;
  std::optional<RecoverProgress> progress = RecoverProgress::create(names.progress.c_str(), id);
  if (!progress) return std::nullopt;
  // A plain rename replaces an old file of the recover name atomically:
  // nothing is removed before it, so a failure deletes nothing.
  if (std::rename(path, names.recover.c_str()) != 0) {
    progress->remove();
    return std::nullopt;
  }
  durable_calls().sync_directory_of(names.recover.c_str());
  return RenamedRecoverFile{std::move(file), std::move(*progress)};
}

Descriptor lock_recovery(const char* path, int wait_ms, bool& busy) {
  busy = false;
  Descriptor fd = safe_open(path, O_RDONLY | O_CREAT);
  if (!fd) return {};
  if (wait_ms == 0) return lock_exclusive(fd.get()) ? std::move(fd) : Descriptor();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return {};
    if (stop_requested() || std::chrono::steady_clock::now() >= deadline) {
      busy = errno == EWOULDBLOCK || errno == EINTR;
      return {};
    }
    ::poll(nullptr, 0, kLockPollMs);
  }
  return fd;
}

RecoverProgress::RecoverProgress(const char* path, Descriptor fd, std::uint64_t offset)
    : path_(path), fd_(std::move(fd)), offset_(offset) {}

std::optional<RecoverProgress> RecoverProgress::create(const char* path, FileId file) {
  unlink_quietly(path);  // a stale one; a new file is made below
  Descriptor fd = safe_open(path, O_RDWR | O_CREAT | O_EXCL);
  char record[kRecordSize];
  put_number(record, static_cast<std::uint64_t>(file.device));
  put_number(record + kDigits + 1, static_cast<std::uint64_t>(file.inode));
  put_number(record + kOffsetAt, 0);
  record[kDigits] = record[2 * kDigits + 1] = ' ';
  record[kRecordSize - 1] = '\n';
  // Durable, with its directory entry, before the rename it stands for: a
  // power cut must not leave the rename without its mark.
  if (fd && write_at(fd.get(), record, kRecordSize, 0) && durable_calls().sync(fd.get()) == 0 &&
      durable_calls().sync_directory_of(path) == 0) {
    return RecoverProgress(path, std::move(fd), 0);
  }
  if (fd) unlink_quietly(path);
  return std::nullopt;
}

std::optional<RecoverProgress> RecoverProgress::pending(const char* path, const FileId* file) {
  if (!path_exists(path)) return std::nullopt;
  Descriptor fd = safe_open(path, O_RDWR);
  std::uint64_t fields[3];
  bool readable = fd && read_record(fd.get(), fields);
  if (readable && file != nullptr && fields[0] == static_cast<std::uint64_t>(file->device) &&
      fields[1] == static_cast<std::uint64_t>(file->inode)) {
    return RecoverProgress(path, std::move(fd), fields[2]);
  }
  fd = Descriptor();
  // A mark that names another file was left before a rename: stale.  One
  // that cannot be read (empty after a power cut, not readable) may belong
  // to the file under the recover name: it is sent again from its start,
  // which can only send lines twice, never lose one.
  if (!readable && file != nullptr) return create(path, *file);
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
