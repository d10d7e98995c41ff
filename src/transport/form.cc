#include "transport/form.h"

#include <array>
#include <cstring>

namespace zv {

namespace {

// Classified by byte value rather than with <cctype>, whose answer for the
// bytes above 0x7F depends on the locale.
constexpr std::array<bool, 256> kept_bytes() {
  std::array<bool, 256> kept{};
  for (int c = 'A'; c <= 'Z'; ++c) kept[c] = true;
  for (int c = 'a'; c <= 'z'; ++c) kept[c] = true;
  for (int c = '0'; c <= '9'; ++c) kept[c] = true;
  kept['-'] = true;
  return kept;
}

constexpr std::array<bool, 256> kKept = kept_bytes();
constexpr char kHexDigits[] = "0123456789ABCDEF";

bool kept(char c) { return kKept[static_cast<unsigned char>(c)]; }

std::size_t encoded_length(std::string_view text) {
  std::size_t length = 0;
  for (char c : text) length += (kept(c) || c == ' ') ? 1 : 3;
  return length;
}

// Writes the encoded form at `out`, which has room for encoded_length(text)
// bytes, and returns the end of what was written.
char* encode_to(std::string_view text, char* out) {
  for (char c : text) {
    if (kept(c)) {
      *out++ = c;
    } else if (c == ' ') {
      *out++ = '+';
    } else {
      unsigned char byte = static_cast<unsigned char>(c);
      *out++ = '%';
      *out++ = kHexDigits[byte >> 4];
      *out++ = kHexDigits[byte & 0x0F];
    }
  }
  return out;
}

char* copy_to(std::string_view text, char* out) {
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

}  // namespace

void http_encode(std::string_view text, Text& out) {
  std::size_t start = out.size();
  out.resize(start + encoded_length(text));
  encode_to(text, out.data() + start);
}

std::size_t http_form_length(const ParamList& list) {
  if (list.empty()) return 0;
  std::size_t length = 2 * list.size() - 1;  // each '=' and each '&' between pairs
  for (const Param& param : list) length += param.name.size() + encoded_length(param.value);
  return length;
}

void http_append_form(const ParamList& list, Text& out) {
  std::size_t start = out.size();
  // The whole form is measured first, so the text grows only once.
  out.resize(start + http_form_length(list));
  char* next = out.data() + start;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i > 0) *next++ = '&';
    next = copy_to(list[i].name, next);
    *next++ = '=';
    next = encode_to(list[i].value, next);
  }
}

}  // namespace zv
