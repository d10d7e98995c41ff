// Small text helpers used across the program.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/memory.h"

namespace zv {

/// The one way the program reads a number from text: -1 for nullptr or a
/// text without a number (and for the number -1), 0 only for exactly "0".
/// Leading white space and one sign are accepted; anything after the digits
/// is ignored; values beyond 32 bits are clamped.
std::int32_t parse_int(const char* text);

/// The three texts joined, as a new Text.  Throws memory_exhausted.
Text string_concat(std::string_view first, std::string_view second, std::string_view third);

/// `text` without its leading and trailing runs of `ch`; nullopt when
/// nothing is left.  Throws memory_exhausted.
std::optional<Text> string_trim(std::string_view text, char ch);

/// The length of the printable UTF-8 character that `text` begins with
/// (1 for a tab or an ASCII character from ' ' to '~'), or 0 when its first
/// byte begins none: a control character (C0, DEL, C1), a malformed or
/// overlong sequence, a surrogate, U+FFFE or U+FFFF, or a cut sequence.
std::size_t printable_utf8_length(std::string_view text);

}  // namespace zv
