// The command line: reading it into the Arguments record, help and version.
#pragma once

#include <optional>

#include "operations/session.h"

namespace zv {

/// Parses the command line (argv[0] is the program path; argv[argc] is
/// nullptr).  Returns the record, or nullopt when the run ends without an
/// operation: help or version shown, or the line rejected (the error line
/// written and the exit code recorded where one applies).
///
/// The record is a value: its initial state (every text absent,
/// response_max 1, map_data_index -1) is its member initialisers, and
/// releasing it is leaving its scope.  It borrows argv, which must outlive
/// it.  Never allocates.
///
/// Quirks kept on purpose, since scripts depend on them: an option's value
/// is looked at as a word of its own in the next step; "--map-data" and
/// "--submit-mapping-file" end the scan where they stand (what follows is
/// data); when no operation is named, the word just before the final scan
/// position is the message.
///
/// Named as the maker of the record; it parses, and opens nothing.
std::optional<Arguments> arguments_open(int argc, char** argv);

/// Writes the 66 lines of the help text to standard output.
void show_help();

/// Writes the version line and the maker's notice to standard output.
void show_version();

}  // namespace zv
