#include "files/log_file.h"

#include <sys/stat.h>

#include <cstring>

#include "base/descriptor.h"
#include "files/block_reader.h"
#include "files/safe_file.h"
#include "files/set_aside.h"

namespace zv {

namespace {

// Read access as well, so that the last byte of the file can be looked at.
constexpr int kPlaceFlags = O_RDWR | O_APPEND | O_CREAT;
// Each retry means a recovery renamed the log in the short time between an
// open and its lock; a handful is more than any real run needs.
constexpr int kLockAttempts = 8;

// The log files written without a sync since log_defer_syncs(), one
// descriptor each (a run uses at most one per place).
struct DeferredSyncs {
  bool on = false;
  Descriptor files[std::size(kLogPlaces)];
  FileId ids[std::size(kLogPlaces)];
  std::size_t count = 0;
  // The place written last, still open and locked, so that the next record
  // costs one write; let go at each sync, so that a recovery waiting for
  // the lock waits no longer than that.
  Descriptor held;
  std::size_t unsynced = 0;

  // The copy kept for the sync shares the lock: it is given back
  // explicitly, not by closing.
  void release_held() {
    if (held) ::flock(held.get(), LOCK_UN);
    held = Descriptor();
  }

  // Keeps a descriptor of `fd`'s file for the sync at the end.
  bool keep(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return false;
    FileId id{info.st_dev, info.st_ino};
    for (std::size_t i = 0; i < count; ++i) {
      if (ids[i] == id) return true;
    }
    if (count == std::size(files)) return false;
    Descriptor copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!copy) return false;
    files[count] = std::move(copy);
    ids[count++] = id;
    return true;
  }
};

DeferredSyncs deferred;

// The place that took the last record.
const char* last_place = nullptr;

// A recovery may have renamed the file away since it was opened.
bool still_at_path(int fd, const char* path) {
  struct stat opened {
  }, named{};
  if (::fstat(fd, &opened) != 0 || ::lstat(path, &named) != 0) return false;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// The file now at `path`, opened and locked; invalid when there is none.
// `created` says whether the open made it.
Descriptor lock_place(const char* path, LogFileCalls& calls, bool& created) {
  // The place's directory must be one nobody else controls; the file is
  // opened in the directory that was checked.
  char directory_name[kMaxDirectoryName];
  if (!directory_name_of(path, directory_name)) return {};
  Descriptor directory = safe_directory(directory_name);
  if (!directory) return {};
  const char* slash = std::strrchr(path, '/');
  const char* name = slash == nullptr ? path : slash + 1;
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    Descriptor file(safe_open_at(directory.get(), name, kPlaceFlags, nullptr, &created));
    if (!file) break;
    if (retried([&] { return calls.lock(file.get()); }) != 0) break;
    if (still_at_path(file.get(), path)) return file;
  }
  return {};
}

// Whether the file does not end with LF.  When the last byte cannot be
// read the answer is yes: a tail set aside for nothing costs nothing, a
// glued record does.
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

// The offset just after the last LF of the file's first `size` bytes (0
// when it has none): where a record torn by a kill begins.
off_t after_last_line_end(int fd, off_t size) {
  char block[4096];
  for (off_t end = size; end > 0;) {
    off_t start =
        end > static_cast<off_t>(sizeof block) ? end - static_cast<off_t>(sizeof block) : 0;
    auto want = static_cast<std::size_t>(end - start);
    if (retried([&] { return ::pread(fd, block, want, start); }) != static_cast<ssize_t>(want)) {
      return -1;
    }
    for (std::size_t i = want; i-- > 0;) {
      if (block[i] == '\n') return start + static_cast<off_t>(i) + 1;
    }
    end = start;
  }
  return 0;
}

// A record that a killed writer left without its LF is no record: it is
// moved to the set-aside file (never dropped) and cut from the log, so that
// the next record does not complete it.  False when that cannot be done.
bool set_aside_torn_tail(int fd, const char* path, off_t& size) {
  if (!ends_open(fd, size)) return true;
  off_t start = after_last_line_end(fd, size);
  if (start < 0) return false;
  GateBlock tail = gate_block(static_cast<std::size_t>(size - start));
  auto length = static_cast<std::size_t>(size - start);
  if (retried([&] { return ::pread(fd, tail.get(), length, start); }) !=
          static_cast<ssize_t>(length) ||
      !set_aside(path, std::string_view(tail.get(), length)) ||
      retried([&] { return ::ftruncate(fd, start); }) != 0) {
    return false;
  }
  size = start;
  return true;
}

bool append_at(const char* path, std::string_view line, LogFileCalls& calls) {
  bool created = false;
  Descriptor file = lock_place(path, calls, created);
  struct stat info {};
  if (!file || ::fstat(file.get(), &info) != 0) return false;
  off_t size = info.st_size;
  bool appended = false;
  try {
    appended = set_aside_torn_tail(file.get(), path, size);
  } catch (const memory_exhausted&) {
    // Reported by the gate; the torn tail stays, and this place is passed over.
  }
  if (appended) {
    char line_end = '\n';
    iovec parts[2] = {{const_cast<char*>(line.data()), line.size()}, {&line_end, 1}};
    bool synced_later = deferred.on && deferred.keep(file.get());
    appended = write_all(file.get(), std::span(parts, 2), calls) &&
               (synced_later || retried([&] { return calls.sync(file.get()); }) == 0) &&
               (!created || durable_calls().sync_directory_of(path) == 0);
  }
  if (appended) {
    if (deferred.on) {
      ++deferred.unsynced;
      deferred.held = std::move(file);  // still locked: the next record goes here
    }
    return true;
  }
  retried([&] { return ::ftruncate(file.get(), size); });
  // A log this run made and could not write to is no log: nothing to recover.
  if (size == 0 && still_at_path(file.get(), path)) ::unlink(path);
  return false;
}

}  // namespace

LogFileCalls& log_system_calls() {
  static LogFileCalls calls;
  return calls;
}

// The next record, in the place a deferred run wrote last.
bool append_held(std::string_view line, LogFileCalls& calls) {
  struct stat info {};
  if (::fstat(deferred.held.get(), &info) != 0) return false;
  char line_end = '\n';
  iovec parts[2] = {{const_cast<char*>(line.data()), line.size()}, {&line_end, 1}};
  if (write_all(deferred.held.get(), std::span(parts, 2), calls)) {
    ++deferred.unsynced;
    return true;
  }
  retried([&] { return ::ftruncate(deferred.held.get(), info.st_size); });
  return false;
}

bool log_write(std::string_view line, std::span<const LogPlace> places, LogFileCalls& calls) {
  if (deferred.held) {
    if (append_held(line, calls)) return true;
    deferred.release_held();
  }
  for (const LogPlace& place : places) {
    if (place.directory != nullptr && make_directory(place.directory)) {
      durable_calls().sync_directory_of(place.directory);
    }
    if (append_at(place.path, line, calls)) {
      last_place = place.path;
      return true;
    }
  }
  return false;
}

const char* log_last_place() { return last_place; }

void log_defer_syncs() { deferred.on = true; }

bool log_sync_deferred() {
  bool synced = true;
  for (std::size_t i = 0; i < deferred.count; ++i) {
    synced = durable_calls().sync(deferred.files[i].get()) == 0 && synced;
    deferred.files[i] = Descriptor();
  }
  deferred.count = 0;
  deferred.unsynced = 0;
  deferred.release_held();
  return synced;
}

std::size_t log_unsynced_records() { return deferred.unsynced; }

}  // namespace zv
