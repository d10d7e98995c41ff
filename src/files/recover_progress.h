// The bookkeeping that makes a recovery survive the death of its process.
//
// For a recovery of the file P:
// - "P.recover.lock" (mode 0600, never deleted) is held with flock(LOCK_EX)
//   for the whole recovery, so two recoveries of one P never both send a
//   line: the second waits for the first (a bounded time), then finds what
//   is left.
// - "P.recover.offset" holds the progress: the st_dev and st_ino of the file
//   being recovered and the offset of its next unhandled line, as three
//   fields of 20 decimal digits ("DEV INO OFFSET\n").  It is written and
//   made durable, with its directory, before P is renamed to P.recover (and
//   the directory is synced again after the rename), updated with one
//   pwrite after each line (no fsync: a lost mark can only cause a line to
//   be sent twice), and unlinked when the file is done.  A recovery is
//   pending when it exists and names the file now under "P.recover"; one
//   that names another file was left by a crash before the rename and is
//   stale; one that cannot be read while a P.recover exists starts that
//   file again from its beginning (duplicates, never a loss).
#pragma once

#include <cstdint>
#include <optional>

#include "base/descriptor.h"
#include "base/memory.h"
#include "files/safe_file.h"

namespace zv {

/// Creates (if needed) and locks the lock file `path` for as long as the
/// result lives, waiting at most `wait_ms` (0: as long as it takes) for a
/// recovery that holds it.  An invalid Descriptor when it cannot be opened
/// or locked; `busy` then says whether another recovery held it all along.
Descriptor lock_recovery(const char* path, int wait_ms, bool& busy);

/// The progress file of one recovery.
class RecoverProgress {
 public:
  /// Writes a new progress file at `path` naming `file` at offset 0,
  /// replacing an old one.  nullopt (and no file left) on failure.
  static std::optional<RecoverProgress> create(const char* path, FileId file);
  /// The progress file at `path` when it names `file` (nullptr: there is
  /// no file under the recover name).  One that cannot be read (or fails
  /// the rule of safe_file.h) while `file` exists is replaced by a new one
  /// naming `file` at offset 0.  Any other file at `path` (stale, or with
  /// no recover file) is removed: nullopt.
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

/// Lets an append that a log writer began before a rename finish: takes the
/// writers' lock on `fd` once and gives it back, so that the file's size
/// afterwards is its end.
void wait_for_writers(int fd);

/// True unless lstat says that nothing is at `path`.
bool path_exists(const char* path);

/// The files that go with a recovery of one path P.
struct RecoverNames {
  Text recover;   ///< "P.recover": the file being recovered
  Text lock;      ///< "P.recover.lock"
  Text progress;  ///< "P.recover.offset"
};

/// The names for `path`.  Throws memory_exhausted.
RecoverNames recover_names(const char* path);

/// A file renamed to its recover name, open for reading, with the progress
/// file that names it.
struct RenamedRecoverFile {
  Descriptor file;
  RecoverProgress progress;
};

/// Renames `path` to its recover name, replacing any file of that name in
/// the same step.  `path` must be a regular file of this user (opened
/// without following a link); the progress file naming it at offset 0 is
/// written before the rename.  nullopt when any step fails; a failed rename
/// deletes nothing (the progress file it wrote is removed again).
std::optional<RenamedRecoverFile> rename_recover_file(const char* path, const RecoverNames& names);

}  // namespace zv
