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
///
/// The record keeps one line buffer for its whole life.  It grows when a
/// line needs more room and never shrinks; before each read the bytes of
/// the previous line are overwritten with zeros, and the gate wipes the
/// whole block when it is regrown or released.
struct File {
  const char* name = nullptr;  // borrowed; may be nullptr
  std::FILE* stream = nullptr;
  bool owns_stream = false;
  /// The line read last, NUL-terminated; wiped before it is reused/released.
  /// When not empty, its size is the capacity in characters plus one byte
  /// for the NUL.
  Vec<char> buffer;
  /// Characters of the current line stored in buffer (NUL bytes included).
  std::size_t line_length = 0;
  /// A line was read by the last call and has not been read past yet.
  bool has_line = false;

  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  /// The current line's text, up to its first NUL byte; empty when none.
  /// Valid until the next read or the destruction of the record.
  std::string_view line() const;
  /// The current line as a mutable NUL-terminated text, or nullptr when
  /// there is no line or memory ran out before its first character.
  char* line_data();
};

/// Opens `name` with fopen `mode`; falls back to `default_stream` when no
/// name is given or it cannot be opened.  nullopt when there is no stream.
/// Reports nothing.  Throws memory_exhausted only if the gate refuses.
std::optional<File> file_open(const char* name, const char* mode, std::FILE* default_stream);
std::optional<File> file_open_write(const char* name, std::FILE* default_stream);
std::optional<File> file_open_read(const char* name, std::FILE* default_stream);

/// Opens a file named on the command line for reading.  When it cannot be
/// opened, writes the error line "ERROR  <not_opened>", records exit code 40
/// and gives nullopt.
std::optional<File> file_open_input(const char* name, std::string_view not_opened);

/// Reads the next line: blank lines and leading white space are skipped;
/// LF, CR LF and a lone CR end a line.  Returns the last character taken
/// from the stream (10 after LF or CR LF, the character after a lone CR, or
/// -1 at the end of the input).  A last line without line end is kept.
///
/// When the buffer cannot grow (the gate has reported it), the line is cut
/// where it stands and the character that could not be stored is returned;
/// the rest of the line comes back as the next line.  Read errors count as
/// the end of the input.  Cost is linear in the length of the line.
int file_read_line(File& file);

/// Reads the next line; true when one is available.  A line without text
/// (memory ran out before its first character) counts as available.
bool read_file(File& file);

/// The directory part of `path` up to and including its last '/', or
/// nullopt when the path has none.  The caller owns the result.  Throws
/// memory_exhausted when the copy cannot be made (the gate has reported it).
std::optional<Text> get_path(std::string_view path);

}  // namespace zv
