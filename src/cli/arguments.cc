#include "cli/arguments.h"

#include <cstddef>
#include <string_view>

#include "base/text.h"

namespace zv {

namespace {

constexpr std::string_view kRecoverFileMissing = "Recovery file could not be opened.";
constexpr std::string_view kInvalidArgument = "Invalid/Unsupported command line argument.";
// "--submit-mapping-file" is an operation too, yet this text has never named
// it; scripts match the text as it stands.
constexpr std::string_view kOnlyOneOperation =
    "Only one of the following can be used:\n"
    "  --get-response, --get-status, --submit-file, --map-data, --map-data-file,\n"
    "  --recover-file, or an ZVXML/Classic message.";

/// Ends the run with the help text and no exit code of its own (--help).
std::optional<Arguments> arguments_exit() {
  show_help();
  return std::nullopt;
}

/// Ends the run with the help text for a command line that cannot run: a
/// failure, as an empty command line is.
std::optional<Arguments> help_for_rejected() {
  show_help();
  set_exit_code(kExitCommandLine);
  return std::nullopt;
}

std::optional<Arguments> reject(std::string_view text) {
  show_error_text(text);
  set_exit_code(kExitCommandLine);
  return std::nullopt;
}

}  // namespace

std::optional<Arguments> arguments_open(int argc, char** argv) {
  if (argc < 2) return help_for_rejected();

  Arguments arguments;
  arguments.program_path = argv[0];
  const Words line(argv, static_cast<std::size_t>(argc));
  // Counts the operations less one, so that above 0 means two or more.
  int operations = -1;

  int position = 1;
  for (; position < argc; ++position) {
    const std::string_view word = argv[position];
    const char* value = position + 1 < argc ? argv[position + 1] : nullptr;

    if (word == "--map-data") {
      arguments.map_data_index = position + 1;
      arguments.map_data_words = line;
      if (arguments.map_data_transaction_id == nullptr) arguments.map_data_transaction_id = "1";
      ++operations;
      break;
    } else if (word == "--map-data-transaction-id") {
      arguments.map_data_transaction_id = value;
    } else if (word == "--post-file") {
      arguments.post_path = value;
    } else if (word == "--submit-file") {
      arguments.submit_path = value;
      ++operations;
    } else if (word == "--submit-mapping-file") {
      arguments.mapping_last_index = argc - 1;
      arguments.mapping_path = value;
      arguments.mapping_words = line;
      ++operations;
      break;
    } else if (word == "--map-data-file") {
      arguments.map_data_path = value;
      ++operations;
    } else if (word == "--recover-file") {
      ++operations;
      arguments.recover_path = value;
      if (value == nullptr) return reject(kRecoverFileMissing);
    } else if (word == "--get-response") {
      ++operations;
      arguments.response_client = value;
      if (value == nullptr) return help_for_rejected();
    } else if (word == "--get-response-max") {
      arguments.response_max = parse_int(value);
      if (arguments.response_max <= 0) return help_for_rejected();
    } else if (word == "--get-status") {
      arguments.status_query = true;
      ++operations;
    } else if (word == "--http-get" || word == "--http-post") {
      arguments.custom_uri = value;
    } else if (word == "--help") {
      return arguments_exit();
    } else if (word == "--version") {
      show_version();
      return std::nullopt;
    } else if (word.starts_with("--")) {
      return reject(kInvalidArgument);
    }
    // Any other word is passed over; only the last one can become the message.
  }

  if (!arguments.status_query && arguments.map_data_path == nullptr &&
      arguments.submit_path == nullptr && arguments.recover_path == nullptr &&
      arguments.response_client == nullptr && arguments.mapping_path == nullptr &&
      arguments.map_data_index == -1) {
    // After a full scan this is the last word, whatever it is; after a
    // "--submit-mapping-file" without a file it is the word before that option.
    arguments.message = argv[position - 1];
    ++operations;
  }

  if (operations > 0) return reject(kOnlyOneOperation);
  return arguments;
}

}  // namespace zv
