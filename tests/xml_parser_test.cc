#include "xml/xml_parser.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "cli/error.h"
#include "xml/xml_fuzz.h"

namespace zv {
namespace {

// One tag per "|": <name, then  attr='value' for each attribute, then >data
// when the tag has data.
std::string render(const Parser& parser) {
  std::string out;
  for (const Tag& tag : parser.tags) {
    out += '<';
    out += tag_name(parser, tag);
    for (const Attribute& a : tag_attributes(parser, tag)) {
      out += ' ';
      out += attribute_name(parser, a);
      out += "='";
      out += attribute_value(parser, a);
      out += "'";
    }
    if (std::optional<std::string_view> data = tag_data(parser, tag)) {
      out += '>';
      out += *data;
    }
    out += '|';
  }
  return out;
}

std::string parse_whole(std::string_view text) {
  Parser parser;
  EXPECT_EQ(parse(parser, text), kParseDone);
  EXPECT_LE(parser.position, parser.text.size());
  return render(parser);
}

std::string parse_bytes(std::string_view text) {
  Parser parser;
  for (char c : text) parse(parser, std::string_view(&c, 1));
  EXPECT_LE(parser.position, parser.text.size());
  return render(parser);
}

std::string parse_random_cuts(std::string_view text, unsigned seed) {
  std::mt19937 random(seed);
  Parser parser;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t length = std::min<std::size_t>(random() % 7, text.size() - at);
    parse(parser, text.substr(at, length));
    at += length;
  }
  return render(parser);
}

struct Case {
  const char* what;
  std::string text;
  std::string tags;
};

const std::vector<Case>& cases() {
  static const std::vector<Case> table = {
      {"reply document",
       "<?xml version=\"1.0\"?><transaction id=\"0\"><header><method>Agent</method>"
       "<subclass>ERROR</subclass></header><data><errorcode>OUT</errorcode></data>"
       "</transaction>",
       "<?xml version='1.0'|<transaction id='0'|<header|<method>Agent|<subclass>ERROR|<data|"
       "<errorcode>OUT|"},
      {"last start tag waits for a '<'", "<a>x", ""},
      {"line ends between tags", "<a>\n<method>Agent</method>\r\n<subclass>Status</subclass>",
       "<a>\n|<method>Agent|<subclass>Status|"},
      {"empty element goes on", "<r><http port=\"2010\"/><b>x</b></r>",
       "<r|<http port='2010'|<b>x|"},
      {"escaped quote stays", "<a b='x\\'y'>t</a>", "<a b='x\\'y'>t|"},
      {"apostrophe replaces the open quote", "<a b=\"it's\">t</a>", ""},
      {"empty attribute name", "<a ='c'><z>", "<a ='c'|"},
      {"empty tag name", "<>t</>", "<>t|"},
      {"leading white space", "\n \t<a>x</a>", "<a>x|"},
      {"slash stays in the name", "<br/><x>", "<br/|"},
      {"quoted '>' inside a value", "<a b='1>2'>t</a>", "<a b='1>2'>t|"},
      {"'>' in data", "<a>1 > 0</a>", "<a>1 > 0|"},
      {"data keeps white space", "<a> x \n</a>", "<a> x \n|"},
      {"no '=' and stray words", "<a b 'c' d x=\"e\"><z>", "<a b='c' d='e'|"},
      {"attributes without blanks between", "<a b=\"1\"c='2'><z>", "<a b='1' c='2'|"},
      {"question mark before '>'", "<a ?>t</a>", "<a>t|"},
      {"end tag name ignored, quotes too", "<a>x</a \"><b>y</b>", "<a>x|<b>y|"},
      {"text after an end tag stalls", "<p>Hello <b>world</b> again</p><c>x</c>",
       "<p>Hello |<b>world|"},
      {"attribute without value stalls", "<a x=\"1\" b><c>x</c>", "<a x='1'|"},
      {"unquoted value stalls", "<a b=c><d>x</d>", "<a|"},
      {"other character after attributes stalls", "<a /x><b>y</b>", "<a|"},
      {"other <! markup is a start tag", "<!DOCTYPE><a>y</a>", "<!DOCTYPE|<a>y|"},
      {"<!- is no comment", "<!-><a>x</a>", "<!-|<a>x|"},
      {"comment before markup", "<!-- c --><a>x</a>", "<a>x|"},
      {"empty comment", "<!----><a>x</a>", "<a>x|"},
      {"quote in a comment", "<!-- don't --><a>x</a>", "<a>x|"},
      {"comments between tags", "<r><!--x--><a>1</a> <!-- y -->\n<b>2</b></r>", "<r|<a>1|<b>2|"},
      {"first '>' ends a comment", "<r><!-- a > b --><a>x</a>", "<r|"},
      {"unclosed comment", "<a>x</a><!-- open <b", "<a>x|"},
      {"mixed quotes run past '>'", "<a b=\"x'y'>t<c d=\"e\">u</c>", "<a b='x'y'>t<c d='|"},
      {"mixed quotes without an end", "<a b=\"x'y'>t</a><b>u</b>", ""},
      {"zero byte ends a name, not data", std::string("<a\0b c='v\0w'>x\0y</a>", 20),
       std::string("<a c='v'>x\0y|", 13)},
      {"nothing at all", "", ""},
      {"white space only", " \r\n\t", ""},
  };
  return table;
}

TEST(XmlParser, DocumentDoesNotDependOnCuts) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(parse_whole(c.text), c.tags);
    EXPECT_EQ(parse_bytes(c.text), c.tags);
    for (unsigned seed = 1; seed <= 5; ++seed) EXPECT_EQ(parse_random_cuts(c.text, seed), c.tags);
  }
}

