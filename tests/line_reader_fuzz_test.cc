#include <random>
#include <string>

#include <gtest/gtest.h>

#include "fuzz_targets.h"

namespace zv {
namespace {

using namespace std::string_literals;

int fuzz(const std::string& bytes) {
  return line_reader_fuzz_one(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Inputs where a reader most easily goes wrong: line ends at the very end,
// CRs next to each other, NUL bytes before and inside a line, bytes above
// 0x7f (which must not turn into the end of the input), white space that is
// not a line end, and lines that make the buffer grow.
TEST(FileFuzz, TrickyInputs) {
  const std::string cases[] = {
      ""s,
      "\n"s,
      "\r"s,
      "\r\n"s,
      "\n\r"s,
      " \t\v\f"s,
      "a"s,
      "a\r"s,
      "a\n\r\n\rb"s,
      "a\r\r\nb"s,
      "a\rb\rc\r"s,
      "\0"s,
      "\0\n"s,
      "\0a\nb"s,
      "a\0b\0\rc"s,
      " \0 \r\0"s,
      "\xff"s,
      "\xff\r\xff\n\xff"s,
      "a\r\xff"s,
      "x\x85y\xa0z\n"s,
      "  lead and trail  \r\n\n\n last"s,
      std::string(32768, 'x') + "\n" + std::string(32769, 'y') + "\r" + std::string(32770, 'z'),
      std::string(100000, 'w') + "\r\n\0tail"s,
      std::string(70000, '\0') + "\nnext"s,
  };
  for (const std::string& bytes : cases) {
    SCOPED_TRACE(testing::PrintToString(bytes.substr(0, 40)));
    EXPECT_EQ(fuzz(bytes), 0);
  }
}

// Short random inputs over the bytes the reader treats specially.  Each
// input costs two fresh line buffers, which the sanitizers make slow: keep
// the count modest.
TEST(FileFuzz, RandomInputs) {
  const std::string alphabet = "\r\r\n\n \t\v\f\0ab\xff"s;
  std::mt19937 random(20240611);
  for (int round = 0; round < 1500; ++round) {
    std::string bytes;
    std::size_t length = random() % 40;
    for (std::size_t i = 0; i < length; ++i) bytes += alphabet[random() % alphabet.size()];
    SCOPED_TRACE(testing::PrintToString(bytes));
    ASSERT_EQ(fuzz(bytes), 0);
  }
}

}  // namespace
}  // namespace zv
