#include "message/map_data_split.h"

namespace zv {

namespace {

// Spelled out so that no locale the process is given changes the split.
bool is_white_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_quote(char c) { return c == '"' || c == '\''; }

}  // namespace

// One pass both splits and removes the escapes.  A word can only start
// where no backslash is pending (after white space, at an opening quote or
// right after a closing one), so pairing each backslash with the character
// after it during the walk pairs them exactly as a later pass over each
// finished word would.  The write position never overtakes the read
// position, which is what lets the words shrink inside the line.
Vec<const char*> map_data_open(char* line) {
  Vec<const char*> words;
  const char* in = line;
  while (is_white_space(*in)) ++in;
  if (*in == '\0') return words;

  char* out = line;     // where the next character of the word goes
  char* word = line;    // start of the current word's text
  bool in_word = true;  // some character of the line belongs to `word`
  bool escape = false;
  char quote = '\0';

  auto finish = [&] {
    *out++ = '\0';
    words.push_back(word);
    word = out;
    in_word = false;
  };

  for (; *in != '\0'; ++in) {
    char c = *in;
    if (!in_word) {
      if (is_white_space(c)) continue;
      in_word = true;
    }
    if (escape) {
      escape = false;
      *out++ = c;
    } else if (c == '\\') {
      escape = true;
    } else if (quote == '\0' && is_white_space(c)) {
      finish();
    } else if (quote == '\0' && is_quote(c)) {
      quote = c;
      out = word;  // the word starts over at the quote, which is not kept
    } else if (c == quote) {
      quote = '\0';
      finish();
    } else {
      *out++ = c;
    }
  }
  if (in_word) {
    if (escape) *out++ = '\\';
    finish();
  }
  return words;
}

}  // namespace zv
