// The bookkeeping that makes a recovery survive the death of its process.
//
// For a recovery of the file P (team decision):
// - "P.recover.lock" (mode 0600, never deleted) is held with flock(LOCK_EX)
//   for the whole recovery, so two recoveries of one P never both send a
//   line: the second waits for the first, then finds what is left.
// - "P.recover.offset" holds the progress: the st_dev and st_ino of the file
//   being recovered and the offset of its next unhandled line, as three
//   fields of 20 decimal digits ("DEV INO OFFSET\n").  It is written before
//   P is renamed to P.recover, updated with one pwrite after each line
//   (no fsync: only the death of the process has to be survived, and a lost
//   mark can only cause a line to be sent twice), and unlinked when the file
//   is done.  A recovery is pending when it exists and names the file now
//   under "P.recover"; one that names another file was left by a crash
//   before the rename and is stale.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

#include "base/descriptor.h"

namespace zv {

/// The identity of a file.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileId&) const = default;
};

/// Opens `path` without following a symbolic link and without blocking on
/// a FIFO (`flags` are added to O_NOFOLLOW|O_NONBLOCK|O_CLOEXEC; blocking
/// is restored after the open), and keeps it only when it is a regular file
/// owned by the user running the program.  `id`, when given, receives its
/// identity.  An invalid Descriptor otherwise.
Descriptor open_own_file(const char* path, int flags, FileId* id = nullptr);

/// Waits for flock(LOCK_EX) on `fd` (retried on EINTR); false on failure.
bool lock_exclusive(int fd);

/// Creates (if needed) and locks the lock file `path` for as long as the
/// result lives.  An invalid Descriptor when it cannot be opened or locked.
Descriptor lock_recovery(const char* path);

/// The progress file of one recovery.
class RecoverProgress {
 public:
  /// Writes a new progress file at `path` naming `file` at offset 0,
  /// replacing an old one.  nullopt (and no file left) on failure.
  static std::optional<RecoverProgress> create(const char* path, FileId file);
  /// The progress file at `path` when it names `file` (nullptr: there is
  /// no file under the recover name).  Any other file at `path` (stale,
  /// unreadable, not a regular file of this user) is removed: nullopt.
  static std::optional<RecoverProgress> pending(const char* path, const FileId* file);

  /// The offset of the next unhandled line.
  std::uint64_t offset() const { return offset_; }
  /// Records that every line before `offset` has been handled.
  void mark(std::uint64_t offset);
  /// Removes the progress file: the recovery is over (or never happened).
  void remove();

 private:
  RecoverProgress(const char* path, Descriptor fd, std::uint64_t offset);
  const char* path_;  // borrowed
  Descriptor fd_;
  std::uint64_t offset_;
};

}  // namespace zv
