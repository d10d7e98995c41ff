#include "cli/recover.h"

#include <unistd.h>

#include <cstdio>

#include "cli/error.h"
#include "cli/submit.h"
#include "cli/text.h"
#include "files/file.h"
#include "files/log_record.h"
#include "message/map_data.h"

namespace zv {

namespace {

constexpr std::string_view kUnmodifiable = "Recover file could not be modified.";

}  // namespace

std::optional<Text> rename_recover_file(const char* path) {
  Text name = string_concat(path, ".", "recover");
  ::unlink(name.c_str());
  if (std::rename(path, name.c_str()) != 0) return std::nullopt;
  return name;
}

void recover_line(Session& session, const Endpoint& endpoint, char* line) {
  if (line == nullptr || *line == '\0') return;
  switch (log_record_kind(line)) {
    case LogRecordKind::kMessage:
      submit_line(session, endpoint, line);
      break;
    case LogRecordKind::kMapDataLine:
      map_data_line(session, endpoint, line);
      break;
    case LogRecordKind::kMarkedMessage:
      try {
        // An empty message is a submission too: it was sent, so it is sent again.
        Text message = log_unescape(line + 2);
        session.arguments.message = message.c_str();
        submit(session, endpoint);
        session.arguments.message = nullptr;
      } catch (const memory_exhausted&) {
        session.arguments.message = nullptr;  // reported by the gate; the line is skipped
      }
      break;
    case LogRecordKind::kMarkedMapData:
      try {
        Text record = log_unescape(line + 2);
        map_data_record(session, endpoint, record.data());
      } catch (const memory_exhausted&) {
        // Reported by the gate; the line is skipped.
      }
      break;
  }
}

void recover_file(Session& session, const Endpoint& endpoint) {
  std::optional<Text> name = rename_recover_file(session.arguments.recover_path);
  if (!name) {
    show_error_text(kUnmodifiable);
    set_exit_code(kExitFile);
    return;
  }
  std::optional<File> file = file_open_input(name->c_str(), kUnmodifiable);
  if (!file) return;
  // A line without text (its buffer could not be had) is skipped.
  while (read_file(*file)) recover_line(session, endpoint, file->line_data());
}

}  // namespace zv
