// The words of one script line: a list of words separated by blanks, each a
// name or name=value, where a value runs to the next blank or is written
// between double quotes; in both, \r \n \t \s (blank) \" \\ and \xHH are
// escapes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zvagent {

/// One word of a line: its name and, after '=', the unescaped value.
struct Word {
  std::string name;
  std::optional<std::string> value;
};

/// Appends the words of `line` to `words`.  On a bad quote or escape returns
/// false and says why in `error` (`words` may then hold the words before it).
bool split_words(std::string_view line, std::vector<Word>& words, std::string& error);

/// Reads a decimal number of at most 18 digits from the whole of `text` into
/// `out`; false (and `out` untouched) when it is not one or lies outside
/// [low, high].
bool parse_number(std::string_view text, long long low, long long high, long long& out);

}  // namespace zvagent
