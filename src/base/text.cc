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

}  // namespace zv
