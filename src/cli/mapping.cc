#include "cli/mapping.h"

#include <cstdio>
#include <optional>

#include "base/error.h"
#include "cli/submit.h"
#include "files/file.h"
#include "message/transaction.h"

namespace zv {

namespace {

// The document built from the whole file, or nullopt when memory ran out
// (the gate has reported it): a transaction that lost a line is not sent.
std::optional<Text> build_transaction(File& file, const Arguments& arguments) {
  try {
    SubmitData record = submit_data_initialize();
    for (;;) {
      int last = file_read_line(file);
      if (file.cut) return std::nullopt;
      if (file.has_line) submit_data_process_config_line(record, arguments, file.line());
      if (last == EOF) break;
    }
    return submit_data_generate_message(record);
  } catch (const memory_exhausted&) {
    return std::nullopt;
  }
}

}  // namespace

void submit_mapping_file(Session& session, const Endpoint& endpoint) {
  Arguments& arguments = session.arguments;
  std::optional<File> file =
      file_open_input(arguments.mapping_path, "Submit mapping file could not be opened.");
  if (!file) return;
  std::optional<Text> message = build_transaction(*file, arguments);
  if (!message) return;
  arguments.message = message->c_str();
  submit(session, endpoint);
  // The document is released when this operation ends; the record must not
  // keep pointing at it.
  arguments.message = nullptr;
}

}  // namespace zv
