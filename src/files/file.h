// The file record: buffered line reading for every input file, and the
// output stream of a run.
#pragma once

#include <cstdio>
#include <optional>
#include <string_view>

#include "cli/memory.h"

namespace zv {

/// An open stream with a line buffer.  Closing (destruction) closes the
/// stream unless it is standard output or a default stream not opened here.
struct File {
  const char* name = nullptr;  // borrowed; may be nullptr
  std::FILE* stream = nullptr;
  bool owns_stream = false;
  /// The line read last, NUL-terminated; wiped before it is reused/released.
  Vec<char> buffer;
  std::size_t line_length = 0;
  bool has_line = false;

  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  /// The current line's text, up to its first NUL byte; empty when none.
  std::string_view line() const;
  /// The current line as a mutable NUL-terminated text, or nullptr.
  char* line_data();
};

/// Opens `name` with fopen `mode`; falls back to `default_stream` when no
/// name is given or it cannot be opened.  nullopt when there is no stream.
/// Reports nothing.  Throws memory_exhausted only if the gate refuses.
std::optional<File> file_open(const char* name, const char* mode, std::FILE* default_stream);
std::optional<File> file_open_write(const char* name, std::FILE* default_stream);
std::optional<File> file_open_read(const char* name, std::FILE* default_stream);

/// Reads the next line: blank lines and leading white space are skipped;
/// LF, CR LF and a lone CR end a line.  Returns the last character taken
/// from the stream (10 after LF or CR LF, the character after a lone CR, or
/// -1 at the end of the input).  A last line without line end is kept.
int file_read_line(File& file);

/// Reads the next line; true when one is available.
bool read_file(File& file);

/// The directory part of `path` up to and including its last '/', or
/// nullopt when the path has none.
std::optional<Text> get_path(std::string_view path);

}  // namespace zv
