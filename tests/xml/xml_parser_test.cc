#include "xml/xml_parser.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/error.h"

namespace zv {
namespace {

// One tag per "|": <name, then  attr='value' for each attribute, then >data
// when the tag has data.
std::string render(const Parser& parser) {
  std::string out;
  for (const Tag& tag : parser.tags) {
    out.append("<").append(tag_name(parser, tag));
    for (const Attribute& a : tag_attributes(parser, tag)) {
      out.append(" ").append(attribute_name(parser, a));
      out.append("='").append(attribute_value(parser, a)).append("'");
    }
    if (std::optional<std::string_view> data = tag_data(parser, tag)) out.append(">").append(*data);
    out += '|';
  }
  return out;
}

// The document read from `text` given whole (cut 0), byte by byte (cut 1),
// or in random pieces of 0 to 6 bytes (the cut is the seed).
std::string parse_cut(std::string_view text, unsigned cut) {
  std::mt19937 random(cut);
  Parser parser;
  std::size_t at = 0;
  do {
    const std::size_t length = cut == 0 ? text.size() : cut == 1 ? 1 : random() % 7;
    EXPECT_EQ(parse(parser, text.substr(at, length)), kParseDone);
    at = std::min(at + length, text.size());
  } while (at < text.size());
  EXPECT_LE(parser.position, parser.text.size());
  return render(parser);
}

TEST(XmlParser, DocumentDoesNotDependOnCuts) {
  const struct {
    const char* what;
    std::string text, tags;
  } cases[] = {
      {"reply document",
       "<?xml version=\"1.0\"?><transaction id=\"0\"><header><method>Agent</method>"
       "<subclass>ERROR</subclass></header><data><errorcode>OUT</errorcode></data></transaction>",
       "<?xml version='1.0'|<transaction "
       "id='0'|<header|<method>Agent|<subclass>ERROR|<data|<errorcode>OUT|"},
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
      {"quote in a comment", "<!-- don't --><a>x</a>", "<a>x|"},
      {"comments between tags", "<r><!--x--><a>1</a> <!-- y -->\n<b>2</b></r>", "<r|<a>1|<b>2|"},
      {"first '>' ends a comment", "<r><!-- a > b --><a>x</a>", "<r|"},
      {"unclosed comment", "<a>x</a><!-- open <b", "<a>x|"},
      {"mixed quotes run past '>'", "<a b=\"x'y'>t<c d=\"e\">u</c>", "<a b='x'y'>t<c d='|"},
      {"mixed quotes without an end", "<a b=\"x'y'>t</a><b>u</b>", ""},
      {"zero byte ends a name, not data", std::string("<a\0b c='v\0w'>x\0y</a>", 20),
       std::string("<a c='v'>x\0y|", 13)},
      {"nothing at all", "", ""},
  };
  for (const auto& c : cases) {
    for (unsigned cut = 0; cut <= 6; ++cut) {
      EXPECT_EQ(parse_cut(c.text, cut), c.tags) << c.what << ", cut " << cut;
    }
  }
}

// A step that cannot finish yet leaves the position at its start; a stall
// keeps it there whatever follows.
// A reply parsed only as far as the agent-message lookups need must answer
// them as the whole document does, keep every byte of the text, and record
// nothing beyond the data tag that settles them.
TEST(XmlParser, NarrowScopesAnswerTheAgentLookupsAsAFullParse) {
  constexpr std::string_view kAsked[] = {"method", "subclass"};
  const struct {
    const char* text;
    std::size_t recorded;  // tags kept by kUntilData
  } cases[] = {
      {"<transaction><header><method>Agent</method><subclass>Status</subclass></header>"
       "<data><status>Ready.</status></data><method>x</method></transaction>",
       3},
      {"<t><method a='1'>Agent</method><subclass>ERROR</subclass><data>d</data>"
       "<subclass>Status</subclass></t>",
       3},
      {"<t><methods>Agent</methods><data><x>1</x></data><subclassy>Status</subclassy></t>", 2},
      {"<t><data>stop</data><method>Agent</method><subclass>Status</subclass></t>", 1},
      {"<t><method>Response</method><line>abc</line><line>abc</line><subclass>Bulk</subclass>", 2},
      {"<r><!-- a note --><method>Agent</method><subclass>Status</subclass>", 2},
  };
  for (const auto& c : cases) {
    Parser full, narrow, text_only;
    narrow.scope = ParseScope::kUntilData;
    narrow.asked = kAsked;
    text_only.scope = ParseScope::kTextOnly;
    for (Parser* parser : {&full, &narrow, &text_only}) {
      for (std::size_t at = 0; at < std::strlen(c.text); at += 5) {
        parse(*parser, std::string_view(c.text).substr(at, 5));
      }
      EXPECT_EQ(std::string_view(parser->text.data(), parser->text.size()), c.text);
    }
    for (std::string_view value : {"Agent", "Status", "ERROR", "Response"}) {
      for (std::string_view name : kAsked) {
        EXPECT_EQ(tag_equals(narrow, name, value, "data"), tag_equals(full, name, value, "data"))
            << c.text << " " << name << "=" << value;
      }
    }
    EXPECT_EQ(narrow.tags.size(), c.recorded) << c.text;
    EXPECT_TRUE(narrow.attributes.empty());
    EXPECT_TRUE(text_only.tags.empty());
  }
}

// An announced length sets aside at most kParserReserveLimit up front, and
// a text that really arrives at that length ends in a block of that size.
TEST(XmlParser, TextGrowsTowardItsAnnouncedLength) {
  const std::size_t announced = 3 * kParserReserveLimit + 12345;
  Parser told_the_truth, lied;
  parser_reserve(told_the_truth, announced);
  parser_reserve(lied, announced);
  EXPECT_LE(lied.text.capacity(), kParserReserveLimit + 1);
  parse(lied, "<a>136 bytes at most</a>");
  EXPECT_LE(lied.text.capacity(), kParserReserveLimit + 1);
  const std::string piece(32768, 'x');
  while (told_the_truth.text.size() < announced) {
    parse(told_the_truth,
          std::string_view(piece).substr(0, announced - told_the_truth.text.size()));
  }
  EXPECT_EQ(told_the_truth.text.capacity(), announced);
}

TEST(XmlParser, PositionWaitsForTheRestOfAStep) {
  const struct {
    std::vector<std::string> pieces;
    std::size_t position;
    std::string tags;
  } rows[] = {
      {{"<a>x</a> oops ", "<b>y</b><c>z</c>"}, 8, "<a>x|"},  // the stalled step began at the blank
      {{"<r>", "<!-- first line", "second line"}, 3, "<r|"},
      {{"<r>", "<!-- first line", "second line", "-->", "<http port=\"7\"/>", "</r>"},
       52,
       "<r|<http port='7'|"},
      {{"<k>v</k>\n<a b=\"x'y'>t</a>"}, 8, "<k>v|"},
      {{"<k>v</k>\n<a b=\"x'y'>t</a>", "\"/><z>"}, 28, "<k>v|<a b='x'y'>t</a>'|"},
  };
  for (const auto& row : rows) {
    Parser parser;
    for (const std::string& piece : row.pieces) parse(parser, piece);
    EXPECT_EQ(render(parser), row.tags) << row.pieces.back();
    EXPECT_EQ(parser.position, row.position) << row.pieces.back();
  }
  Parser parser;  // a stall lasts until the parser is cleared
  parse(parser, "<a>x</a> oops <b>y</b>");
  parser_clear(parser);
  parse(parser, "<b>y</b>");
  EXPECT_EQ(render(parser), "<b>y|");
}

// Whichever allocation fails, the parser stays usable and gives every block
// back when cleared.
TEST(XmlParser, AnyShortageLeavesAConsistentParser) {
  const std::string z(40, 'z');
  const std::string text = "<?xml version=\"1.0\"?><transaction id=\"" + z + "\"><header>" +
                           "<method>Agent</method><" + z + " " + z + "='" + z + "'>" + z + "</" +
                           z + "></header><data/></transaction>";
  const std::size_t before = memory_allocated;
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
  reset_exit_code();
}

}  // namespace
}  // namespace zv
