// The flat XML document model: the tags of one XML text in document order,
// with their attributes and the raw text that follows each.  Nesting is not
// represented and end tags leave no record; texts are kept as written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

#include "cli/memory.h"

namespace zv {

struct Attribute {
  Text name;
  Text value;
};

struct Tag {
  /// The name as written after '<'; nullopt only when its copy failed.
  std::optional<Text> name;
  /// The raw text between the tag's '>' and the next '<'; nullopt when that
  /// text is empty (or its copy failed).
  std::optional<Text> data;
  Vec<Attribute> attributes;
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
  bool attribute_failed = false;  // the attribute under way lost a copy
  /// The start tag under way while one of its scans waits for more text
  /// (only when mixed quotes run a value past the tag's '>'); it joins the
  /// document once complete.  At most one element.
  Vec<Tag> pending;
};

/// One parser: the text received so far and the tags read from it.  Owns
/// everything that hangs from it; lookups hand out pointers into it that
/// stay valid until the next parse or parser_clear.
struct Parser {
  /// 0 or 1 between calls of parse; see the parser for the meanings.
  int state = 0;
  /// The document: one record per start tag, in document order.
  Vec<Tag> tags;
  /// Every byte given to parse since the parser was opened or cleared.
  Vec<char> text;
  /// Index in text at which the next step begins; never beyond its size.
  std::size_t position = 0;
  ParserScan scan;
};

/// Empties the parser: tags and text are released (and wiped), position 0.
/// `state` is left alone; parse treats 0 and 1 alike.
void parser_clear(Parser& parser);

/// The first tag whose whole name is a prefix of `name`, or nullptr.  A tag
/// with an empty name matches every lookup; a tag without a name none.
const Tag* parser_get_tag(const Parser& parser, std::string_view name);

/// Whether parser_get_tag finds a tag for `name`.
bool tag_exists(const Parser& parser, std::string_view name);

/// The first attribute of `tag` whose name is a prefix of `name`, or nullptr.
const Attribute* tag_get_attribute(const Tag& tag, std::string_view name);

/// True when a tag whose name begins with `name` has exactly `value` as its
/// data.  Tags without name or data are passed over; a tag (with data) named
/// exactly `stop` ends the search with false, and is checked for that before
/// it is checked as a match.
bool tag_equals(const Parser& parser, std::string_view name, std::string_view value,
                std::optional<std::string_view> stop);

/// Diagnostic dump of the document to `stream`, one line per tag:
/// <name name='value'...>data</name> for a tag with data, otherwise
/// <name name='value'... />.  Nothing is escaped; texts end at a zero byte
/// and a tag whose name was lost shows an empty name.
void parser_display(const Parser& parser, std::FILE* stream);

}  // namespace zv
