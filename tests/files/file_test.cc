#include "files/file.h"

#include <unistd.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/error.h"
#include "fuzz_targets.h"

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

// Each call of file_read_line as "result:line@offset" ("result:-@offset"
// when no line), up to the end of the input.  The offset is that of the
// first byte not consumed: a line end is consumed, the look-ahead byte after
// a lone CR is not.  A long line shows as its length.
std::vector<std::string> reads(const std::string& bytes) {
  File file = open_with(bytes);
  std::vector<std::string> out;
  for (int guard = 0; guard < 20; ++guard) {
    int result = file_read_line(file);
    const std::string line(file.has_line ? file.line() : "-");
    out.push_back((result == EOF    ? "EOF"s
                   : result == '\n' ? "LF"s
                                    : std::string(1, char(result))) +
                  ":" + (line.size() > 100 ? std::to_string(line.size()) : line) + "@" +
                  std::to_string(file_offset(file)));
    if (result == EOF && !file.has_line) break;
  }
  return out;
}

TEST(FileReadLine, LinesResultsAndOffsets) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"", {"EOF:-@0"}},
      {"\n\n  \r\n\t\v\f\r", {"EOF:-@10"}},
      {"\n\n   abc  \r\n", {"LF:abc  @12", "EOF:-@12"}},
      {"one\ntwo\r\n \t\v\f\r\n x y \n", {"LF:one@4", "LF:two@9", "LF:x y @21", "EOF:-@21"}},
      // A lone CR ends a line; the character after it is the result.
      {"a\rb\n", {"b:a@2", "LF:b@4", "EOF:-@4"}},
      {"a\r\r\nb", {"\r:a@2", "EOF:b@5", "EOF:-@5"}},
      {"abc\r", {"EOF:abc@4", "EOF:-@4"}},
      // A NUL byte ends the text of its line.
      {"a\0b\nc"s, {"LF:a@4", "EOF:c@5", "EOF:-@5"}},
      {"\0x\n"s, {"LF:@3", "EOF:-@3"}},
      {"\xff\xfe\n\xff", {"LF:\xff\xfe@3", "EOF:\xff@4", "EOF:-@4"}},
      {std::string(70000, 'x') + "\n\n y", {"LF:70000@70001", "EOF:y@70004", "EOF:-@70004"}},
  };
  for (const auto& [input, expected] : cases)
    EXPECT_EQ(reads(input), expected) << testing::PrintToString(input.substr(0, 12));
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

// A pipe is read to its end and cannot be moved.  (A regular file ends at
// the size it had when it was opened: the end-to-end run that appends to
// its own input shows it.)
TEST(FileReadLine, PipeIsReadToItsEnd) {
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

// A line the buffer cannot grow for is skipped whole, never cut into
// pieces that come back as lines; the lines around it still come, and
// nothing is left allocated.  A refused jump to the file's whole rest falls
// back on doubling without a report.
TEST(FileReadLine, LineThatCannotBeHeldIsSkippedWhole) {
  std::size_t before = memory_allocated;
  const std::string long_line(100000, 'y');
  testing::internal::CaptureStderr();
  {
    // Through a pipe, whose rest is unknown: the buffer can only double.
    const std::string bytes = "first\n" + long_line.substr(0, 40000) + "\r\nlast";
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(ends[1]);
    File file = file_open_descriptor(ends[0], true);
    EXPECT_EQ(file_read_line(file), '\n');
    EXPECT_EQ(file.line(), "first");
    memory_fail_after(0);  // the step beyond the first block of the long line
    EXPECT_EQ(file_read_line(file), '\n');
    EXPECT_TRUE(file.skipped);
    EXPECT_EQ(file.line_data(), nullptr);
    EXPECT_EQ(file_read_line(file), EOF);
    EXPECT_FALSE(file.skipped);
    EXPECT_EQ(file.line(), "last");
  }
  memory_fail_after(-1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("OUT_OF_MEMORY"), std::string::npos);
  EXPECT_EQ(get_exit_code(), kExitMemory);
  EXPECT_EQ(memory_allocated, before);
  reset_exit_code();

  testing::internal::CaptureStderr();
  {
    File file = open_with(long_line + "\n" + long_line + "\n");
    memory_fail_after(1);  // the jump to the whole rest; doubling still fits
    EXPECT_EQ(file_read_line(file), '\n');
    EXPECT_FALSE(file.skipped);
    EXPECT_EQ(file.line(), long_line);
  }
  memory_fail_after(-1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(get_exit_code(), kExitOk);
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

// The read block keeps nothing the reader has taken: consumed bytes are
// zero at once, before the block is reused or released.
TEST(BlockReader, ConsumedBytesAreWipedAtOnce) {
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  ASSERT_EQ(write(pipe_ends[1], "SECRET-tail", 11), 11);
  close(pipe_ends[1]);
  BlockReader reader(pipe_ends[0], true);
  ASSERT_TRUE(reader.fill());
  const char* start = reader.pending().data();
  reader.consume(7);
  EXPECT_EQ(std::string_view(start, 7), std::string_view("\0\0\0\0\0\0\0", 7));
  EXPECT_EQ(reader.pending(), "tail");
}

// Short random inputs over the bytes the reader treats specially, each
// checked as the fuzzing entry checks it.  Each input costs two fresh line
// buffers, which the sanitizers make slow: keep the count modest.
TEST(FileReadLine, RandomInputsPassTheFuzzCheck) {
  const std::string alphabet = "\r\r\n\n \t\v\f\0ab\xff"s;
  std::mt19937 random(20240611);
  for (int round = 0; round < 1500; ++round) {
    std::string bytes(random() % 40, ' ');
    for (char& c : bytes) c = alphabet[random() % alphabet.size()];
    ASSERT_EQ(
        line_reader_fuzz_one(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0)
        << testing::PrintToString(bytes);
  }
}

}  // namespace
}  // namespace zv
