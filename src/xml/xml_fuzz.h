// A self-checking entry for feeding arbitrary bytes to the XML parser, shaped
// for a fuzzing driver: the parser must give the same document however its
// text is cut into pieces.
#pragma once

#include <cstddef>
#include <cstdint>

#include "xml/xml_document.h"

namespace zv {

/// Whether two documents hold the same tags: names, data and attributes,
/// in the same order.
bool parser_documents_equal(const Parser& first, const Parser& second);

/// Parses `data` whole, one byte at a time, and in pieces whose sizes are
/// drawn from the bytes themselves, and aborts the process when the
/// documents differ, a record refers to bytes beyond the parser's text, or
/// a parser leaves a block behind after parser_clear.
/// Returns 0.  The bytes are only read.
int parser_fuzz_one(const std::uint8_t* data, std::size_t size);

}  // namespace zv
