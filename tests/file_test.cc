#include "files/file.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "cli/error.h"

namespace zv {
namespace {

using namespace std::string_literals;

struct InputFile {
  std::string path = testing::TempDir() + "zv_file_" + std::to_string(getpid());
  explicit InputFile(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
  ~InputFile() { std::remove(path.c_str()); }
  File open() const { return std::move(*file_open_read(path.c_str(), nullptr)); }
};

// One call of file_read_line: its result and the line as string functions see it.
struct Read {
  int result;
  std::optional<std::string> text;
  bool operator==(const Read&) const = default;
};
void PrintTo(const Read& r, std::ostream* out) { *out << r.result << ":" << testing::PrintToString(r.text); }

std::vector<Read> read_all(const std::string& bytes) {
  InputFile input(bytes);
  File file = input.open();
  std::vector<Read> reads;
  for (int guard = 0; guard < 20; ++guard) {
    int result = file_read_line(file);
    reads.push_back({result, file.has_line ? std::optional(std::string(file.line())) : std::nullopt});
    if (result == EOF && !file.has_line) break;
  }
  return reads;
}

const std::optional<std::string> kNone;

TEST(FileReadLine, LinesAndResults) {
  const std::pair<std::string, std::vector<Read>> cases[] = {
      {"", {{EOF, kNone}}},
      {"\n\n  \r\n\t\v\f\r", {{EOF, kNone}}},
      {"\n\n   abc  \r\n", {{'\n', "abc  "}, {EOF, kNone}}},
      {"one\ntwo\r\n \t\v\f\r\n x y \n", {{'\n', "one"}, {'\n', "two"}, {'\n', "x y "}, {EOF, kNone}}},
      {"a\rb\n", {{'b', "a"}, {'\n', "b"}, {EOF, kNone}}},
      {"a\r\r\nb", {{'\r', "a"}, {EOF, "b"}, {EOF, kNone}}},
      {"abc\r", {{EOF, "abc"}, {EOF, kNone}}},
      {"a\0b\nc"s, {{'\n', "a"}, {EOF, "c"}, {EOF, kNone}}},
      {"\0x\n"s, {{'\n', ""}, {EOF, kNone}}},
      {"\xff\xfe\n\xff", {{'\n', "\xff\xfe"}, {EOF, "\xff"}, {EOF, kNone}}},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(read_all(input), expected) << testing::PrintToString(input);
}

TEST(FileReadLine, ReadFileEndsWithTheLastNonEmptyLine) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"\n \n", {}}, {"abc", {"abc"}}, {"a\n\0b"s, {"a"}}, {"\0b\n"s, {""}}};
  for (const auto& [input, expected] : cases) {
    File file = InputFile(input).open();
    std::vector<std::string> lines;
    for (int guard = 0; guard < 20 && read_file(file); ++guard) lines.emplace_back(file.line());
    EXPECT_EQ(lines, expected);
  }
}

TEST(FileReadLine, LongLinesAroundTheGrowthStep) {
  for (std::size_t length : {32768u, 32769u, 32770u, 100000u, 3000000u}) {
    std::string line(length, 'x');
    for (std::size_t i = 0; i < length; i += 997) line[i] = static_cast<char>('a' + i % 26);
    std::vector<Read> reads = read_all(line + "\r\ntail");
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_TRUE(reads[0] == (Read{'\n', line})) << length;
    EXPECT_EQ(reads[1], (Read{EOF, "tail"}));
  }
}

TEST(FileReadLine, PreviousLineIsWiped) {
  File file = InputFile("secret-secret\nab\n").open();
  file_read_line(file);
  const char* old = file.line_data();
  file_read_line(file);
  ASSERT_EQ(file.line_data(), old);  // not regrown, so the pointer is still the buffer
  EXPECT_EQ(std::string(old, 14), "ab"s + std::string(12, '\0'));
  EXPECT_EQ(file_read_line(file), EOF);
  EXPECT_EQ(std::string(old, 3), std::string(3, '\0'));
}

TEST(FileReadLine, BufferThatCannotGrowCutsTheLine) {
  std::size_t before = memory_allocated;
  std::string long_line(40000, 'y');
  long_line[32769] = 'Z';  // taken from the stream but not stored
  testing::internal::CaptureStderr();
  {
    File file = InputFile("abc\n" + long_line + "\n").open();
    memory_fail_after(0);  // the first buffer: a line without text, which still counts
    EXPECT_TRUE(read_file(file));
    EXPECT_EQ(file.line_data(), nullptr);
    EXPECT_EQ(file_read_line(file), '\n');
    EXPECT_EQ(file.line(), "bc");
    memory_fail_after(0);  // the step beyond 32769 characters
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

TEST(FileOpen, DefaultStreamsAreNeverClosed) {
  const char* missing = "/nonexistent-zv-dir/file";
  std::FILE* spare = std::tmpfile();
  EXPECT_FALSE(file_open_read(nullptr, nullptr));
  EXPECT_FALSE(file_open_read(missing, nullptr));
  EXPECT_EQ(file_open_read(missing, spare)->stream, spare);
  EXPECT_EQ(file_open_write(missing, stdout)->stream, stdout);
  EXPECT_EQ(file_open_write(nullptr, stdout)->stream, stdout);
  EXPECT_NE(fcntl(fileno(spare), F_GETFD), -1);
  EXPECT_NE(fcntl(STDOUT_FILENO, F_GETFD), -1);
  std::fclose(spare);
}

TEST(GetPath, DirectoryPart) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"/opt/agent/bin/prog", "/opt/agent/bin/"}, {"./ZVClient", "./"}, {"/prog", "/"},
      {"dir/", "dir/"}, {"a//b", "a//"}, {"prog", std::nullopt}, {"", std::nullopt}};
  for (const auto& [path, expected] : cases) {
    std::optional<Text> result = get_path(path);
    EXPECT_EQ(result ? std::optional(std::string(*result)) : std::nullopt, expected) << path;
  }
}

}  // namespace
}  // namespace zv
