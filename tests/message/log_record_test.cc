#include "message/log_record.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "message/map_data_split.h"

namespace zv {
namespace {

std::string str(const Text& text) { return std::string(text.data(), text.size()); }

TEST(LogRecord, EncodesItemsAndDataMapLines) {
  const std::pair<std::string, std::string> items[] = {{"", R"("")"},
                                                       {R"(c:\d)", R"("c:\\d")"},
                                                       {R"(say "hi")", R"("say \"hi\"")"},
                                                       {"\xff", "\"\xff\""}};
  for (const auto& [item, expected] : items)
    EXPECT_EQ(std::string(log_encode_map_data(item)), expected);
  // The items from the given index on; no transaction id is 0; without
  // items the id keeps its blank.
  const char* words[] = {"12", "a b", R"(c:\d)", nullptr};
  EXPECT_EQ(std::string(log_map_data_line("12", Words(words), 1)), R"(12 "a b" "c:\\d")");
  EXPECT_EQ(std::string(log_map_data_line(nullptr, Words(words, 2), 1)), R"(0 "a b")");
  EXPECT_EQ(std::string(log_map_data_line("42", Words(words), 9)), "42 ");
}

TEST(LogRecord, MessagesComeBackByteForByte) {
  struct Case {
    std::string message;
    bool plain;
  } cases[] = {
      {"<transaction><data><a>1</a></data></transaction>", true},
      {"<a>back\\slash</a>", true},
      {"disk full on db1", false},
      {"", false},
      {" <a>leading blank</a>", false},
      {"<a>one\nline two</a>", false},
      {"<a>cr\r\nlf</a>", false},
      {"ends with backslash\\", false},
      {"literal \\n is not a line break", false},
      {"caf\xc3\xa9 \xff\x01\036", false},
      {"\036M looks marked", false},
  };
  for (const Case& c : cases) {
    Text line = log_message_record(c.message);
    EXPECT_EQ(str(line).find_first_of("\r\n"), std::string::npos) << c.message;
    if (c.plain) {
      EXPECT_EQ(str(line), c.message);
      EXPECT_EQ(log_record_kind(line), LogRecordKind::kMessage);
    } else {
      ASSERT_EQ(log_record_kind(line), LogRecordKind::kMarkedMessage) << c.message;
      EXPECT_EQ(str(log_unescape(std::string_view(line).substr(2))), c.message);
    }
  }
}

TEST(LogRecord, DataMapSubmissionsComeBackAsSent) {
  struct Case {
    const char* id;
    std::vector<const char*> items;
    bool plain;
  } cases[] = {
      {"12", {"cust7", "a b", "say \"hi\"", "c:\\", "\"", "", "tab\there", "it's"}, true},
      {"12", {}, true},
      {"007", {"x"}, true},
      {"12abc", {"x"}, true},
      {"abc", {"x"}, false},
      {"abc", {}, false},
      {"-1", {"x"}, false},
      {"1 2", {"x"}, false},
      {"<7", {"x"}, false},
      {"12", {"line\nbreak", "cr\r"}, false},
      {"12", {"caf\xc3\xa9", "\xff"}, true},
      {"12", {" lead", "trail ", "  ", "ends\\", "\\\\\"\\", "''", "\x80\"\\\xc0"}, true},
  };
  for (const Case& c : cases) {
    Words items(c.items.data(), c.items.size());
    Text line = log_map_data_record(c.id, items, 0);
    std::string shown = str(line);
    EXPECT_EQ(shown.find_first_of("\r\n"), std::string::npos) << shown;
    Text record;
    std::vector<std::string> expected(c.items.begin(), c.items.end());
    expected.insert(expected.begin(), c.id);
    if (c.plain) {
      EXPECT_EQ(log_record_kind(line), LogRecordKind::kMapDataLine) << shown;
      EXPECT_EQ(str(line), str(log_map_data_line(c.id, items, 0)));
      record = line;
    } else {
      ASSERT_EQ(log_record_kind(line), LogRecordKind::kMarkedMapData) << shown;
      record = log_unescape(std::string_view(line).substr(2));
    }
    Vec<const char*> words = map_data_open(record.data());
    EXPECT_EQ(std::vector<std::string>(words.begin(), words.end()), expected) << shown;
  }
}

// Older plain lines, and marked lines this client cannot have written
// (they are read as plain lines rather than dropped).
TEST(LogRecord, LinesAreReadByTheirKind) {
  using enum LogRecordKind;
  const std::pair<std::string_view, LogRecordKind> cases[] = {
      {"<a/>", kMessage},
      {"12 \"a\"", kMapDataLine},
      {"hello world", kMapDataLine},
      {"\036", kMapDataLine},
      {"\036X", kMapDataLine},
      {"\036M", kMarkedMessage},
      {"\036Ma\\\\b\\nc\\r", kMarkedMessage},
      {"\036Mbad \\q escape", kMapDataLine},
      {"\036Mends in \\", kMapDataLine},
      {"\036D\"T-9\" \"x\"", kMarkedMapData},
      {"\036D", kMapDataLine},
      {"\036D  \"T-9\"", kMapDataLine},
      {"\036DT-9 \"x\"", kMapDataLine},
      {"\036D\"T-9\" \\t", kMapDataLine},
  };
  for (const auto& [line, kind] : cases) EXPECT_EQ(log_record_kind(line), kind) << line;
}

}  // namespace
}  // namespace zv
