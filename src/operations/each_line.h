// The loop of the operations that send every line of a file.
#pragma once

#include <optional>
#include <string_view>

#include "files/file.h"
#include "operations/session.h"

namespace zv {

/// Opens the file named on the command line and hands each of its lines,
/// in order, to `send` as a mutable NUL-terminated text (nullptr for a line
/// that could not be held), telling the session's progress sink after each.
/// A file that cannot be opened is reported with the error line
/// "ERROR  <not_opened>" and exit code 40.
template <class Send>
void send_each_line(Session& session, const char* path, std::string_view not_opened, Send send) {
  std::optional<File> file = file_open_input(path, not_opened);
  if (!file) return;
  std::uint64_t total = file_size(*file);
  while (read_file(*file)) {
    send(file->line_data());
    if (session.progress != nullptr)
      session.progress->line_done(session, file_offset(*file), total);
  }
}

}  // namespace zv
