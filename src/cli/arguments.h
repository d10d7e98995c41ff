// The command line: the Arguments record, help and version.
#pragma once

#include <cstdint>
#include <optional>

#include "base/error.h"

namespace zv {

/// The parsed command line, as it said: nothing changes it once it is read.
/// Texts are borrowed from the command line and are nullptr when absent;
/// the record owns nothing.
struct Arguments {
  const char* program_path = nullptr;
  const char* response_client = nullptr;
  std::int32_t response_max = 1;
  bool status_query = false;
  /// Index in map_data_words of the first word after "--map-data"; -1
  /// without "--map-data".
  std::int32_t map_data_index = -1;
  /// The command line, when "--map-data" names a data-map submission.
  std::optional<Words> map_data_words;
  const char* map_data_transaction_id = nullptr;
  const char* submit_path = nullptr;
  const char* map_data_path = nullptr;
  const char* recover_path = nullptr;
  const char* post_path = nullptr;
  const char* mapping_path = nullptr;
  /// The whole command-line vector, for a mapping file's #N references.
  std::optional<Words> mapping_words;
  std::int32_t mapping_last_index = 0;
  const char* custom_uri = nullptr;
  /// The message given as the last word of the command line.
  const char* message = nullptr;
};

/// Parses the command line (argv[0] is the program path; argv[argc] is
/// nullptr).  Returns the record, or nullopt when the run ends without an
/// operation: help or version shown, or the line rejected (the error line
/// written and the exit code recorded where one applies).
///
/// The record is a value: its initial state (every text absent,
/// response_max 1, map_data_index -1) is the member initialisers above, and
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
