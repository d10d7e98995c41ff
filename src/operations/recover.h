// Recovery: resubmitting what earlier runs could not deliver.
#pragma once

#include "files/recover_progress.h"
#include "operations/exchange.h"
#include "operations/session.h"
#include "transport/endpoint.h"

namespace zv {

/// Sends one line of a recovery log again, as the submission it records,
/// and says what became of it (kInvalid: the line is no submission).  The
/// line is left as it was.
Outcome recover_line(Session& session, const Endpoint& endpoint, char* line);

/// Sends every line of the file named by `recover_path` (P) again, crash
/// safe (recover_progress.h): under the recovery lock, first finishes a
/// pending recovery of P from its mark, then, when P exists and is not
/// empty, renames it to "P.recover" and sends its lines, marking each one
/// handled once it was delivered, kept again, or set aside ("P.setaside":
/// a line that is no submission, or a last line without its LF, which a
/// killed writer left).  A line that can be none of these (no log place
/// takes it, or it is too long for the memory there is) stops the
/// recovery there, with its mark before that line, and nothing is renamed
/// over P.recover while it waits.  Killed at any moment, the next run loses
/// no line and sends at most the one in flight twice.  Submissions that
/// fail again are logged anew, so when P is the recovery log they start a
/// fresh log under the old name.  "P.recover" stays on disk when the
/// recovery is over.
///
/// Reported with "Recover file could not be modified." and exit code 40:
/// the lock cannot be had; P cannot be renamed (or is no regular file of
/// this user) unless a pending recovery was just finished.  When memory
/// runs out before the renamed file is read, the recovery stays pending.
void recover_file(Session& session, const Endpoint& endpoint);

}  // namespace zv
