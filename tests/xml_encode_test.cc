#include "message/xml_encode.h"

#include <string>

#include <gtest/gtest.h>

namespace zv {
namespace {

using namespace std::string_literals;

TEST(XmlEncode, ReplacementTable) {
  std::string high;
  for (int c = 0x80; c <= 0xFF; ++c) high.push_back(static_cast<char>(c));
  const std::string controls = "\x01\t\r\n\x1f\x7f"s + '\0' + "x";
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"plain text 123", "plain text 123"},
      {"a<b&c>d", "a&lt;b&amp;c&gt;d"},
      {"say \"hi\"", "say &quot;hi&quot;"},
      {"it's 'x'", "it&apos;s &apos;x&apos;"},
      {"&amp;", "&amp;amp;"},
      {"\"&'<>", "&quot;&amp;&apos;&lt;&gt;"},
      {high, high},
      {controls, controls},
      {"caf\xc3\xa9 & \xe2\x82\xac", "caf\xc3\xa9 &amp; \xe2\x82\xac"},
  };
  for (const auto& [input, expected] : cases) {
    Text encoded = xml_encode(input);
    EXPECT_EQ(std::string(encoded.data(), encoded.size()), expected) << input;
    EXPECT_EQ(xml_encoded_size(input), expected.size()) << input;
  }
}

}  // namespace
}  // namespace zv
