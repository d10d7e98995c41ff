// The flat XML document model: the tags of one XML text in document order,
// with their attributes and the raw text that follows each.  Nesting is not
// represented and end tags leave no record; texts are kept as written.
#pragma once

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
/// resumes the scan instead of starting it over (keeps parsing linear).
struct ParserScan {
  std::size_t step_start = SIZE_MAX;  // position the cached scan belongs to
  std::size_t scanned = 0;            // next index the scan looks at
  std::size_t tag_close = 0;          // index of the start tag's '>' once found
  char open_quote = 0;                // quote character open at `scanned`
  char previous = 0;                  // character before `scanned`
};

/// One parser: the text received so far and the tags read from it.
struct Parser {
  /// 0 or 1 between calls of parse; see the parser for the meanings.
  int state = 0;
  Vec<Tag> tags;
  /// Every byte given to parse since the parser was opened or cleared.
  Vec<char> text;
  /// Index in text at which the next step begins; never beyond its size.
  std::size_t position = 0;
  ParserScan scan;
};

/// Empties the parser: tags and text are released (and wiped).
void parser_clear(Parser& parser);

/// The first tag whose whole name is a prefix of `name`, or nullptr.  A tag
/// with an empty name matches every lookup; a tag without a name none.
const Tag* parser_get_tag(const Parser& parser, std::string_view name);

bool tag_exists(const Parser& parser, std::string_view name);

/// The first attribute of `tag` whose name is a prefix of `name`, or nullptr.
const Attribute* tag_get_attribute(const Tag& tag, std::string_view name);

/// True when a tag whose name begins with `name` has exactly `value` as its
/// data.  Tags without name or data are passed over; a tag (with data) named
/// exactly `stop` ends the search with false.
bool tag_equals(const Parser& parser, std::string_view name, std::string_view value,
                std::optional<std::string_view> stop);

/// Diagnostic dump of the document to `stream`, one line per tag.
void parser_display(const Parser& parser, std::FILE* stream);

}  // namespace zv
