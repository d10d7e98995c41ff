#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/memory.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"
#include "message/transaction.h"
#include "operations/session.h"

namespace zv {

namespace {

using fuzz::check;

// Variables and command-line words that seed inputs refer to; between them
// they hold every shape a value resolves from.
constexpr const char* kVariables[][2] = {
    {"ZVFUZZ_QUOTED", "\"quoted <&> text\""},
    {"ZVFUZZ_EMPTY", ""},
    {"ZVFUZZ_QUOTES", "\"\"\""},
    {"ZVFUZZ_PLAIN", "a'b\"c"},
};
constexpr const char* kCommandLine[] = {"ZVClient", "\"one\"", "", "\"\"", "two <words>", nullptr};

std::optional<std::string> reference_trim(std::string_view text, char ch) {
  while (!text.empty() && text.front() == ch) text.remove_prefix(1);
  while (!text.empty() && text.back() == ch) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  return std::string(text);
}

std::optional<std::string> reference_value(std::string_view raw, std::int32_t last_index) {
  if (raw.empty()) return std::string();
  if (raw.front() == '"') return reference_trim(raw, '"');
  if (raw.front() == '%') {
    std::optional<std::string> name = reference_trim(raw, '%');
    const char* contents = name ? std::getenv(name->c_str()) : nullptr;
    if (contents == nullptr) return std::string(kInvalidVariable);
    return reference_trim(contents, '"');
  }
  if (raw.front() == '#') {
    std::optional<std::string> number = reference_trim(raw, '#');
    std::int32_t index = fuzz::reference_parse_int(number ? number->c_str() : nullptr);
    if (index < 0 || index > last_index || index >= std::ssize(kCommandLine) ||
        kCommandLine[index] == nullptr) {
      return std::string(kInvalidArgument);
    }
    return reference_trim(kCommandLine[index], '"');
  }
  return std::string(raw);
}

std::string reference_document(const std::vector<std::string_view>& lines,
                               std::int32_t last_index) {
  std::string method = "Add";
  std::string subclass = "Action";
  std::string elements;
  for (std::string_view line : lines) {
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view name = line.substr(0, equals);
    std::optional<std::string> value = reference_value(line.substr(equals + 1), last_index);
    if (!value) continue;
    if (name == "zvagent_method") {
      method = *value;
    } else if (name == "zvagent_subclass") {
      subclass = *value;
    } else {
      std::string escaped = fuzz::reference_xml_escape(name);
      elements += "<" + escaped + ">" + fuzz::reference_xml_escape(*value) + "</" + escaped + ">";
    }
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><transaction><header><method>" + method +
         "</method><subclass>" + subclass + "</subclass></header><data>" + elements +
         "</data></transaction>";
}

void set_variables() {
  static bool done = false;
  if (done) return;
  for (const auto& variable : kVariables) setenv(variable[0], variable[1], 1);
  done = true;
}

}  // namespace

int transaction_fuzz_one(const std::uint8_t* data, std::size_t size) {
  set_variables();
  std::string_view bytes = fuzz::bytes_of(data, size);
  // Reaches one past the last word now and then, to the vector's nullptr.
  auto last_index = static_cast<std::int32_t>(fuzz::take_settings(bytes) % std::size(kCommandLine));
  // Lines as the line reader gives them: none holds a line end or a NUL.
  std::vector<std::string_view> lines;
  for (std::string_view piece : fuzz::split_at(bytes, '\n')) {
    lines.push_back(piece.substr(0, piece.find_first_of(std::string_view("\r\0", 2))));
  }

  const Words words = Words(kCommandLine).first(static_cast<std::size_t>(last_index) + 1);
  std::size_t before = memory_allocated;
  {
    SubmitData record = submit_data_initialize();
    for (std::string_view line : lines) submit_data_process_config_line(record, words, line);
    Text document = submit_data_generate_message(record);
    check(std::string_view(document) == reference_document(lines, last_index));
  }
  check(memory_allocated == before);
  return 0;
}

}  // namespace zv
