#include "operations/mapping.h"

#include <cstdio>
#include <optional>

#include "base/error.h"
#include "files/file.h"
#include "message/transaction.h"
#include "operations/submit.h"

namespace zv {

namespace {

// The document built from the whole file, or nullopt when memory ran out
// (the gate has reported it): a transaction that lost a line is not sent.
std::optional<Text> build_transaction(File& file, Words words) {
  try {
    SubmitData record = submit_data_initialize();
    for (;;) {
      int last = file_read_line(file);
      if (file.skipped) return std::nullopt;
      if (file.has_line) submit_data_process_config_line(record, words, file.line());
      if (last == EOF) break;
    }
    return submit_data_generate_message(record);
  } catch (const memory_exhausted&) {
    return std::nullopt;
  }
}

}  // namespace

void submit_mapping_file(Session& session, const Endpoint& endpoint) {
  const Arguments& arguments = session.arguments;
  std::optional<File> file =
      file_open_input(arguments.mapping_path, "Submit mapping file could not be opened.");
  if (!file) return;
  // A '#N' reference names a word of the command line up to its last.
  Words words;
  if (arguments.mapping_words) {
    words =
        arguments.mapping_words->first(static_cast<std::size_t>(arguments.mapping_last_index) + 1);
  }
  std::optional<Text> message = build_transaction(*file, words);
  if (!message) return;
  submit(session, endpoint, *message);
}

}  // namespace zv
