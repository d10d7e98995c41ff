#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "xml/xml_parser.h"

namespace zv {
namespace {

Parser parsed(std::string_view text) {
  Parser parser;
  parse(parser, text);
  return parser;
}

TEST(XmlDocument, GetTagTakesTheFirstTagWhoseNameIsAPrefix) {
  struct Row {
    const char* xml;
    const char* found;  // name of the tag found, or nullptr
  };
  const std::vector<Row> rows = {
      {"<http><x>", "http"},   {"<h><http><x>", "h"},  {"<https><http><x>", "http"},
      {"<HTTP><x>", nullptr},  {"<><http><x>", ""},    {"", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.xml);
    Parser parser = parsed(row.xml);
    const Tag* tag = parser_get_tag(parser, "http");
    EXPECT_EQ(tag_exists(parser, "http"), row.found != nullptr);
    if (row.found == nullptr) {
      EXPECT_EQ(tag, nullptr);
      continue;
    }
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag_name(parser, *tag), row.found);
  }
}

TEST(XmlDocument, GetAttributeTakesTheFirstWhoseNameIsAPrefix) {
  Parser parser = parsed("<http ports='1' port='2' p='3'><x>");
  const Tag& tag = parser.tags[0];
  EXPECT_EQ(attribute_value(parser, *tag_get_attribute(parser, tag, "port")), "2");
  EXPECT_EQ(attribute_value(parser, *tag_get_attribute(parser, tag, "pox")), "3");
  EXPECT_EQ(tag_get_attribute(parser, tag, "x"), nullptr);
  Parser longer = parsed("<http ports='1'><x>");
  EXPECT_EQ(tag_get_attribute(longer, longer.tags[0], "port"), nullptr);
}

TEST(XmlDocument, TagEqualsStopsAtTheStopTagWithData) {
  struct Row {
    const char* xml;
    bool expected;
  };
  const std::vector<Row> rows = {
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
      {"", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(tag_equals(parsed(row.xml), "method", "Agent", "data"), row.expected) << row.xml;
  }
  // The stop test comes first, so the stop tag itself never matches.
  Parser data = parsed("<data>v</data>");
  EXPECT_FALSE(tag_equals(data, "data", "v", "data"));
  EXPECT_TRUE(tag_equals(data, "data", "v", std::nullopt));
}

TEST(XmlDocument, DisplayWritesOneLinePerTag) {
  Parser parser = parsed("<http port='2010'/><method>Agent</method><a b='1' c=\"<&>\">x</a><z>");
  std::FILE* stream = std::tmpfile();
  parser_display(parser, stream);
  std::rewind(stream);
  std::string out;
  for (int c; (c = std::fgetc(stream)) != EOF;) out += static_cast<char>(c);
  std::fclose(stream);
  EXPECT_EQ(out,
            "<http port='2010' />\n"
            "<method>Agent</method>\n"
            "<a b='1' c='<&>'>x</a>\n");
}

// Enough tags and attributes to fill several storage chunks, fed in pieces
// that cut records apart: every record still reads back as written.
TEST(XmlDocument, LargeDocumentsKeepEveryRecord) {
  constexpr int kTags = 1500;
  std::string text;
  for (int i = 0; i < kTags; ++i) {
    std::string n = std::to_string(i);
    std::string attributes = i % 3 == 0 ? "" : " a='" + n + "' b=\"x" + n + "\"";
    text += "<t" + n + attributes + ">" + n + "</t" + n + ">";
  }
  text += "<end>";
  std::size_t before = memory_allocated;
  Parser parser;
  for (std::size_t at = 0; at < text.size(); at += 777) {
    parse(parser, std::string_view(text).substr(at, 777));
  }
  ASSERT_EQ(parser.tags.size(), static_cast<std::size_t>(kTags));
  for (int i = 0; i < kTags; ++i) {
    SCOPED_TRACE(i);
    std::string n = std::to_string(i);
    const Tag& tag = parser.tags[i];
    EXPECT_EQ(tag_name(parser, tag), "t" + n);
    EXPECT_EQ(tag_data(parser, tag), n);
    std::vector<std::string> attributes;
    for (const Attribute& a : tag_attributes(parser, tag)) {
      attributes.push_back(std::string(attribute_name(parser, a)) + "=" +
                           std::string(attribute_value(parser, a)));
    }
    if (i % 3 == 0) {
      EXPECT_TRUE(attributes.empty());
    } else {
      EXPECT_EQ(attributes, (std::vector<std::string>{"a=" + n, "b=x" + n}));
      EXPECT_EQ(attribute_value(parser, *tag_get_attribute(parser, tag, "bb")), "x" + n);
    }
  }
  parser_clear(parser);
  EXPECT_EQ(memory_allocated, before);
}

TEST(XmlDocument, ClearGivesEverythingBackAndKeepsTheState) {
  std::size_t before = memory_allocated;
  std::string long_text(100, 'q');
  Parser parser = parsed("<a b='" + long_text + "'>" + long_text + "</a><b>x");
  ASSERT_EQ(parser.tags.size(), 1u);
  parser.state = 1;
  parser_clear(parser);
  EXPECT_EQ(memory_allocated, before);
  EXPECT_TRUE(parser.tags.empty() && parser.attributes.empty() && parser.text.empty());
  EXPECT_EQ(parser.position, 0u);
  EXPECT_EQ(parser.state, 1);

  parser_clear(parser);
  parse(parser, "<c>y</c>");  // the unfinished <b> is gone
  ASSERT_EQ(parser.tags.size(), 1u);
  EXPECT_EQ(tag_name(parser, parser.tags[0]), "c");
  parser_clear(parser);
  EXPECT_EQ(memory_allocated, before);
}

}  // namespace
}  // namespace zv
