#include "recovery_reading.h"

#include "base/memory.h"
#include "base/text.h"
#include "fuzz_support.h"
#include "message/log_record.h"
#include "message/map_data_split.h"

namespace zv::fuzz {

namespace {

// Splits a data-map record as the recovery does; `id_first` for the marked
// form, whose first word is the id whatever it reads as.
Submission data_map(Text record, bool id_first) {
  Submission submission;
  Vec<const char*> words = map_data_open(record.data());
  std::size_t first = 0;
  if (!words.empty() && (id_first || parse_int(words.front()) != -1)) {
    submission.transaction_id = words.front();
    first = 1;
  }
  for (std::size_t i = first; i < words.size(); ++i) submission.items.emplace_back(words[i]);
  return submission;
}

}  // namespace

Submission read_back(std::string_view line) {
  switch (log_record_kind(line)) {
    case LogRecordKind::kMessage: return Submission{true, std::string(line), std::nullopt, {}};
    case LogRecordKind::kMarkedMessage: {
      Text message = log_unescape(line.substr(2));
      return Submission{true, std::string(message), std::nullopt, {}};
    }
    case LogRecordKind::kMapDataLine: return data_map(Text(line), false);
    case LogRecordKind::kMarkedMapData: return data_map(log_unescape(line.substr(2)), true);
  }
  check(false);
  return {};
}

void check_one_line(std::string_view record) {
  check(record.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos);
  check(record.empty() || !reference_is_space(record.front()));
}

}  // namespace zv::fuzz
