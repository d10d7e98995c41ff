#include "files/file.h"

#include "cli/error.h"

#include <cstring>
#include <utility>

namespace zv {

namespace {

// Line buffers grow in whole multiples of this many characters.  Growth
// doubles, so a line of n characters costs O(n) copying in all.
constexpr std::size_t kLineStep = 32769;

// The POSIX locale's white-space class, spelled out so that no locale the
// process might be given changes which lines count as blank.
bool is_white_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::size_t capacity(const File& file) {
  return file.buffer.empty() ? 0 : file.buffer.size() - 1;
}

void close_stream(File& file) {
  if (file.stream != nullptr && file.owns_stream && file.stream != stdout) {
    std::fclose(file.stream);
  }
  file.stream = nullptr;
  file.owns_stream = false;
}

// Only the previous line's bytes hold text: the rest of the buffer is zero
// already (fresh growth is zero-filled and every earlier line was wiped).
void file_clear_buffer(File& file) {
  if (!file.buffer.empty()) memory_wipe(file.buffer.data(), file.line_length);
  file.line_length = 0;
  file.has_line = false;
}

// False when the gate refused; the buffer is then as it was.
bool file_buffer_increase(File& file) {
  std::size_t old_capacity = capacity(file);
  std::size_t new_capacity = old_capacity == 0 ? kLineStep : old_capacity * 2;
  try {
    file.buffer.reserve(new_capacity + 1);
    file.buffer.resize(new_capacity + 1);
  } catch (const memory_exhausted&) {
    return false;
  }
  return true;
}

// Stores the NUL behind the line; the buffer always has room for it.
int end_line(File& file, std::size_t length, int result) {
  file.line_length = length;
  if (!file.buffer.empty()) file.buffer[length] = '\0';
  return result;
}

}  // namespace

File::File(File&& other) noexcept
    : name(other.name),
      stream(std::exchange(other.stream, nullptr)),
      owns_stream(std::exchange(other.owns_stream, false)),
      buffer(std::move(other.buffer)),
      line_length(std::exchange(other.line_length, 0)),
      has_line(std::exchange(other.has_line, false)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close_stream(*this);
    name = other.name;
    stream = std::exchange(other.stream, nullptr);
    owns_stream = std::exchange(other.owns_stream, false);
    buffer = std::move(other.buffer);
    line_length = std::exchange(other.line_length, 0);
    has_line = std::exchange(other.has_line, false);
  }
  return *this;
}

File::~File() { close_stream(*this); }

std::string_view File::line() const {
  if (!has_line || buffer.empty()) return {};
  const char* text = buffer.data();
  const void* nul = std::memchr(text, '\0', line_length);
  std::size_t length = nul == nullptr ? line_length : static_cast<const char*>(nul) - text;
  return {text, length};
}

char* File::line_data() { return has_line && !buffer.empty() ? buffer.data() : nullptr; }

std::optional<File> file_open(const char* name, const char* mode, std::FILE* default_stream) {
  File file;
  file.name = name;
  if (name != nullptr) {
    file.stream = std::fopen(name, mode);
    file.owns_stream = file.stream != nullptr;
  }
  if (file.stream == nullptr) file.stream = default_stream;
  if (file.stream == nullptr) return std::nullopt;
  return file;
}

std::optional<File> file_open_write(const char* name, std::FILE* default_stream) {
  return file_open(name, "w", default_stream);
}

std::optional<File> file_open_read(const char* name, std::FILE* default_stream) {
  return file_open(name, "r", default_stream);
}

int file_read_line(File& file) {
  file_clear_buffer(file);
  std::FILE* in = file.stream;
  if (in == nullptr) return EOF;

  int c = getc_unlocked(in);
  while (c != EOF && is_white_space(c)) c = getc_unlocked(in);
  if (c == EOF) return EOF;
  file.has_line = true;

  std::size_t count = 0;
  std::size_t room = capacity(file);
  char* text = file.buffer.data();
  for (;;) {
    if (count == room) {
      if (!file_buffer_increase(file)) return end_line(file, count, c);
      room = capacity(file);
      text = file.buffer.data();
    }
    if (c == '\r') {
      int next = getc_unlocked(in);
      if (next == '\n') return end_line(file, count, '\n');
      if (next != EOF) std::ungetc(next, in);
      return end_line(file, count, next);
    }
    if (c == '\n') return end_line(file, count, '\n');
    text[count++] = static_cast<char>(c);
    c = getc_unlocked(in);
    if (c == EOF) return end_line(file, count, EOF);
  }
}

bool read_file(File& file) {
  if (file_read_line(file) != EOF) return true;
  return !file.line().empty();
}

std::optional<Text> get_path(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::nullopt;
  return Text(path.substr(0, slash + 1));
}

std::optional<File> file_open_input(const char* name, std::string_view not_opened) {
  std::optional<File> file = file_open_read(name, nullptr);
  if (!file) {
    show_error_text(not_opened);
    set_exit_code(kExitFile);
  }
  return file;
}

}  // namespace zv
