// The incremental, forgiving XML parser that fills the document model.
#pragma once

#include <string_view>

#include "xml/xml_document.h"

namespace zv {

/// Result codes of parse and its steps.
enum ParseResult : int {
  kParseDone = 1,        // done without failure (possibly nothing readable yet)
  kParseNoMemory = 2,    // an allocation failed
  kParseIncomplete = 3,  // attribute without quoted value, or data block refused
};

/// Appends `piece` to the parser's text and reads every complete tag.  A
/// text fed in pieces of any size yields the tags the whole text would give,
/// in time linear in its total size.  Never throws.
int parse(Parser& parser, std::string_view piece);

}  // namespace zv
