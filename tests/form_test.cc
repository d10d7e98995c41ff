#include "transport/form.h"

#include <string>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv {
namespace {

std::string encoded(std::string_view text) {
  Text out;
  http_encode(text, out);
  return std::string(out.data(), out.size());
}

// Every byte value against the rule, so nothing slips through whatever the
// locale says about bytes above 0x7F; then bytes in sequence.
TEST(Form, Encode) {
  for (int byte = 1; byte < 256; ++byte) {
    const std::string c(1, static_cast<char>(byte));
    EXPECT_EQ(encoded(c), test::url_encode(c)) << byte;
  }
  EXPECT_EQ(encoded(""), "");
  EXPECT_EQ(encoded("\xC3\xA9t\xC3\xA9"), "%C3%A9t%C3%A9");
  EXPECT_EQ(encoded("<a x=\"1\"/>? b+c"), "%3Ca+x%3D%221%22%2F%3E%3F+b%2Bc");
}

}  // namespace
}  // namespace zv
