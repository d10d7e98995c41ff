#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/memory.h"
#include "files/file.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"

namespace zv {
namespace {

using fuzz::check;

bool is_white_space(char c) { return fuzz::reference_is_space(c); }

// One line as the reader's contract describes it: `raw` is every byte stored
// for it, NUL bytes included; callers see `raw` up to its first NUL.
struct Expected {
  int result;
  bool has_line;
  std::string_view raw;
  std::string_view text() const { return raw.substr(0, raw.find('\0')); }
};

// The reference: written straight from the contract, sharing no code with
// the reader, and looking at the whole input at once instead of a stream.
class Splitter {
 public:
  explicit Splitter(std::string_view bytes) : bytes_(bytes) {}

  Expected next() {
    while (at_ < bytes_.size() && is_white_space(bytes_[at_])) ++at_;
    if (at_ == bytes_.size()) return {EOF, false, {}};
    std::size_t begin = at_;
    while (at_ < bytes_.size() && bytes_[at_] != '\r' && bytes_[at_] != '\n') ++at_;
    std::string_view raw = bytes_.substr(begin, at_ - begin);
    if (at_ == bytes_.size()) return {EOF, true, raw};
    if (bytes_[at_++] == '\n') return {'\n', true, raw};
    // A CR: the character after it is looked at, and left for the next line
    // unless it is the LF of a CR LF.
    if (at_ == bytes_.size()) return {EOF, true, raw};
    unsigned char after = static_cast<unsigned char>(bytes_[at_]);
    if (after == '\n') {
      ++at_;
      return {'\n', true, raw};
    }
    return {after, true, raw};
  }

  /// How many bytes the lines so far have taken, look-ahead excluded.
  std::size_t consumed() const { return at_; }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
};

// The bytes behind a descriptor: an unlinked temporary file, or a pipe for
// inputs that fit in one without a reader (a pipe is read to its end, a
// regular file to its size).  Small inputs are read in blocks of a few
// bytes, so that line ends, CR LF pairs among them, fall across reads.
struct Input {
  static constexpr std::size_t kPipeable = 4096;

  Input(const std::uint8_t* data, std::size_t size, bool pipe) {
    if (pipe && size <= kPipeable) {
      int ends[2];
      check(::pipe2(ends, O_CLOEXEC) == 0);
      fd = ends[0];
      write_all(ends[1], data, size);
      ::close(ends[1]);
    } else {
      std::FILE* temporary = std::tmpfile();
      check(temporary != nullptr);
      fd = ::dup(::fileno(temporary));
      std::fclose(temporary);
      write_all(fd, data, size);
      check(::lseek(fd, 0, SEEK_SET) == 0);
    }
  }
  ~Input() { ::close(fd); }
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  static void write_all(int fd, const std::uint8_t* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
      ssize_t n = ::write(fd, data + done, size - done);
      check(n > 0);
      done += static_cast<std::size_t>(n);
    }
  }
  int fd = -1;
};

// The bytes read through a file record, beside the reference splitter that
// says what each read must give.
struct Reading {
  Reading(const std::uint8_t* data, std::size_t size, bool pipe)
      : input(data, size, pipe),
        file(file_open_descriptor(
            input.fd, false, size <= Input::kPipeable ? 1 + size % 5 : BlockReader::kBlockSize)),
        reference(std::string_view(reinterpret_cast<const char*>(data), size)) {}
  Input input;
  File file;
  Splitter reference;
};

void check_line(File& file, const Expected& expected) {
  check(file.has_line == expected.has_line && !file.skipped);
  check(file.line() == (expected.has_line ? expected.text() : std::string_view()));
  if (!expected.has_line) return;
  // Every byte of the line is stored, NUL bytes too, and the text ends in a NUL.
  check(file.line_length == expected.raw.size());
  check(file.capacity >= file.line_length);
  check(std::memcmp(file.buffer.get(), expected.raw.data(), file.line_length) == 0);
  check(file.buffer.get()[file.line_length] == '\0');
  check(std::strlen(file.line_data()) == expected.text().size());
}

// Bounded by the input: every read that yields a line consumes at least one
// byte, and the first read that yields none ends the loop.
void read_lines(const std::uint8_t* data, std::size_t size) {
  Reading reading(data, size, false);
  File& file = reading.file;
  Splitter& reference = reading.reference;
  for (std::size_t read = 0; read <= size + 1; ++read) {
    Expected expected = reference.next();
    int result = file_read_line(file);
    check(result == expected.result);
    check_line(file, expected);
    check(file_offset(file) == reference.consumed());
    if (!expected.has_line) {
      // The end stays the end.
      check(file_read_line(file) == EOF && !file.has_line && file_offset(file) == size);
      return;
    }
  }
  check(false);
}

// What loops over read_file see: a line ends the loop only when it comes
// with the end of the input and string functions see no text in it.
void read_file_lines(const std::uint8_t* data, std::size_t size) {
  Reading reading(data, size, true);
  File& file = reading.file;
  Splitter& reference = reading.reference;
  for (std::size_t read = 0; read <= size + 1; ++read) {
    Expected expected = reference.next();
    bool available = expected.result != EOF || (expected.has_line && !expected.text().empty());
    check(read_file(file) == available);
    if (!available) return;
    check(file.line() == expected.text());
  }
  check(false);
}

}  // namespace

int line_reader_fuzz_one(const std::uint8_t* data, std::size_t size) {
  std::size_t before = memory_allocated;
  read_lines(data, size);
  check(memory_allocated == before);
  read_file_lines(data, size);
  check(memory_allocated == before);
  return 0;
}

}  // namespace zv
