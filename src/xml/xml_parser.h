// The incremental, forgiving XML parser that fills the document model.
#pragma once

#include <string_view>

#include "xml/xml_document.h"

namespace zv {

/// Result codes of parse and its steps.
enum ParseResult : int {
  kParseDone = 1,        // done without failure (possibly nothing readable yet)
  kParseNoMemory = 2,    // an allocation failed
  kParseIncomplete = 3,  // an attribute without a quoted value before '>'
};

/// Makes room for `expected` more bytes of text, so that a text whose
/// length is announced (a reply's Content-Length) arrives with few copies.
/// At most kParserReserveLimit bytes are set aside up front: an
/// announcement is only a claim of the agent, so the rest grows as the
/// bytes really arrive, doubling but never beyond the announced size while
/// the text stays within it.  Never throws; a refusal has been reported by
/// the gate and leaves the text as it was.
void parser_reserve(Parser& parser, std::size_t expected) noexcept;

inline constexpr std::size_t kParserReserveLimit = std::size_t{1} << 20;

/// Appends `piece` to the parser's text and reads every complete tag that
/// the parser's scope asks for.  A
/// text fed in pieces of any size yields the tags the whole text would give,
/// in time linear in its total size; a start tag is read once its '>' and
/// the next '<' have arrived.  A comment ("<!--" up to its first '>') leaves
/// no record, wherever it stands.
///
/// Tags and attributes refer to the text rather than copying it, so the
/// only allocations are the growth of the text (refused beyond 4 GiB) and
/// of the tag and attribute lists.  Returns kParseNoMemory when the text
/// cannot grow (the piece is lost and nothing else changes) or when a tag
/// record cannot be made (that tag is lost and reading resumes with the
/// next piece); otherwise kParseDone.  A tag that cannot get room for an
/// attribute, or meets an attribute without a quoted value, stays recorded
/// with the attributes before it and the parser stalls there; the call goes
/// on.  Shortages have been reported by the memory gate.  Never throws.
int parse(Parser& parser, std::string_view piece) noexcept;

}  // namespace zv
