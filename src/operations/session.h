// What every operation of a run works on: the parsed command line (the
// Arguments record, read by cli/arguments.h), which no operation changes,
// and the state of the run.
#pragma once

#include <cstdint>
#include <optional>

#include "base/error.h"
#include "xml/xml_document.h"

namespace zv {

class Output;

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

struct Session {
  const Arguments& arguments;
  /// Holds the reply of the current exchange; emptied after every exchange.
  Parser& xml_parser;
  /// Where replies are written; set by the driver while an operation runs.
  Output* output = nullptr;
  /// Replies the reply handler has written and counted.
  std::int32_t response_count = 0;
};

}  // namespace zv
