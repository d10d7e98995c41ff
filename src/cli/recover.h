// Recovery: resubmitting what earlier runs could not deliver.
#pragma once

#include <optional>

#include "cli/memory.h"
#include "cli/session.h"
#include "transport/endpoint.h"

namespace zv {

/// Renames `path` to `path` + ".recover", replacing any file of that name.
/// Returns the new name, or nullopt when the rename failed.  Throws
/// memory_exhausted.
std::optional<Text> rename_recover_file(const char* path);

/// Sends one line of a recovery log again, as the submission it records.
/// The line may be changed in place.
void recover_line(Session& session, const Endpoint& endpoint, char* line);

/// Renames the file named by `recover_path` out of the way, then sends
/// every line of it again.  Submissions that fail again are logged anew, so
/// when the file is the recovery log they start a fresh log under the old
/// name.  A file that cannot be renamed or opened is reported with exit
/// code 40.
void recover_file(Session& session, const Endpoint& endpoint);

}  // namespace zv
