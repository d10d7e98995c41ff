#include "message/map_data.h"

#include <optional>

#include "base/error.h"
#include "base/text.h"
#include "files/file.h"
#include "transport/form.h"
#include "transport/http.h"
#include "xml/xml_document.h"

namespace zv {

namespace {

// A line's words live only as long as the line, so the record must forget
// them, and any transaction id taken from them, before they go; this holds
// on every way out, exceptions included.
class LineState {
 public:
  explicit LineState(Arguments& arguments)
      : arguments_(arguments), transaction_id_(arguments.map_data_transaction_id) {}
  ~LineState() {
    arguments_.map_data_words.reset();
    arguments_.map_data_index = -1;
    arguments_.map_data_transaction_id = transaction_id_;
  }
  LineState(const LineState&) = delete;
  LineState& operator=(const LineState&) = delete;

 private:
  Arguments& arguments_;
  const char* transaction_id_;
};

// The words from `first` to the end of the vector; a nullptr entry, should
// a vector carry one, ends them as it does for the recovery log.
std::size_t end_of_items(Words words, std::size_t first) {
  std::size_t end = first;
  while (end < words.size() && words[end] != nullptr) ++end;
  return end;
}

}  // namespace

void map_data(Session& session, const Endpoint& endpoint) {
  Arguments& arguments = session.arguments;
  if (arguments.map_data_words && arguments.map_data_index >= 0) {
    Words words = *arguments.map_data_words;
    auto index = static_cast<std::size_t>(arguments.map_data_index);
    if (index < words.size() && words[index] != nullptr && parse_int(words[index]) != -1) {
      arguments.map_data_transaction_id = words[index];
      ++arguments.map_data_index;
    }
  }
  map_data_send(session, endpoint);
}

void map_data_send(Session& session, const Endpoint& endpoint) {
  Arguments& arguments = session.arguments;
  if (!arguments.map_data_words) return;
  Words words = *arguments.map_data_words;
  if (arguments.map_data_transaction_id == nullptr) {
    Words shown = words.first(end_of_items(words, 0));
    show_error_detail_data(kErrorMapData, "Transaction ID must be a positive Integer", &shown);
    return;
  }
  std::size_t first = arguments.map_data_index < 0
                          ? 0
                          : static_cast<std::size_t>(arguments.map_data_index);
  try {
    ParamList list;
    std::size_t end = end_of_items(words, first);
    list.reserve(1 + (end > first ? end - first : 0));
    list.push_back({"transactionid", arguments.map_data_transaction_id});
    for (std::size_t i = first; i < end; ++i) list.push_back({"mapdata", words[i]});
    post(session, endpoint, list);
  } catch (const memory_exhausted&) {
    // Reported by the gate: this submission is neither sent nor logged.
  }
}

namespace {

// Splits `line` and sends it; `id_first` says that its first word is the
// transaction id whatever it reads as (a record of the recovery log's own).
void send_line(Session& session, const Endpoint& endpoint, char* line, bool id_first) {
  if (line == nullptr || *line == '\0') return;
  Arguments& arguments = session.arguments;
  try {
    Vec<const char*> words = map_data_open(line);
    // Declared after the words so that the record lets go of them first.
    LineState state(arguments);
    arguments.map_data_index = 0;
    arguments.map_data_words = Words(words);
    if (id_first && !words.empty()) {
      arguments.map_data_transaction_id = words.front();
      arguments.map_data_index = 1;
      map_data_send(session, endpoint);
    } else {
      map_data(session, endpoint);
    }
  } catch (const memory_exhausted&) {
    // Reported by the gate: the line is skipped.
  }
  parser_clear(session.xml_parser);
}

}  // namespace

void map_data_line(Session& session, const Endpoint& endpoint, char* line) {
  send_line(session, endpoint, line, false);
}

void map_data_record(Session& session, const Endpoint& endpoint, char* record) {
  send_line(session, endpoint, record, true);
}

void map_data_file(Session& session, const Endpoint& endpoint) {
  std::optional<File> file =
      file_open_input(session.arguments.map_data_path, "Map data file could not be opened.");
  if (!file) return;
  while (read_file(*file)) map_data_line(session, endpoint, file->line_data());
}

}  // namespace zv
