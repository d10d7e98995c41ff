#include "cli/error.h"

#include <gtest/gtest.h>

#include "cli/text.h"

namespace zv {
namespace {

std::string capture_error(int number) {
  testing::internal::CaptureStderr();
  show_error(number);
  return testing::internal::GetCapturedStderr();
}

std::string document(std::string_view code, std::string_view text, std::string_view detail) {
  return std::string("<?xml version=\"1.0\"?><transaction id=\"0\"><header><method>Agent</method>"
                     "<subclass>ERROR</subclass></header><data><errorcode>") +
         std::string(code) + "</errorcode><errortext>" + std::string(text) +
         "</errortext><errordetail>" + std::string(detail) + "</errordetail></data></transaction>\n";
}

TEST(Error, StandardDocuments) {
  struct Case {
    int number;
    const char* code;
    const char* text;
    const char* detail;
  } cases[] = {
      {0, "COMMUNICATIONS_FAILURE", "Failed to perform communication request.",
       "Unable to access message queues."},
      {1, "OUT_OF_MEMORY", "An out of memory error has occurred.",
       "The application could not allocate enough memory to continue."},
      {2, "INVALID_MAP_DATA", "Invalid Transaction ID", "The cause of this error is unknown."},
      {5, "UNKNOWN_ERROR", "An unhandled error has occured.", "The cause of this error is unknown."},
      {7, "INVALID_PORT", "Invalid Port Number.",
       "The port number must be an Integer between 1 and 65535."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(capture_error(c.number), document(c.code, c.text, c.detail)) << c.number;
  }
}

TEST(Error, WordsGoIntoCdataUnescaped) {
  const char* words[] = {"ZVClient", "--map-data", "a&b"};
  Words vector(words);
  testing::internal::CaptureStderr();
  show_error_detail_data(kErrorMapData, "Transaction ID must be a positive Integer", &vector);
  std::string three = testing::internal::GetCapturedStderr();
  EXPECT_NE(three.find("</errordetail><incoming_message><![CDATA[ZVClient --map-data a&b]]>"
                       "</incoming_message></data></transaction>\n"),
            std::string::npos);
  Words empty;
  testing::internal::CaptureStderr();
  show_error_detail_data(kErrorMapData, "d", &empty);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("<![CDATA[]]>"), std::string::npos);
}

TEST(Error, PlainLineAndLastCodeWins) {
  testing::internal::CaptureStderr();
  show_error_text("two\nlines");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR  two\nlines\n");
  set_exit_code(50);
  set_exit_code(10);
  EXPECT_EQ(get_exit_code(), 10);
  set_exit_code(0);
}

TEST(Text, ParseInt) {
  struct Case {
    const char* text;
    int expected;
  } cases[] = {{"0", 0},       {"00", -1},   {"-0", -1}, {"", -1},         {"abc", -1},
               {"x12", -1},    {"12abc", 12}, {" 7", 7}, {"-7", -7},       {"+5", 5},
               {"99999999999", 2147483647},   {"-99999999999", -2147483648}, {"-1", -1}};
  for (const Case& c : cases) EXPECT_EQ(parse_int(c.text), c.expected) << c.text;
  EXPECT_EQ(parse_int(nullptr), -1);
}

TEST(Text, ConcatCountTrim) {
  EXPECT_EQ(string_concat("a", "", "b"), "ab");
  EXPECT_EQ(str_count(" a b c", ' '), 3u);
  EXPECT_EQ(str_count("", ' '), 0u);
  EXPECT_EQ(string_trim("\"abc\"", '"'), Text("abc"));
  EXPECT_EQ(string_trim("\"\"", '"'), std::nullopt);
  EXPECT_EQ(string_trim("", '"'), std::nullopt);
  EXPECT_EQ(string_trim("\"a\"b\"\"", '"'), Text("a\"b"));
  EXPECT_EQ(string_trim("%HOME%", '%'), Text("HOME"));
}

}  // namespace
}  // namespace zv
