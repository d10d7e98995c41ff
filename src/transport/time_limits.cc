#include "transport/time_limits.h"

#include <cstdlib>
#include <utility>

namespace zv {

namespace {

// poll takes an int of milliseconds; stay well inside it.
constexpr double kLongestSeconds = 2000000.0;

}  // namespace

int time_limit_ms(const char* seconds, int fallback) {
  if (seconds == nullptr || *seconds == '\0') return fallback;
  char* end = nullptr;
  double value = std::strtod(seconds, &end);
  // strtod also takes "inf", "nan" and hexadecimal forms; none is a limit.
  for (const char* c = seconds; c != end; ++c) {
    if (!((*c >= '0' && *c <= '9') || *c == '.')) return fallback;
  }
  if (end == seconds || *end != '\0' || !(value >= 0.0) || value > kLongestSeconds) return fallback;
  if (value == 0.0) return 0;
  int ms = static_cast<int>(value * 1000.0);
  return ms < 1 ? 1 : ms;
}

TimeLimits time_limits_from_environment(const char** malformed) {
  TimeLimits limits;
  if (malformed != nullptr) *malformed = nullptr;
  const std::pair<const char*, int*> variables[] = {
      {kConnectTimeoutVariable, &limits.connect_ms},
      {kIoTimeoutVariable, &limits.io_ms},
      {kExchangeTimeoutVariable, &limits.exchange_ms}};
  for (const auto& [name, limit] : variables) {
    const char* text = std::getenv(name);
    int fallback = *limit;
    *limit = time_limit_ms(text, fallback);
    // The fallback comes back for a text that says "0" only when it is 0.
    bool unreadable = text != nullptr && *text != '\0' && time_limit_ms(text, -1) == -1;
    if (unreadable && malformed != nullptr && *malformed == nullptr) *malformed = name;
  }
  return limits;
}

}  // namespace zv
