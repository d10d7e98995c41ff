// The one rule by which the program opens a file that it keeps or trusts
// (a recovery log, the recovery's own bookkeeping).
//
// The path is opened without following a symbolic link and without
// blocking on a FIFO, close-on-exec, and kept only when it is a regular file
// with one link, owned by the effective user (or, where the caller allows
// it, root) and writable by nobody else.
// So a FIFO never stalls the run, and a file planted or linked by someone
// else is neither written nor read.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "base/descriptor.h"

namespace zv {

/// The identity of a file.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileId&) const = default;
};

/// Who may own a file the program trusts: the user, or (for a file the
/// system installed, such as the runtime configuration) root as well.
enum class Owners { kUser, kUserOrRoot };

/// Opens `path` under the rule above; `flags` (O_RDONLY, O_RDWR, O_APPEND,
/// O_CREAT, O_EXCL) are added to O_NOFOLLOW|O_NONBLOCK|O_CLOEXEC, a file
/// created here gets mode 0600 whatever the umask, and blocking is restored
/// after the open.  `id`, when given, receives the file's identity;
/// `created`, when given, whether this open made the file.  An invalid
/// Descriptor when the path cannot be opened or fails the rule (errno is
/// not kept).
Descriptor safe_open(const char* path, int flags, FileId* id = nullptr, bool* created = nullptr,
                     Owners owners = Owners::kUser);

/// As safe_open, for `path` relative to the open `directory` (AT_FDCWD: the
/// working directory).
Descriptor safe_open_at(int directory, const char* path, int flags, FileId* id = nullptr,
                        bool* created = nullptr, Owners owners = Owners::kUser);

/// Opens the directory `path` without following a link, and keeps it only
/// when it is owned by the user or root and nobody else can write it,
/// unless it is sticky (as /tmp is): a directory someone else controls could
/// move a file of the user's away after it was written.
Descriptor safe_directory(const char* path);

inline constexpr std::size_t kMaxDirectoryName = 4096;

/// The directory part of `path` ("." when it has no '/', "/" for "/x"),
/// NUL-terminated in `directory`; false when it does not fit.
bool directory_name_of(const char* path, char (&directory)[kMaxDirectoryName]);

/// Makes a directory (mode 0755 whatever the umask) when it is missing;
/// true when this call made it.
bool make_directory(const char* path);

/// The syncs that make files and directories durable.  The program uses
/// the system calls; a test derives from this to see their order or fail
/// them.  Each returns 0 or -1 (errno set).
class DurableCalls {
 public:
  virtual ~DurableCalls() = default;
  /// fsync of an open file.
  virtual int sync(int fd);
  /// fsync of the directory that holds `path` (its entries: a file made,
  /// renamed or removed there).
  virtual int sync_directory_of(const char* path);
};

/// The calls in use (the system's, unless a test set others).
DurableCalls& durable_calls();
/// Test seam: use `calls` (nullptr restores the system's).
void durable_set_calls(DurableCalls* calls);

/// Waits for flock(LOCK_EX) on `fd` (retried on EINTR); false on failure.
bool lock_exclusive(int fd);

}  // namespace zv
