// What every operation of a run works on: the parsed command line (the
// Arguments record, read by cli/arguments.h), which no operation changes,
// and the state of the run.
#pragma once

#include <chrono>
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

/// What the run has seen of the agent: whether it is away (not there at
/// the last attempt), since when, and when to try again.
struct AgentWatch {
  using Clock = std::chrono::steady_clock;
  bool away = false;
  Clock::time_point away_since{};
  Clock::time_point next_try{};
  /// How long the last exchange took: a slow one syncs kept records first.
  Clock::duration last_exchange{};
  /// Submissions kept without being sent while the agent was away.
  std::uint64_t held_back = 0;
  /// When the oldest record not yet synced was kept.
  Clock::time_point unsynced_since{};
};

struct Session;

/// Told after each line of a file run, with how far through the file it is
/// (bytes; `total` 0 when the size is unknown): what a person watching the
/// run is shown is the caller's business.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void line_done(const Session& session, std::uint64_t done, std::uint64_t total) = 0;
};

struct Session {
  Session(const Arguments& arguments, Parser& xml_parser, Output* output = nullptr,
          std::int32_t response_count = 0)
      : arguments(arguments),
        xml_parser(xml_parser),
        output(output),
        response_count(response_count) {}

  const Arguments& arguments;
  /// Holds the reply of the current exchange; emptied after every exchange.
  Parser& xml_parser;
  /// Where replies are written; set by the driver while an operation runs.
  Output* output = nullptr;
  /// Replies the reply handler has written and counted.
  std::int32_t response_count = 0;
  AgentWatch agent;
  /// Submissions posted (sent, or kept without sending), and of them those
  /// kept in the recovery log; lines set aside by a recovery.
  std::uint64_t submissions = 0;
  std::uint64_t kept = 0;
  std::uint64_t set_aside = 0;
  /// Where a file run tells its progress; nullptr: nowhere.
  ProgressSink* progress = nullptr;
};

}  // namespace zv
