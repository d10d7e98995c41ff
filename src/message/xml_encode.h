// XML text escaping: the one routine through which text reaches outgoing
// XML as character data or as an attribute value.
//
// Exactly the five predefined entities are written, by name; every other
// byte (control characters, CR, LF, 0x80-0xFF) passes through unchanged, so
// multi-byte UTF-8 sequences stay intact.  Text that already holds entities
// is escaped again: "&amp;" becomes "&amp;amp;".
#pragma once

#include <cstddef>
#include <string_view>

#include "base/memory.h"

namespace zv {

/// Number of bytes the escaped form of `text` takes (without a NUL).
std::size_t xml_encoded_size(std::string_view text);

/// Appends the escaped form of `text` to `out`.  Callers that reserve
/// xml_encoded_size(text) more bytes first get no reallocation.  Throws
/// memory_exhausted (reported by the gate); `out` then holds a prefix of
/// the escaped text.
void xml_encode_append(std::string_view text, Text& out);

/// The escaped copy of `text`, owned by the caller, built in one block
/// sized by a first pass.  Throws memory_exhausted (reported by the gate).
Text xml_encode(std::string_view text);

}  // namespace zv
