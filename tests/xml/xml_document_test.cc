#include "xml/xml_document.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "xml/xml_parser.h"

namespace zv {
namespace {

Parser parsed(std::string_view text) {
  Parser parser;
  parse(parser, text);
  return parser;
}

TEST(XmlDocument, TagEqualsStopsAtTheStopTagWithData) {
  const std::pair<const char*, bool> rows[] = {
      {"<method>Agent</method>", true},
      {"<methodology>Agent</methodology>", true},
      {"<method>agent</method>", false},
      {"<method>Agent </method>", false},
      {"<method>Agent\n</method>", false},
      {"<meth>Agent</meth>", false},
      {"<method></method><method>Agent</method>", true},
      {"<data>x</data><method>Agent</method>", false},
      {"<data></data><method>Agent</method>", true},
      {"<database>x</database><method>Agent</method>", true},
      {"<method>Agent</method><data>x</data>", true},
      {"", false}};
  for (const auto& [xml, expected] : rows) {
    EXPECT_EQ(tag_equals(parsed(xml), "method", "Agent", "data"), expected) << xml;
  }
  // The stop test comes first, so the stop tag itself never matches.
  Parser data = parsed("<data>v</data>");
  EXPECT_FALSE(tag_equals(data, "data", "v", "data"));
  EXPECT_TRUE(tag_equals(data, "data", "v", std::nullopt));
}

// Enough tags and attributes to fill several storage chunks, fed in pieces
// that cut records apart: every record still reads back as written.
TEST(XmlDocument, LargeDocumentsKeepEveryRecord) {
  std::string text, expected, got;
  for (int i = 0; i < 1500; ++i) {
    const std::string n = std::to_string(i),
                      attributes = i % 3 ? " a='" + n + "' b='x" + n + "'" : "";
    text += "<t" + n + attributes + ">" + n + "</t" + n + ">";
    expected += "t" + n + attributes + (i % 3 ? " bb=x" + n : "") + ">" + n + "|";
  }
  const std::size_t before = memory_allocated;
  Parser parser;
  for (std::size_t at = 0; at < text.size(); at += 777)
    parse(parser, std::string_view(text).substr(at, 777));
  parse(parser, "<end>");
  for (const Tag& tag : parser.tags) {
    got += tag_name(parser, tag);
    for (const Attribute& a : tag_attributes(parser, tag)) {
      got.append(" ").append(attribute_name(parser, a)).append("='");
      got.append(attribute_value(parser, a)).append("'");
    }
    const Attribute* b = tag_get_attribute(parser, tag, "bb");
    if (b != nullptr) got.append(" bb=").append(attribute_value(parser, *b));
    got.append(">").append(tag_data(parser, tag).value_or("(none)")).append("|");
  }
  const auto [g, e] = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
  EXPECT_TRUE(g == got.end() && e == expected.end()) << "differs from byte " << g - got.begin();
  parser_clear(parser);
  EXPECT_EQ(memory_allocated, before);
}

}  // namespace
}  // namespace zv
