#include "transport/form.h"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zv {
namespace {

std::string encoded(std::string_view text) {
  Text out;
  http_encode(text, out);
  return std::string(out.data(), out.size());
}

TEST(Form, EncodeTable) {
  struct Case {
    std::string_view text;
    const char* expected;
  } cases[] = {
      {"", ""},
      {"AZaz09-", "AZaz09-"},
      {" ", "+"},
      {"+", "%2B"},
      {"a b+c", "a+b%2Bc"},
      {".", "%2E"},
      {"_", "%5F"},
      {"*~", "%2A%7E"},
      {"%", "%25"},
      {"&", "%26"},
      {"=", "%3D"},
      {"<", "%3C"},
      {"\n", "%0A"},
      {"\r", "%0D"},
      {"\xE9", "%E9"},
      {"\xC3\xA9t\xC3\xA9", "%C3%A9t%C3%A9"},
      {"<a x=\"1\"/>?", "%3Ca+x%3D%221%22%2F%3E%3F"},
  };
  for (const Case& c : cases) EXPECT_EQ(encoded(c.text), c.expected) << c.text;
}

// Every byte value against the rule, so nothing outside the kept set slips
// through whatever the locale says about bytes above 0x7F.
TEST(Form, EncodeEveryByte) {
  for (int byte = 1; byte < 256; ++byte) {
    char c = static_cast<char>(byte);
    bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    char percent[4];
    std::snprintf(percent, sizeof percent, "%%%02X", byte);
    std::string expected = kept ? std::string(1, c) : c == ' ' ? "+" : percent;
    EXPECT_EQ(encoded(std::string_view(&c, 1)), expected) << byte;
  }
}

TEST(Form, FormTextAndLength) {
  struct Case {
    std::vector<Param> params;
    const char* expected;
  } cases[] = {
      {{}, ""},
      {{{"message", "a b c"}}, "message=a+b+c"},
      {{{"client", ""}}, "client="},
      {{{"transactionid", "7"}, {"mapdata", "a b"}, {"mapdata", "c"}},
       "transactionid=7&mapdata=a+b&mapdata=c"},
      {{{"a", ""}, {"b", "&="}}, "a=&b=%26%3D"},
  };
  for (const Case& c : cases) {
    ParamList list(c.params.begin(), c.params.end());
    Text out = "?";
    http_append_form(list, out);
    EXPECT_EQ(std::string_view(out), std::string("?") + c.expected);
    EXPECT_EQ(http_form_length(list), std::string(c.expected).size()) << c.expected;
  }
}

}  // namespace
}  // namespace zv
