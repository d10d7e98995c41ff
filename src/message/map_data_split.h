// The word splitter of data-map lines: a line of a --map-data-file file or
// of the recovery log becomes the transaction id and the items of one
// data-map submission.
#pragma once

#include "base/memory.h"

namespace zv {

/// Splits `line` into words IN PLACE (named as the word vector's maker; it
/// opens nothing) and returns pointers to them, in line
/// order; the vector has no closing nullptr entry.  The words live in the
/// line's storage: each word end is overwritten with a NUL and escapes are
/// removed in place (words never grow), so the line no longer reads as
/// before and must outlive the vector.
///
/// White space is the POSIX locale's class.  Both the double quote and the
/// apostrophe quote a word.  A quote opened outside a quote restarts the
/// word at the quote, dropping what came before it; the same quote closes
/// it and ends the word, and a character right after it starts a new word.
/// Inside a quote, white space and the other quote are ordinary.  A
/// backslash makes the next character ordinary and is dropped; a lone
/// opening quote at the end gives an empty word; an unterminated quote ends
/// with the line; a backslash that ends the line stays in the last word.
/// Leading white space is passed over.  Linear in the length of the line.
///
/// Throws memory_exhausted when the vector cannot grow (the gate has
/// reported it); the line is then partly split and good for nothing.
Vec<const char*> map_data_open(char* line);

}  // namespace zv
