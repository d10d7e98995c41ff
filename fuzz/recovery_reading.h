// How a recovery run reads one line of the recovery log back into the
// submission it sends again, for the entries that check the log's round
// trip.  It follows the recovery's own choice of road and the data-map
// rule for the transaction id, and stops where the recovery would send.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv::fuzz {

struct Submission {
  /// The message road; otherwise the data-map road.
  bool is_message = false;
  std::string message;
  /// The data map's transaction id; nullopt when the line names none and the
  /// command line's would be used.
  std::optional<std::string> transaction_id;
  std::vector<std::string> items;

  bool operator==(const Submission&) const = default;
};

/// What the recovery sends for `line`, one line of the log as the line
/// reader gives it.  Throws memory_exhausted.
Submission read_back(std::string_view line);

/// Aborts unless `record` comes back from the line reader as this one line:
/// no line break, no NUL, and no leading white space (which the reader
/// passes over).
void check_one_line(std::string_view record);

}  // namespace zv::fuzz
