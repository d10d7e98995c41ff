#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/memory.h"
#include "base/text.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"
#include "message/log_record.h"
#include "message/map_data_split.h"
#include "recovery_reading.h"

namespace zv {

namespace {

using fuzz::check;

bool is_quote(char c) { return c == '"' || c == '\''; }

// The splitter's contract read literally, one word at a time into a fresh
// text rather than in place.
std::vector<std::string> reference_words(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool started = false;
  char quote = '\0';
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (!started && fuzz::reference_is_space(c)) continue;
    started = true;
    if (c == '\\') {
      // The next character is ordinary; a backslash that ends the line stays.
      word += i + 1 < line.size() ? line[++i] : '\\';
    } else if (quote != '\0') {
      if (c != quote) {
        word += c;
        continue;
      }
      words.push_back(word);
      word.clear();
      started = false;
      quote = '\0';
    } else if (fuzz::reference_is_space(c)) {
      words.push_back(word);
      word.clear();
      started = false;
    } else if (is_quote(c)) {
      quote = c;
      word.clear();
    } else {
      word += c;
    }
  }
  if (started) words.push_back(word);
  return words;
}

// Transaction ids a command line may give for lines without their own:
// none (the line is then refused, not logged), a number, and texts that no
// plain log line can carry.
constexpr const char* kCommandLineIds[] = {nullptr, "7", "-3", "tx 1", "\"q\"", "<id>"};

void check_split(std::string_view line) {
  Text storage(line);
  Vec<const char*> words = map_data_open(storage.data());
  std::vector<std::string> expected = reference_words(line);
  check(words.size() == expected.size());
  for (std::size_t i = 0; i < words.size(); ++i) check(words[i] == expected[i]);
}

// The submission a data-map line makes, logged and read back.  With
// `id_first` the first word is the id whatever it holds, as for the log's
// own marked records; otherwise it is the id only when it reads as a number.
void check_round_trip(std::string_view line, bool id_first, const char* command_line_id) {
  Text storage(line);
  Vec<const char*> words = map_data_open(storage.data());
  const char* id = command_line_id;
  std::size_t first = 0;
  if (!words.empty() && (id_first || parse_int(words.front()) != -1)) {
    id = words.front();
    first = 1;
  }
  if (id == nullptr) return;

  Text record = log_map_data_record(id, Words(words), first);
  fuzz::check_one_line(record);
  fuzz::Submission expected;
  expected.transaction_id = id;
  for (std::size_t i = first; i < words.size(); ++i) expected.items.emplace_back(words[i]);
  check(fuzz::read_back(record) == expected);
}

}  // namespace

int map_data_fuzz_one(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes = fuzz::bytes_of(data, size);
  unsigned char settings = fuzz::take_settings(bytes);
  std::string_view line = fuzz::up_to_nul(bytes);
  std::size_t before = memory_allocated;
  check_split(line);
  const char* command_line_id = kCommandLineIds[(settings >> 1) % std::size(kCommandLineIds)];
  check_round_trip(line, settings & 1, command_line_id);
  check(memory_allocated == before);
  return 0;
}

}  // namespace zv
