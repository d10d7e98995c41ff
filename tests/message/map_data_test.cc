#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "message/map_data_split.h"

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

}  // namespace
}  // namespace zv
