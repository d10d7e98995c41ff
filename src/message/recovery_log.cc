#include "message/recovery_log.h"

#include "base/error.h"
#include "message/log_record.h"

namespace zv {

namespace {

constexpr std::string_view kNotWritten = "Recovery log could not be written.";

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

// Which record a failed submission leaves is decided here alone, so that a
// new kind of record only touches this function.
void log_submission(const Submission& submission, std::span<const LogPlace> places) {
  bool written = true;
  try {
    if (submission.kind == Submission::Kind::kMapData) {
      Text line = log_map_data_record(submission.transaction_id, submission.items, 0);
      written = log_write(line, places);
    } else if (log_message_is_plain(submission.message)) {
      written = log_write(submission.message, places);  // as it stands: no copy of a large message
    } else {
      Text line = log_message_record(submission.message);
      written = log_write(line, places);
    }
  } catch (const memory_exhausted&) {
    set_exit_code(kExitMemory);
    return;
  }
  // The caller must not believe the submission kept when it is not.
  if (!written) {
    show_error_text(kNotWritten);
    set_exit_code(kExitFile);
  }
}

}  // namespace zv
