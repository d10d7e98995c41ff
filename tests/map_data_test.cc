// The data-map word splitter, and its agreement with the recovery log's
// data-map record.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "message/map_data_split.h"
#include "message/recovery_log.h"

namespace zv {
namespace {

using Strings = std::vector<std::string>;

Strings split(std::string line) {  // taken by value: map_data_open writes into its line
  Strings words;
  for (const char* word : map_data_open(line.data())) words.emplace_back(word);
  return words;
}

TEST(MapDataSplit, SplitsWordsByTheWalkRules) {
  struct Case {
    const char* line;
    Strings words;
  } cases[] = {
      {"12 cust7 disk full", {"12", "cust7", "disk", "full"}},
      {"12   cust7\t\tdisk \t full", {"12", "cust7", "disk", "full"}},
      {"12 \"cust 7\" x", {"12", "cust 7", "x"}},
      {"12 'd e' f", {"12", "d e", "f"}},
      {"\"a b\"c d", {"a b", "c", "d"}},
      {"\"a b\"\"c\"'d'", {"a b", "c", "d"}},
      {"ab\"cd ef\"", {"cd ef"}},
      {"x ab'c\"d' y", {"x", "c\"d", "y"}},
      {"a\\ b", {"a b"}},
      {"12 \"ends\\\\\" \"b\"", {"12", "ends\\", "b"}},
      {"12 \"say \\\"hi\\\"\"", {"12", "say \"hi\""}},
      {"12 \"\" x ''", {"12", "", "x", ""}},
      {"12 \"", {"12", ""}},
      {"12 \"open quote\t runs", {"12", "open quote\t runs"}},
      {"12 ab\\", {"12", "ab\\"}},
      {"12 \"ab\\", {"12", "ab\\"}},
      {"\\", {"\\"}},
      {"a\\\\ b", {"a\\", "b"}},
      {"\\\"q \\' r", {"\"q", "'", "r"}},
      {"12 \"tab\tinside\"\v\f\r\nz", {"12", "tab\tinside", "z"}},
      {"12 gr\xc3\xbc\xc3\x9f \"\xff\xfe x\"", {"12", "gr\xc3\xbc\xc3\x9f", "\xff\xfe x"}},
      {"12 trailing  ", {"12", "trailing"}},
      {"  12 x", {"12", "x"}},
      {"", {}},
      {" \t", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(split(c.line), c.words) << c.line;
}

// What a failed submission leaves in the recovery log is read back as the
// same transaction id and items: blanks at the edges, runs of backslashes
// and quotes, bytes that are no UTF-8 (the log tests cover the common items).
TEST(MapDataSplit, RecoveryLogRecordsRoundTrip) {
  const Strings items = {" lead",    "trail ", "  ",           "ends\\",
                         "\\\\\"\\", "''",     "\x80\"\\\xc0", "tab\there"};
  std::vector<const char*> pointers;
  for (const std::string& item : items) pointers.push_back(item.c_str());
  Strings expected = {"12"};
  expected.insert(expected.end(), items.begin(), items.end());
  EXPECT_EQ(split(std::string(log_map_data_line("12", Words(pointers), 0))), expected);
}

}  // namespace
}  // namespace zv
