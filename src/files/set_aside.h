// Lines the program can neither send nor keep in the recovery log (a record
// torn by a kill, a line that is no submission) are never dropped: they are
// set aside, one per line, in "L.setaside" beside the log L they came from,
// made with mode 0600 and synced like a log record.
#pragma once

#include <string_view>

#include "base/memory.h"

namespace zv {

/// The set-aside file of the log at `log_path`.  Throws memory_exhausted.
Text set_aside_name(const char* log_path);

/// Appends `line` and an LF to the set-aside file of `log_path`, by the
/// rule of safe_file.h, synced (and its directory, when the file is new)
/// before it returns.  False when it could not be kept.  Throws
/// memory_exhausted.
bool set_aside(const char* log_path, std::string_view line);

}  // namespace zv
