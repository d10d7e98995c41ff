#include "operations/map_data.h"

#include <optional>

#include "base/error.h"
#include "base/text.h"
#include "message/map_data_split.h"
#include "message/submission.h"
#include "operations/each_line.h"
#include "operations/exchange.h"
#include "xml/xml_document.h"

namespace zv {

namespace {

// The words a submission is made of: `words` from `first` on, the
// transaction id among them or given apart.
struct MapDataWords {
  Words words;
  std::size_t first = 0;
  const char* transaction_id = nullptr;
};

// The first word is the transaction id when it reads as a number.
MapDataWords take_numeric_id(MapDataWords from) {
  if (from.first < from.words.size() && from.words[from.first] != nullptr &&
      parse_int(from.words[from.first]) != -1) {
    from.transaction_id = from.words[from.first++];
  }
  return from;
}

Outcome send(Session& session, const Endpoint& endpoint, const MapDataWords& data) {
  if (data.transaction_id == nullptr) {
    Submission shown = map_data_submission(nullptr, data.words);
    show_error_detail_data(kErrorMapData, "Transaction ID must be a positive Integer",
                           &shown.items);
    set_exit_code(kExitCommandLine);  // nothing was sent: the run did not do its task
    return Outcome::kInvalid;
  }
  try {
    return post(session, endpoint,
                map_data_submission(data.transaction_id, data.words.subspan(data.first)));
  } catch (const memory_exhausted&) {
    // Reported by the gate: this submission is neither sent nor logged.
    return Outcome::kLost;
  }
}

// Splits `line` and sends it; `id_first` says that its first word is the
// transaction id whatever it reads as (a record of the recovery log's own).
Outcome send_line(Session& session, const Endpoint& endpoint, char* line, bool id_first) {
  if (line == nullptr || *line == '\0') return Outcome::kInvalid;
  Outcome outcome = Outcome::kLost;
  try {
    Vec<const char*> words = map_data_open(line);
    MapDataWords data{Words(words), 0, session.arguments.map_data_transaction_id};
    if (id_first && !words.empty()) {
      data.transaction_id = words.front();
      data.first = 1;
    } else {
      data = take_numeric_id(data);
    }
    outcome = send(session, endpoint, data);
  } catch (const memory_exhausted&) {
    // Reported by the gate: the line is skipped.
  }
  parser_clear(session.xml_parser);
  return outcome;
}

}  // namespace

void map_data(Session& session, const Endpoint& endpoint) {
  const Arguments& arguments = session.arguments;
  if (!arguments.map_data_words) return;
  std::size_t first =
      arguments.map_data_index < 0 ? 0 : static_cast<std::size_t>(arguments.map_data_index);
  send(session, endpoint,
       take_numeric_id({*arguments.map_data_words, first, arguments.map_data_transaction_id}));
  parser_clear(session.xml_parser);
}

Outcome map_data_line(Session& session, const Endpoint& endpoint, char* line) {
  return send_line(session, endpoint, line, false);
}

Outcome map_data_record(Session& session, const Endpoint& endpoint, char* record) {
  return send_line(session, endpoint, record, true);
}

void map_data_file(Session& session, const Endpoint& endpoint) {
  send_each_line(session, session.arguments.map_data_path, "Map data file could not be opened.",
                 [&](char* line) { map_data_line(session, endpoint, line); });
}

}  // namespace zv
