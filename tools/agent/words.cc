#include "words.h"

namespace zvagent {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool split_words(std::string_view line, std::vector<Word>& words, std::string& error) {
  std::size_t i = 0;
  while (i < line.size()) {
    if (is_blank(line[i])) {
      ++i;
      continue;
    }
    Word word;
    while (i < line.size() && !is_blank(line[i]) && line[i] != '=') word.name += line[i++];
    if (i < line.size() && line[i] == '=') {
      ++i;
      std::string value;
      bool quoted = i < line.size() && line[i] == '"';
      if (quoted) ++i;
      for (;;) {
        if (i >= line.size()) {
          if (quoted) {
            error = "unterminated quote in " + word.name;
            return false;
          }
          break;
        }
        char c = line[i];
        if (quoted ? c == '"' : is_blank(c)) {
          if (quoted) ++i;
          break;
        }
        ++i;
        if (c != '\\') {
          value += c;
          continue;
        }
        if (i >= line.size()) {
          error = "a lone backslash ends the value of " + word.name;
          return false;
        }
        char e = line[i++];
        switch (e) {
          case 'r': value += '\r'; break;
          case 'n': value += '\n'; break;
          case 't': value += '\t'; break;
          case 's': value += ' '; break;
          case '"': value += '"'; break;
          case '\\': value += '\\'; break;
          case 'x': {
            int high = i < line.size() ? hex_digit(line[i]) : -1;
            int low = i + 1 < line.size() ? hex_digit(line[i + 1]) : -1;
            if (high < 0 || low < 0) {
              error = "\\x needs two hex digits in " + word.name;
              return false;
            }
            value += static_cast<char>(high * 16 + low);
            i += 2;
            break;
          }
          default: error = std::string("unknown escape \\") + e + " in " + word.name; return false;
        }
      }
      word.value = std::move(value);
    }
    words.push_back(std::move(word));
  }
  return true;
}

bool parse_number(std::string_view text, long long low, long long high, long long& out) {
  if (text.empty() || text.size() > 18) return false;
  long long n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n < low || n > high) return false;
  out = n;
  return true;
}

}  // namespace zvagent
