#include "base/text.h"

#include <gtest/gtest.h>

namespace zv {
namespace {

// Numbers from the command line and from data-map lines: leading blanks and
// a sign are taken, trailing text is ignored, a leading zero makes no number.
TEST(Text, ParseInt) {
  const std::pair<const char*, int> cases[] = {{"0", 0},
                                               {"00", -1},
                                               {"-0", -1},
                                               {"", -1},
                                               {"abc", -1},
                                               {"x12", -1},
                                               {"12abc", 12},
                                               {" 7", 7},
                                               {"-7", -7},
                                               {"+5", 5},
                                               {"-1", -1},
                                               {nullptr, -1},
                                               {"99999999999", 2147483647},
                                               {"-99999999999", -2147483648}};
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(parse_int(text), expected) << (text ? text : "(null)");
}

}  // namespace
}  // namespace zv
