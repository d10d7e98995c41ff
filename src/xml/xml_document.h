// The flat XML document model: the tags of one XML text in document order,
// with their attributes and the raw text that follows each.  Nesting is not
// represented and end tags leave no record; texts are kept as written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "base/memory.h"
#include "xml/chunk_list.h"

namespace zv {

/// An index into, or a length within, the parser's text.  The text is kept
/// below 4 GiB (its growth is refused beyond that), so 32 bits suffice and
/// the records stay small.
using TextIndex = std::uint32_t;

/// A stretch of the parser's text.
struct TextSpan {
  TextIndex at = 0;
  TextIndex length = 0;
};

/// An attribute of a tag.  Both texts are stretches of the parser's text;
/// each ends before the first zero byte of what was written.
struct Attribute {
  TextSpan name;
  TextSpan value;
};

/// A start tag.  It refers to the parser's text instead of holding copies:
/// the parser keeps every byte until parser_clear, so the stretches stay
/// valid as long as the tag itself.
struct Tag {
  /// The name as written after '<', up to its first zero byte.
  TextSpan name;
  /// The raw text between the tag's '>' and the next '<', zero bytes
  /// included; empty when the tag has no data.
  TextSpan data;
  /// The tag's attributes are Parser::attributes[first_attribute] onwards.
  TextIndex first_attribute = 0;
  TextIndex attribute_count = 0;
};

/// Where an unfinished parse step stopped, so that the next piece of text
/// resumes it instead of starting it over: every byte of the text is looked
/// at a bounded number of times however the text is cut.  Private to the
/// parser; it belongs to the step that begins at `step_start` and is
/// dropped whenever the position is elsewhere.
struct ParserScan {
  enum class Phase : std::uint8_t {
    kLead,       // white space before the step's '<'
    kComment,    // a "<!--" at `lt`: its first '>'
    kEndTag,     // an end tag at `lt`: its '>'
    kClose,      // a start tag at `lt`: its closing '>' (quote rule)
    kNext,       // the '<' after the closing '>'
    kAttrLead,   // tag under way: white space before an attribute or the end
    kAttrName,   // tag under way: the attribute name from `mark`
    kAttrQuote,  // tag under way: the value's opening quote
    kAttrValue,  // tag under way: the value's closing quote
    kTagEnd,     // tag under way: '?', '/' or '>' at `mark`
    kData,       // tag under way: the '<' that ends the data from `mark`
  };
  std::size_t step_start = SIZE_MAX;  // position the cached step belongs to
  Phase phase = Phase::kLead;
  std::size_t scanned = 0;   // next index the current scan looks at
  std::size_t lt = 0;        // the step's '<'
  std::size_t next_lt = 0;   // the first '<' after the start tag's '>'
  std::size_t mark = 0;      // start of the attribute, tag end or data
  std::size_t quote_at = 0;  // opening quote of the value under way
  char open_quote = 0;       // quote open at `scanned` in kClose
  /// The attribute under way; room for it is made before its value is
  /// looked for.
  Attribute attribute;
  /// The start tag under way.  It joins the document when its step ends;
  /// its attributes are already in the parser's list, from first_attribute.
  /// Room for it in the tag list is made before its name is read.
  Tag tag;
};

/// How much of the document parse records.
enum class ParseScope : std::uint8_t {
  /// Every tag, with its attributes.
  kAll,
  /// What tag_equals with stop "data" can see of the names in
  /// Parser::asked: the tags with data whose name begins with one of them,
  /// without attributes, up to and including the first tag named exactly
  /// "data" that has data, which settles every such lookup.  The text
  /// after it is only kept.
  kUntilData,
  /// No tags: the text is only kept.
  kTextOnly,
};

/// One parser: the text received so far and the tags read from it.  Owns
/// everything that hangs from it.  Tag and attribute records stay where
/// they are until parser_clear (parse only appends), so pointers from the
/// lookups stay valid until then.
struct Parser {
  /// 0 or 1 between calls of parse; see the parser for the meanings.
  int state = 0;
  /// The document: one record per start tag, in document order.
  ChunkList<Tag> tags;
  /// The attributes of all tags, tag by tag in document order.
  ChunkList<Attribute> attributes;
  /// Every byte given to parse since the parser was opened or cleared.
  /// Once not empty it is a gate block of 256 bytes or more, never the
  /// in-record buffer, so its bytes are wiped when it is released.
  Text text;
  /// Index in text at which the next step begins; never beyond its size.
  std::size_t position = 0;
  ParserScan scan;
  /// What parse records; parser_clear sets it back to kAll.
  ParseScope scope = ParseScope::kAll;
  /// The names kUntilData looks out for; borrowed, they must outlive the
  /// parse.
  std::span<const std::string_view> asked;
  /// True once kUntilData has met its last tag: nothing more is recorded.
  bool settled = false;
  /// The size the text is announced to reach (parser_reserve); its growth
  /// aims at it instead of overshooting.  0: none announced.
  std::size_t text_goal = 0;
  /// The most text the reader will ever give (0: no bound known): growth
  /// stops there, so a text at its bound never sits in a block twice its
  /// size.  Set by parser_set_text_bound, cleared by parser_clear.
  std::size_t text_bound = 0;
};

/// Empties the parser: tags, attributes and text are released (and wiped),
/// position 0, scope kAll, no announced size.  `state` is left alone; parse treats 0 and 1 alike.
void parser_clear(Parser& parser);

/// A tag's name.  The view points into the parser's text, which moves when
/// parse grows it: it stays valid until the next parse or parser_clear.
/// Likewise for the other texts read below.
std::string_view tag_name(const Parser& parser, const Tag& tag);

/// A tag's data, or nullopt when it has none.
std::optional<std::string_view> tag_data(const Parser& parser, const Tag& tag);

/// The attributes of `tag` in the order written, for range-for.
ChunkList<Attribute>::Range tag_attributes(const Parser& parser, const Tag& tag);

/// An attribute's name and its value (without the quotes).
std::string_view attribute_name(const Parser& parser, const Attribute& attribute);
std::string_view attribute_value(const Parser& parser, const Attribute& attribute);

/// The first tag whose whole name is a prefix of `name`, or nullptr.  A tag
/// with an empty name matches every lookup.
const Tag* parser_get_tag(const Parser& parser, std::string_view name);

/// The first attribute of `tag` whose name is a prefix of `name`, or nullptr.
const Attribute* tag_get_attribute(const Parser& parser, const Tag& tag, std::string_view name);

/// True when a tag whose name begins with `name` has exactly `value` as its
/// data.  Tags without data are passed over; a tag (with data) named exactly
/// `stop` ends the search with false, and is checked for that before it is
/// checked as a match.
bool tag_equals(const Parser& parser, std::string_view name, std::string_view value,
                std::optional<std::string_view> stop);

}  // namespace zv
