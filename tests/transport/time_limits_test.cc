#include "transport/time_limits.h"

#include <gtest/gtest.h>

namespace zv {
namespace {

TEST(TimeLimits, SecondsFromTheEnvironment) {
  const struct {
    const char* text;
    int ms;
  } cases[] = {
      {nullptr, -7}, {"", -7},      {"10", 10000}, {"0.25", 250},   {"0", 0},
      {"0.0", 0},    {"0.0001", 1}, {"-1", -7},    {"1e3", -7},     {"inf", -7},
      {"nan", -7},   {" 5", -7},    {"5s", -7},    {"3000000", -7}, {"2000000", 2000000000},
  };
  for (const auto& c : cases)
    EXPECT_EQ(time_limit_ms(c.text, -7), c.ms) << (c.text ? c.text : "null");
}

}  // namespace
}  // namespace zv
