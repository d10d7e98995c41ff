// The recovery log: every submission that could not be delivered is
// appended as one line to logs/ZVClient.log, from which a later
// --recover-file run submits it again.  The line is the submission's record
// (log_record.h); where it goes and how it is kept whole is log_file.h's.
#pragma once

#include <span>

#include "files/log_file.h"
#include "message/submission.h"

namespace zv {

/// Appends `submission` to the first usable of `places` (log_file.h), in
/// the plain or the marked form (log_record.h), whichever carries it back
/// unchanged.  When no place takes the record, the error line "Recovery log
/// could not be written." is shown and the exit code is 40.  When the record
/// cannot be built for lack of memory nothing is written and the exit code
/// is 30.  Other exit codes are left as they are.  True when the record was
/// kept.
bool log_submission(const Submission& submission, std::span<const LogPlace> places = kLogPlaces);

}  // namespace zv
