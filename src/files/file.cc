#include "files/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/error.h"

namespace zv {

namespace {

// Line buffers grow in whole multiples of this many characters.  Growth at
// least doubles, so a line of n characters costs O(n) copying in all.
constexpr std::size_t kLineStep = 32769;

// The POSIX locale's white-space class, spelled out so that no locale the
// process might be given changes which lines count as blank.
bool is_white_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Only the previous line's bytes hold text: the rest of the buffer never
// held file bytes, or held an earlier line that was wiped the same way.
void file_clear_buffer(File& file) {
  memory_wipe(file.buffer.get(), file.line_length);
  file.line_length = 0;
  file.has_line = false;
  file.skipped = false;
}

// The next capacities for a line of `count` characters that needs more
// room: double, and first, when it is larger, room for all a regular file
// has left (so that one long line grows once instead of doubling all the
// way).  The second is 0 when there is no first.
std::pair<std::size_t, std::size_t> grown_capacities(const File& file, std::size_t count) {
  if (file.capacity == 0) return {kLineStep, 0};
  auto clamp = [](std::uint64_t n) {
    return n > SIZE_MAX - 1 ? SIZE_MAX - 1 : static_cast<std::size_t>(n);
  };
  std::size_t doubled = clamp(file.capacity * std::uint64_t{2});
  std::uint64_t rest = file.source.remaining();
  std::uint64_t pending = file.source.pending().size();
  if (rest >= UINT64_MAX - count - pending - 1) return {doubled, 0};
  // Room for the rest of the input and the line end that may follow it.
  std::uint64_t bound = count + pending + rest + 1;
  std::size_t whole = clamp((bound + kLineStep - 1) / kLineStep * kLineStep);
  return whole > doubled ? std::pair{whole, doubled} : std::pair{doubled, std::size_t{0}};
}

// False when the gate refused every size; the buffer is then as it was.  A
// refusal of the larger size that a smaller one mends is no shortage.
bool file_buffer_increase(File& file, std::size_t count) {
  auto [first, second] = grown_capacities(file, count);
  std::size_t new_capacity = first;
  GateBlock grown;
  if (second == 0) {
    grown.reset(static_cast<char*>(memory_open(first)));
  } else if (void* block = memory_try_open(first)) {
    grown.reset(static_cast<char*>(block));
  } else {
    new_capacity = second;
    grown.reset(static_cast<char*>(memory_open(second)));
  }
  if (!grown) return false;
  if (count > 0) std::memcpy(grown.get(), file.buffer.get(), count);
  file.buffer = std::move(grown);  // the gate wipes the old block
  file.capacity = new_capacity;
  return true;
}

// Stores the NUL behind the line; the buffer always has room for it.
int end_line(File& file, std::size_t length, int result) {
  file.line_length = length;
  if (file.buffer) file.buffer.get()[length] = '\0';
  return result;
}

// Skips white space; false when the input ends first.
bool skip_white_space(BlockReader& in) {
  while (in.fill()) {
    std::string_view bytes = in.pending();
    std::size_t n = 0;
    while (n < bytes.size() && is_white_space(bytes[n])) ++n;
    in.consume(n);
    if (n < bytes.size()) return true;
  }
  return false;
}

// The length of the text before the first CR or LF, or the whole size.
std::size_t text_length(std::string_view bytes) {
  const void* lf = std::memchr(bytes.data(), '\n', bytes.size());
  std::size_t limit = lf ? static_cast<const char*>(lf) - bytes.data() : bytes.size();
  const void* cr = std::memchr(bytes.data(), '\r', limit);
  return cr ? static_cast<const char*>(cr) - bytes.data() : limit;
}

// A CR ends the line; the byte after it is looked at and left for the next
// read unless it is the LF of a CR LF.
int end_at_cr(File& file, std::size_t count) {
  BlockReader& in = file.source;
  in.consume(1);
  if (!in.fill()) return end_line(file, count, EOF);
  unsigned char next = static_cast<unsigned char>(in.pending()[0]);
  if (next == '\n') in.consume(1);
  return end_line(file, count, next);
}

// The line could not be held: what is stored of it is wiped, the rest of
// it up to its line end is read and dropped, and the line comes back
// without text, marked skipped.  Never a part of it as a line of its own.
int skip_line(File& file, std::size_t count) {
  memory_wipe(file.buffer.get(), count);
  file.skipped = true;
  BlockReader& in = file.source;
  while (in.fill()) {
    std::string_view bytes = in.pending();
    std::size_t length = text_length(bytes);
    in.consume(length);
    if (length == bytes.size()) continue;
    if (bytes[length] == '\r') return end_at_cr(file, 0);
    in.consume(1);
    return end_line(file, 0, '\n');
  }
  return end_line(file, 0, EOF);
}

}  // namespace

File::File(File&& other) noexcept
    : name(other.name),
      source(std::move(other.source)),
      buffer(std::move(other.buffer)),
      capacity(std::exchange(other.capacity, 0)),
      line_length(std::exchange(other.line_length, 0)),
      has_line(std::exchange(other.has_line, false)),
      skipped(std::exchange(other.skipped, false)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    name = other.name;
    source = std::move(other.source);
    buffer = std::move(other.buffer);
    capacity = std::exchange(other.capacity, 0);
    line_length = std::exchange(other.line_length, 0);
    has_line = std::exchange(other.has_line, false);
    skipped = std::exchange(other.skipped, false);
  }
  return *this;
}

