#include "cli/error.h"

#include <gtest/gtest.h>

#include "cli/text.h"

namespace zv {
namespace {

TEST(Error, StandardDocuments) {
  const struct {
    int number;
    std::string code, text, detail;
  } cases[] = {
      {0, "COMMUNICATIONS_FAILURE", "Failed to perform communication request.", "Unable to access message queues."},
      {1, "OUT_OF_MEMORY", "An out of memory error has occurred.",
       "The application could not allocate enough memory to continue."},
      {2, "INVALID_MAP_DATA", "Invalid Transaction ID", "The cause of this error is unknown."},
      {5, "UNKNOWN_ERROR", "An unhandled error has occured.", "The cause of this error is unknown."},
      {7, "INVALID_PORT", "Invalid Port Number.", "The port number must be an Integer between 1 and 65535."},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    show_error(c.number);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "<?xml version=\"1.0\"?><transaction id=\"0\"><header><method>Agent</method>"
              "<subclass>ERROR</subclass></header><data><errorcode>" + c.code + "</errorcode><errortext>" +
                  c.text + "</errortext><errordetail>" + c.detail + "</errordetail></data></transaction>\n")
        << c.number;
  }
}

// Numbers from the command line and from data-map lines: leading blanks and
// a sign are taken, trailing text is ignored, a leading zero makes no number.
TEST(Text, ParseInt) {
  const std::pair<const char*, int> cases[] = {
      {"0", 0},   {"00", -1}, {"-0", -1}, {"", -1},  {"abc", -1}, {"x12", -1}, {"12abc", 12},
      {" 7", 7}, {"-7", -7}, {"+5", 5},  {"-1", -1}, {nullptr, -1},
      {"99999999999", 2147483647}, {"-99999999999", -2147483648}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(parse_int(text), expected) << (text ? text : "(null)");
}

}  // namespace
}  // namespace zv