TEST(XmlParser, StallLastsUntilClear) {
  Parser parser;
  parse(parser, "<a>x</a> oops ");
  EXPECT_EQ(parser.position, 8u);  // the step that met the 'o' began at the blank
  parse(parser, "<b>y</b><c>z</c>");
  EXPECT_EQ(render(parser), "<a>x|");
  EXPECT_EQ(parser.position, 8u);
  parser_clear(parser);
  parse(parser, "<b>y</b>");
  EXPECT_EQ(render(parser), "<b>y|");
}

TEST(XmlParser, CommentOverSeveralLinesWaitsOnItsLessThan) {
  Parser parser;
  for (const char* line : {"<r>", "<!-- first line", "second line"}) parse(parser, line);
  EXPECT_EQ(parser.position, 3u);
  EXPECT_EQ(render(parser), "<r|");
  for (const char* line : {"-->", "<http port=\"7\"/>", "</r>"}) parse(parser, line);
  EXPECT_EQ(render(parser), "<r|<http port='7'|");
}

// Nothing of a tag whose value runs to the end of the text is recorded and
// the position waits at the step's start; the closing quote completes it.
TEST(XmlParser, ValueRunningToTheEndWaits) {
  Parser parser;
  parse(parser, "<k>v</k>\n<a b=\"x'y'>t</a>");
  EXPECT_EQ(render(parser), "<k>v|");
  EXPECT_EQ(parser.position, 8u);
  parse(parser, "\"/><z>");
  EXPECT_EQ(render(parser), "<k>v|<a b='x'y'>t</a>'|");
}

// Random texts over the characters that matter to the parser: the document
// must not depend on the cuts.  The fuzzing entry checks the same way.
TEST(XmlParser, RandomTextsGiveTheSameDocumentInPieces) {
  const std::string alphabet = "<<<>>>//''\"\"\\?!-- =ab\n";
  std::mt19937 random(12345);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    std::size_t length = random() % 48;
    for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    SCOPED_TRACE(text);
    std::string whole = parse_whole(text);
    ASSERT_EQ(parse_bytes(text), whole);
    ASSERT_EQ(parse_random_cuts(text, round), whole);
    parser_fuzz_one(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }
}

// Memory shortages, one allocation refused.  A parse of a fresh parser
// allocates in a fixed order: the text, the tag list and its first chunk,
// then the attribute list and its first chunk.  Names, values and data
// refer to the text and need no block, however long.
TEST(XmlParser, MemoryShortages) {
  std::string long_text(4000, 'n');
  struct Row {
    const char* what;
    long fail_after;
    std::string text;
    int result;
    std::string tags;       // right after the shortage
    std::string then_tags;  // once "<e>z</e>" follows
  };
  const std::vector<Row> rows = {
      {"text growth loses the piece only", 0, "<a>x</a>", kParseNoMemory, "", "<e>z|"},
      {"tag list: resumes after the tag", 1, "<a>x</a><b>y</b>", kParseNoMemory, "",
       "<b>y|<e>z|"},
      {"tag chunk, not the long name or data: resumes after the tag", 2,
       "<" + long_text + ">" + long_text + "</a><b>y</b>", kParseNoMemory, "", "<b>y|<e>z|"},
      {"attribute list: the tag stays, stalls", 3, "<a b='" + long_text + "' c='1'>t</a>",
       kParseDone, "<a|", "<a|"},
      {"attribute chunk: the tag stays, stalls", 4, "<a b='1' c='2'>t</a><d>", kParseDone, "<a|",
       "<a|"},
  };
  std::size_t before = memory_allocated;
  testing::internal::CaptureStderr();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Parser parser;
    memory_fail_after(row.fail_after);
    EXPECT_EQ(parse(parser, row.text), row.result);
    memory_fail_after(-1);
    EXPECT_EQ(get_exit_code(), kExitMemory);
    set_exit_code(0);
    EXPECT_EQ(render(parser), row.tags);
    parse(parser, "<e>z</e>");
    EXPECT_EQ(render(parser), row.then_tags);
  }
  EXPECT_NE(testing::internal::GetCapturedStderr().find("OUT_OF_MEMORY"), std::string::npos);
  EXPECT_EQ(memory_allocated, before);
}

// Whichever allocation fails, the parser stays usable and gives every block
// back when cleared.
TEST(XmlParser, AnyShortageLeavesAConsistentParser) {
  std::string z(40, 'z');
  std::string text = "<?xml version=\"1.0\"?><transaction id=\"" + z + "\"><header>" +
                     "<method>Agent</method><" + z + " " + z + "='" + z + "'>" + z + "</" + z +
                     "></header><data/></transaction>";
  std::size_t before = memory_allocated;
  testing::internal::CaptureStderr();
  for (long n = 0; n < 40; ++n) {
    Parser parser;
    memory_fail_after(n);
    for (std::size_t at = 0; at < text.size(); at += 9) parse(parser, text.substr(at, 9));
    memory_fail_after(-1);
    EXPECT_LE(parser.position, parser.text.size()) << n;
    parse(parser, "<end>");
    parser_clear(parser);
    EXPECT_EQ(memory_allocated, before) << n;
  }
  testing::internal::GetCapturedStderr();
  set_exit_code(0);
}

}  // namespace
}  // namespace zv
