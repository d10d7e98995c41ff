// The recovery log on disk: which file a record goes to, and how it lands
// there whole.
//
// Places.  A record goes to the first usable place of a list, by default
// logs/ZVClient.log (after making "logs"), ZVClient.log, /tmp/ZVClient.log
// (after making "/tmp").  A place is opened, and created with mode 0600
// when missing, by the rule of safe_file.h; a place that fails it (a FIFO,
// a link, a file planted by someone else) is passed over for the next one.
//
// Locking protocol, shared by every writer and by the recovery:
// - A writer appends one record while holding flock(LOCK_EX) on the file,
//   and writes only after checking, under the lock, that its descriptor is
//   still the file at the place's path (same device and inode).  If the
//   file was renamed away between the open and the lock, the writer opens
//   the path again (a bounded number of times).
// - The recovery renames the log, then takes flock(LOCK_EX) on the renamed
//   file.  Holding it, it knows that no writer is in the middle of a record
//   and that none will start one there (every later writer finds the path
//   changed), so the size it measures then is final.
// Under the lock a writer notes the size; when the file does not end with
// an LF, its last line is a record torn by a kill (or a line cut short by
// another program): that tail is set aside (set_aside.h) and cut off, so
// that the next record can never complete it.  Then it writes the record
// and syncs it (and the directory, when the open made the file).  Any
// failure truncates the file back to the noted size, so no partial line
// remains, removes a log that was empty (this run made it, or it holds
// nothing to recover), and the record goes to the next place instead.
// Programs that append without the lock are not protected against.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <span>
#include <string_view>

namespace zv {

/// One place of the log.  `directory` (nullptr: none) is made with mode
/// 0755 before `path` is opened.  Both texts are borrowed.
struct LogPlace {
  const char* directory;
  const char* path;
};

/// The places a run tries, in order, relative to the working directory.
inline constexpr LogPlace kLogPlaces[] = {
    {"logs", "logs/ZVClient.log"},
    {nullptr, "ZVClient.log"},
    {"/tmp", "/tmp/ZVClient.log"},
};

/// The calls through which a record reaches its file.  The program uses the
/// system calls themselves; a test derives from this to watch or fail them.
/// Each returns what the system call does (errno set on failure).
class LogFileCalls {
 public:
  virtual ~LogFileCalls() = default;
  virtual int lock(int fd) { return ::flock(fd, LOCK_EX); }
  virtual ssize_t write(int fd, const iovec* parts, int count) {
    return ::writev(fd, parts, count);
  }
  virtual int sync(int fd) { return ::fsync(fd); }
};

/// The plain system calls; lives for the whole run.
LogFileCalls& log_system_calls();

/// Appends `line` and an LF as one record to the first usable place of
/// `places`, under the locking protocol above, made durable (fsync) before
/// the lock is released.  The line is not copied.  Returns whether a place
/// took the whole record; failures are not reported here.
bool log_write(std::string_view line, std::span<const LogPlace> places = kLogPlaces,
               LogFileCalls& calls = log_system_calls());

/// From now on records are written without a sync of their own, and the
/// place written last stays open and locked for the next record, so that
/// many records cost little; log_sync_deferred() makes them durable all at
/// once and lets the place go.  The caller syncs often enough that no
/// record stays unsynced for long (the operations: a fraction of a second).
void log_defer_syncs();

/// Syncs every log file written since the last call and lets the held place
/// go; true when there was nothing to sync or every sync went through.
bool log_sync_deferred();

/// The path of the place that took the run's last record, or nullptr.
const char* log_last_place();

/// Records written since the last log_sync_deferred().
std::size_t log_unsynced_records();

}  // namespace zv
