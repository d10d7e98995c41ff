#include "files/file.h"

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/error.h"

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
    out.push_back((result == EOF    ? "EOF"s
                   : result == '\n' ? "LF"s
                                    : std::string(1, char(result))) +
                  ":" + (file.has_line ? std::string(file.line()) : "-"));
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
  for (const auto& [input, expected] : cases)
    EXPECT_EQ(reads(input), expected) << testing::PrintToString(input);
}

// After each line, the offset of the first byte not consumed: a line end
// is consumed, the look-ahead byte after a lone CR is not.
TEST(FileReadLine, OffsetAfterEachLine) {
  const std::pair<std::string, std::vector<std::uint64_t>> cases[] = {
      {"", {0}},
      {"  \n\r\n", {5}},
      {"ab\ncd", {3, 5, 5}},
      {"ab\r\ncd\r\n", {4, 8, 8}},
      {"a\rb\r", {2, 4, 4}},
      {"a\r\r\nb\n", {2, 6, 6}},
      {std::string(70000, 'x') + "\n\n y", {70001, 70004, 70004}},
  };
  for (const auto& [input, expected] : cases) {
    File file = open_with(input);
    std::vector<std::uint64_t> offsets;
    do {
      file_read_line(file);
      offsets.push_back(file_offset(file));
    } while (file.has_line);
    EXPECT_EQ(offsets, expected) << testing::PrintToString(input.substr(0, 12));
  }
}

// Reading again from a reported offset yields exactly the lines not yet
// returned, whether the record moves (file_seek) or a new one starts there.
TEST(FileReadLine, ResumesAtAnOffset) {
  const std::string input = "one\r\ntwo\rthree\n\n  four";
  const std::vector<std::string> all = {"one", "two", "three", "four"};
  for (std::size_t done = 0; done <= all.size(); ++done) {
    File first = open_with(input);
    for (std::size_t i = 0; i < done; ++i) ASSERT_TRUE(read_file(first));
    std::uint64_t mark = file_offset(first);
    File again = open_with(input);
    ASSERT_TRUE(file_seek(again, mark));
    std::vector<std::string> rest;
    while (read_file(again)) rest.emplace_back(again.line());
    EXPECT_EQ(rest, std::vector<std::string>(all.begin() + done, all.end())) << done;
  }
}

// A regular file ends at the size it had when it was opened, so a reader
// that appends to its own input still ends; a pipe is read to its end and
// cannot be moved.
TEST(FileReadLine, EndsWhereTheFileEndedAtOpen) {
  const std::string path = testing::TempDir() + "zv_grow_" + std::to_string(getpid());
  std::ofstream(path, std::ios::binary) << "a\nb\n";
  File file = std::move(*file_open_read(path.c_str(), nullptr));
  int appended = 0;
  std::vector<std::string> lines;
  while (read_file(file) && lines.size() < 10) {
    lines.emplace_back(file.line());
    std::ofstream(path, std::ios::binary | std::ios::app) << "more " << ++appended << "\n";
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b"}));
  std::remove(path.c_str());

  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ASSERT_EQ(::write(ends[1], "x\ny", 3), 3);
  ::close(ends[1]);
  File piped = file_open_descriptor(ends[0], true, 2);
  EXPECT_FALSE(file_seek(piped, 0));
  EXPECT_TRUE(read_file(piped));
  EXPECT_TRUE(read_file(piped));
  EXPECT_EQ(piped.line(), "y");
  EXPECT_FALSE(read_file(piped));
  EXPECT_EQ(file_offset(piped), 3u);
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
    EXPECT_TRUE(file.cut);
    EXPECT_EQ(file.line(), std::string(32769, 'y'));
    EXPECT_EQ(file_read_line(file), '\n');
    EXPECT_FALSE(file.cut);
    EXPECT_EQ(file.line(), std::string(40000 - 32770, 'y'));
  }
  memory_fail_after(-1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("OUT_OF_MEMORY"), std::string::npos);
  EXPECT_EQ(get_exit_code(), kExitMemory);
  EXPECT_EQ(memory_allocated, before);
  set_exit_code(kExitOk);
}

// The line buffer holds the current line and nothing of the lines before
// it: a long line followed by a short one leaves none of its bytes behind.
TEST(FileReadLine, EarlierLinesLeaveNoBytesBehind) {
  File file = open_with("SECRET-SECRET-SECRET\nab\n");
  ASSERT_EQ(file_read_line(file), '\n');
  ASSERT_EQ(file_read_line(file), '\n');
  ASSERT_EQ(file.line(), "ab");
  const std::string_view bytes(static_cast<const char*>(file.buffer.get()), file.capacity + 1);
  EXPECT_EQ(bytes.find("CRET"), std::string_view::npos);
}

}  // namespace
}  // namespace zv
