#include "base/text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace zv {

std::int32_t parse_int(const char* text) {
  if (text == nullptr) return -1;
  if (std::strcmp(text, "0") == 0) return 0;
  errno = 0;
  long value = std::strtol(text, nullptr, 10);
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  return value == 0 ? -1 : static_cast<std::int32_t>(value);
}

Text string_concat(std::string_view first, std::string_view second, std::string_view third) {
  Text joined;
  joined.reserve(first.size() + second.size() + third.size());
  joined.append(first).append(second).append(third);
  return joined;
}

std::optional<Text> string_trim(std::string_view text, char ch) {
  std::size_t start = text.find_first_not_of(ch);
  if (start == std::string_view::npos) return std::nullopt;
  std::size_t end = text.find_last_not_of(ch);
  return Text(text.substr(start, end - start + 1));
}

std::size_t printable_utf8_length(std::string_view text) {
  if (text.empty()) return 0;
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(0);
  if (lead < 0x80) return lead == '\t' || (lead >= 0x20 && lead < 0x7f) ? 1 : 0;
  // The range the second byte must fall in, by the lead byte; later bytes
  // are plain continuation bytes (0x80 to 0xBF).
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xbf;
  if (lead == 0xc2) {
    length = 2, low = 0xa0;  // C2 80..9F are the C1 controls
  } else if (lead > 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead == 0xe0) {
    length = 3, low = 0xa0;
  } else if (lead == 0xed) {
    length = 3, high = 0x9f;  // no surrogates
  } else if (lead > 0xe0 && lead <= 0xef) {
    length = 3;
  } else if (lead == 0xf0) {
    length = 4, low = 0x90;
  } else if (lead > 0xf0 && lead <= 0xf3) {
    length = 4;
  } else if (lead == 0xf4) {
    length = 4, high = 0x8f;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xbf) return 0;
  }
  // U+FFFE and U+FFFF are no characters of an XML document.
  if (lead == 0xef && byte(1) == 0xbf && byte(2) >= 0xbe) return 0;
  return length;
}

}  // namespace zv
