#include "message/log_record.h"

#include "base/text.h"

namespace zv {

namespace {

bool needs_escape(char c) { return c == '\\' || c == '"'; }

std::size_t encoded_size(std::string_view item) {
  std::size_t size = item.size() + 2;
  for (char c : item) size += needs_escape(c);
  return size;
}

void append_encoded(Text& out, std::string_view item) {
  out.push_back('"');
  for (char c : item) {
    if (needs_escape(c)) out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

bool is_line_break(char c) { return c == '\n' || c == '\r'; }

bool holds_line_break(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// A transaction id that the data-map splitter reads back as one word and
// the recovery takes as the id again: no white space, quote or backslash to
// split or unescape it, and a number by parse_int.
bool plain_transaction_id(const char* id) {
  if (id == nullptr) return true;  // written as "0"
  for (const char* c = id; *c != '\0'; ++c) {
    bool space = *c == ' ' || (*c >= '\t' && *c <= '\r');
    if (space || *c == '"' || *c == '\'' || *c == '\\') return false;
  }
  return parse_int(id) != -1;
}

Text marked(char kind, std::string_view record) {
  std::size_t size = 2 + record.size();
  for (char c : record) size += (c == '\\' || is_line_break(c));
  Text line;
  line.reserve(size);
  line.push_back(kLogMark);
  line.push_back(kind);
  for (char c : record) {
    if (c == '\\') {
      line.append("\\\\");
    } else if (c == '\n') {
      line.append("\\n");
    } else if (c == '\r') {
      line.append("\\r");
    } else {
      line.push_back(c);
    }
  }
  return line;
}

// Only the three escapes that `marked` makes; anything else means the line
// was not written by this client or was damaged since.
bool escapes_decode(std::string_view payload) {
  for (std::size_t i = 0; i < payload.size(); ++i) {
    if (payload[i] != '\\') continue;
    if (++i == payload.size()) return false;
    char next = payload[i];
    if (next != '\\' && next != 'n' && next != 'r') return false;
  }
  return true;
}

}  // namespace

Text log_encode_map_data(std::string_view item) {
  Text encoded;
  encoded.reserve(encoded_size(item));
  append_encoded(encoded, item);
  return encoded;
}

Text log_map_data_line(const char* transaction_id, Words items, std::size_t first) {
  std::string_view id = transaction_id != nullptr ? transaction_id : "0";
  std::size_t end = first;
  std::size_t size = id.size() + 1;
  while (end < items.size() && items[end] != nullptr) size += encoded_size(items[end++]) + 1;

  // The blank after the id stays even without items: that is the record's
  // documented form, and the reader takes the id alone back all the same.
  Text line;
  line.reserve(size);
  line.append(id);
  line.push_back(' ');
  for (std::size_t i = first; i < end; ++i) {
    if (i > first) line.push_back(' ');
    append_encoded(line, items[i]);
  }
  return line;
}

bool log_message_is_plain(std::string_view message) {
  return !message.empty() && message.front() == '<' && !holds_line_break(message);
}

Text log_message_record(std::string_view message) {
  if (log_message_is_plain(message)) return Text(message);
  return marked(kLogMarkMessage, message);
}

Text log_map_data_record(const char* transaction_id, Words items, std::size_t first) {
  bool plain = plain_transaction_id(transaction_id);
  for (std::size_t i = first; plain && i < items.size() && items[i] != nullptr; ++i) {
    plain = !holds_line_break(items[i]);
  }
  if (plain) return log_map_data_line(transaction_id, items, first);
  Text id = log_encode_map_data(transaction_id != nullptr ? transaction_id : "0");
  return marked(kLogMarkMapData, log_map_data_line(id.c_str(), items, first));
}

LogRecord log_record(const Submission& submission) {
  LogRecord record;
  if (submission.kind == Submission::Kind::kMapData) {
    record.owned = log_map_data_record(submission.transaction_id, submission.items, 0);
  } else if (log_message_is_plain(submission.message)) {
    record.plain = submission.message;  // as it stands: no copy of a large message
  } else {
    record.owned = log_message_record(submission.message);
  }
  return record;
}

LogRecordKind log_record_kind(std::string_view line) {
  if (line.size() >= 2 && line[0] == kLogMark) {
    std::string_view payload = line.substr(2);
    if (line[1] == kLogMarkMessage && escapes_decode(payload)) return LogRecordKind::kMarkedMessage;
    if (line[1] == kLogMarkMapData && escapes_decode(payload) && payload.starts_with('"')) {
      return LogRecordKind::kMarkedMapData;
    }
  }
  return !line.empty() && line[0] == '<' ? LogRecordKind::kMessage : LogRecordKind::kMapDataLine;
}

Text log_unescape(std::string_view payload) {
  Text text;
  text.reserve(payload.size());
  for (std::size_t i = 0; i < payload.size(); ++i) {
    char c = payload[i];
    if (c == '\\' && i + 1 < payload.size()) {
      char next = payload[++i];
      c = next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    text.push_back(c);
  }
  return text;
}

}  // namespace zv