File::~File() = default;

std::string_view File::line() const {
  if (!has_line || !buffer) return {};
  const char* text = buffer.get();
  const void* nul = std::memchr(text, '\0', line_length);
  std::size_t length = nul == nullptr ? line_length : static_cast<const char*>(nul) - text;
  return {text, length};
}

char* File::line_data() { return has_line && !skipped ? buffer.get() : nullptr; }

std::optional<File> file_open_read(const char* name, std::FILE* default_stream) {
  int fd = -1;
  if (name != nullptr) {
    do {
      fd = ::open(name, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
  }
  bool owned = fd >= 0;
  if (fd < 0 && default_stream != nullptr) fd = ::fileno(default_stream);
  if (fd < 0) return std::nullopt;
  File file = file_open_descriptor(fd, owned);
  file.name = name;
  return file;
}

File file_open_descriptor(int fd, bool owned, std::size_t block_size) {
  File file;
  file.source = BlockReader(fd, owned, block_size);
  return file;
}

std::uint64_t file_offset(const File& file) { return file.source.offset(); }

std::uint64_t file_size(const File& file) {
  std::uint64_t rest = file.source.remaining();
  return rest == UINT64_MAX ? 0 : file.source.offset() + file.source.pending().size() + rest;
}

bool file_seek(File& file, std::uint64_t offset) {
  if (!file.source.seek(offset)) return false;
  file_clear_buffer(file);
  return true;
}

int file_read_line(File& file) {
  file_clear_buffer(file);
  BlockReader& in = file.source;
  if (!skip_white_space(in)) return EOF;
  file.has_line = true;

  std::size_t count = 0;
  while (in.fill()) {
    std::string_view bytes = in.pending();
    std::size_t length = text_length(bytes);
    bool line_end = length < bytes.size();
    // Room is made before each byte is looked at, the line end included,
    // so a line that fills the buffer exactly still grows it.
    for (std::size_t at = 0; at < length || line_end;) {
      if (count == file.capacity && !file_buffer_increase(file, count)) {
        in.consume(at);
        return skip_line(file, count);
      }
      if (at == length) break;
      std::size_t take = std::min(length - at, file.capacity - count);
      std::memcpy(file.buffer.get() + count, bytes.data() + at, take);
      count += take;
      at += take;
    }
    in.consume(length);
    if (!line_end) continue;
    if (bytes[length] == '\r') return end_at_cr(file, count);
    in.consume(1);
    return end_line(file, count, '\n');
  }
  return end_line(file, count, EOF);
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

std::optional<Text> executable_directory(const char* argv0) {
  char target[4096];
  ssize_t length = ::readlink("/proc/self/exe", target, sizeof target);
  if (length > 0 && static_cast<std::size_t>(length) < sizeof target) {
    std::optional<Text> directory =
        get_path(std::string_view(target, static_cast<std::size_t>(length)));
    if (directory) return directory;
  }
  return get_path(argv0 != nullptr ? argv0 : "");
}

std::optional<File> file_open_input(const char* name, std::string_view not_opened) {
  std::optional<File> file;
  try {
    file = file_open_read(name, nullptr);
  } catch (const memory_exhausted&) {
    return std::nullopt;  // the gate has reported it
  }
  // A directory opens, but holds no lines: it is no file to read.
  struct stat info {};
  if (file && (::fstat(file->source.descriptor(), &info) != 0 || S_ISDIR(info.st_mode))) {
    file.reset();
  }
  if (!file) {
    show_error_text(not_opened);
    set_exit_code(kExitFile);
  }
  return file;
}

}  // namespace zv
