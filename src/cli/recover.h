// Recovery: resubmitting what earlier runs could not deliver.
#pragma once

#include <optional>

#include "base/memory.h"
#include "cli/recover_progress.h"
#include "cli/session.h"
#include "transport/endpoint.h"

namespace zv {

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

/// Sends one line of a recovery log again, as the submission it records.
/// The line may be changed in place.
void recover_line(Session& session, const Endpoint& endpoint, char* line);

/// Sends every line of the file named by `recover_path` (P) again, crash
/// safe (recover_progress.h): under the recovery lock, first finishes a
/// pending recovery of P from its mark, then, when P exists, renames it to
/// "P.recover" and sends its lines, marking each one handled.  Killed at any
/// moment, the next run loses no line and sends at most the one in flight
/// twice.  Submissions that fail again are logged anew, so when P is the
/// recovery log they start a fresh log under the old name.  "P.recover"
/// stays on disk when the recovery is over.
///
/// Reported with "Recover file could not be modified." and exit code 40:
/// the lock cannot be had; P cannot be renamed (or is no regular file of
/// this user) unless a pending recovery was just finished.  When memory
/// runs out before the renamed file is read, the recovery stays pending.
void recover_file(Session& session, const Endpoint& endpoint);

}  // namespace zv
