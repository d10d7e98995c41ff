#include "files/file.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "cli/error.h"

namespace zv {
namespace {

using namespace std::string_literals;

File open_with(const std::string& bytes) {
  const std::string path = testing::TempDir() + "zv_file_" + std::to_string(getpid());
  std::ofstream(path, std::ios::binary) << bytes;
  File file = std::move(*file_open_read(path.c_str(), nullptr));
  std::remove(path.c_str());  // the open stream keeps it readable
  return file;
}

// Each call of file_read_line as "result:line" ("result:-" when no line),
// up to the end of the input.
std::vector<std::string> reads(const std::string& bytes) {
  File file = open_with(bytes);
  std::vector<std::string> out;
  for (int guard = 0; guard < 20; ++guard) {
    int result = file_read_line(file);
    out.push_back((result == EOF ? "EOF"s : result == '\n' ? "LF"s : std::string(1, char(result))) + ":" +
                  (file.has_line ? std::string(file.line()) : "-"));
    if (result == EOF && !file.has_line) break;
  }
  return out;
}

TEST(FileReadLine, LinesAndResults) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"", {"EOF:-"}},
      {"\n\n  \r\n\t\v\f\r", {"EOF:-"}},
      {"\n\n   abc  \r\n", {"LF:abc  ", "EOF:-"}},
      {"one\ntwo\r\n \t\v\f\r\n x y \n", {"LF:one", "LF:two", "LF:x y ", "EOF:-"}},
      // A lone CR ends a line; the character after it is the result.
      {"a\rb\n", {"b:a", "LF:b", "EOF:-"}},
      {"a\r\r\nb", {"\r:a", "EOF:b", "EOF:-"}},
      {"abc\r", {"EOF:abc", "EOF:-"}},
      // A NUL byte ends the text of its line.
      {"a\0b\nc"s, {"LF:a", "EOF:c", "EOF:-"}},
      {"\0x\n"s, {"LF:", "EOF:-"}},
      {"\xff\xfe\n\xff", {"LF:\xff\xfe", "EOF:\xff", "EOF:-"}},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(reads(input), expected) << testing::PrintToString(input);
}

// A buffer that cannot grow cuts the line where it stands; the rest comes
// back as the next line, and nothing is left allocated.
TEST(FileReadLine, BufferThatCannotGrowCutsTheLine) {
  std::size_t before = memory_allocated;
  std::string long_line(40000, 'y');
  long_line[32769] = 'Z';  // taken from the stream but not stored
  testing::internal::CaptureStderr();
  {
    File file = open_with(long_line + "\n");
    memory_fail_after(1);  // the step beyond 32769 characters
    EXPECT_EQ(file_read_line(file), 'Z');
    EXPECT_EQ(file.line(), std::string(32769, 'y'));
    EXPECT_EQ(file_read_line(file), '\n');
    EXPECT_EQ(file.line(), std::string(40000 - 32770, 'y'));
  }
  memory_fail_after(-1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("OUT_OF_MEMORY"), std::string::npos);
  EXPECT_EQ(get_exit_code(), kExitMemory);
  EXPECT_EQ(memory_allocated, before);
  set_exit_code(kExitOk);
}

}  // namespace
}  // namespace zv
