#include "transport/time_limits.h"

#include <cstdlib>

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

TimeLimits time_limits_from_environment() {
  TimeLimits limits;
  limits.connect_ms = time_limit_ms(std::getenv(kConnectTimeoutVariable), limits.connect_ms);
  limits.io_ms = time_limit_ms(std::getenv(kIoTimeoutVariable), limits.io_ms);
  return limits;
}

}  // namespace zv
