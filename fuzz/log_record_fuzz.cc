#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/memory.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"
#include "message/log_record.h"
#include "recovery_reading.h"

namespace zv {

namespace {

using fuzz::check;

std::string reference_escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

// Only the three escapes the writer makes, each backslash beginning one.
bool reference_decodes(std::string_view payload) {
  std::size_t at = 0;
  while ((at = payload.find('\\', at)) != std::string_view::npos) {
    if (at + 1 == payload.size() ||
        std::string_view("\\nr").find(payload[at + 1]) == std::string_view::npos) {
      return false;
    }
    at += 2;
  }
  return true;
}

LogRecordKind reference_kind(std::string_view line) {
  if (line.size() >= 2 && line[0] == kLogMark && reference_decodes(line.substr(2))) {
    if (line[1] == kLogMarkMessage) return LogRecordKind::kMarkedMessage;
    if (line[1] == kLogMarkMapData && line.substr(2).starts_with('"')) {
      return LogRecordKind::kMarkedMapData;
    }
  }
  return line.starts_with('<') ? LogRecordKind::kMessage : LogRecordKind::kMapDataLine;
}

void check_message(std::string_view message) {
  Text record = log_message_record(message);
  fuzz::check_one_line(record);
  if (log_message_is_plain(message)) {
    check(record == message);
  } else {
    check(std::string_view(record) ==
          std::string{kLogMark, kLogMarkMessage} + reference_escape(message));
  }
  check(fuzz::read_back(record) == fuzz::Submission{true, std::string(message), std::nullopt, {}});
}

// Transaction id and items are the texts between NUL bytes; without
// `has_id` every text is an item and the id is the "0" the log writes for
// none.  A nullptr entry, which ends the items, follows them when `closed`.
void check_map_data(std::string_view bytes, bool has_id, bool closed) {
  std::vector<std::string> texts;
  for (std::string_view piece : fuzz::split_at(bytes, '\0')) texts.emplace_back(piece);
  std::vector<const char*> words;
  for (const std::string& text : texts) words.push_back(text.c_str());
  const char* id = has_id ? words.front() : nullptr;
  std::size_t first = has_id ? 1 : 0;
  if (closed) words.push_back(nullptr);

  Text record = log_map_data_record(id, Words(words), first);
  fuzz::check_one_line(record);
  fuzz::Submission expected;
  expected.transaction_id = has_id ? texts.front() : "0";
  expected.items.assign(texts.begin() + static_cast<std::ptrdiff_t>(first), texts.end());
  check(fuzz::read_back(record) == expected);
}

// Any line the reader can give: classified as the reference does, and a
// marked payload decodes to a text that the writer's escaping turns back
// into the same payload.
void check_line(std::string_view line) {
  LogRecordKind kind = log_record_kind(line);
  check(kind == reference_kind(line));
  if (kind == LogRecordKind::kMarkedMessage || kind == LogRecordKind::kMarkedMapData) {
    check(reference_escape(log_unescape(line.substr(2))) == line.substr(2));
  }
}

}  // namespace

int log_record_fuzz_one(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes = fuzz::bytes_of(data, size);
  unsigned char settings = fuzz::take_settings(bytes);
  std::size_t before = memory_allocated;
  if (settings & 1) {
    check_map_data(bytes, settings & 2, settings & 4);
  } else {
    check_message(fuzz::up_to_nul(bytes));
  }
  std::string_view line = bytes.substr(0, bytes.find_first_of(std::string_view("\r\n\0", 3)));
  while (!line.empty() && fuzz::reference_is_space(line.front())) line.remove_prefix(1);
  check_line(line);
  check(memory_allocated == before);
  return 0;
}

}  // namespace zv
