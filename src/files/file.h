// The file record: buffered line reading for every input file, and the
// output stream of a run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

#include "base/memory.h"
#include "files/block_reader.h"

namespace zv {

/// A record for reading lines from a descriptor.  Closing (destruction)
/// closes what was opened here, never a default stream or descriptor the
/// caller lent.
///
/// Reading goes through the record's own block buffer (block_reader.h),
/// never through the C library's stream buffers.  The record keeps one line
/// buffer for its whole life.  It grows when a line needs more room and
/// never shrinks; before each read the bytes of the previous line are
/// overwritten with zeros, and the gate wipes the whole block when it is
/// regrown or released.
struct File {
  const char* name = nullptr;  // borrowed; may be nullptr
  /// The input.
  BlockReader source;
  /// The line read last, NUL-terminated; wiped before it is reused/released.
  /// When present it has room for `capacity` characters plus the NUL.
  GateBlock buffer;
  std::size_t capacity = 0;
  /// Characters of the current line stored in buffer (NUL bytes included).
  std::size_t line_length = 0;
  /// A line was read by the last call and has not been read past yet.
  bool has_line = false;
  /// The last line could not be held (the buffer could not grow): it was
  /// read to its end and dropped, and has no text.
  bool skipped = false;

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
  /// there is no line or it was skipped.
  char* line_data();
};

/// Opens `name` for reading (O_RDONLY, close-on-exec), falling back to the
/// descriptor of `default_stream`, which stays the caller's.  nullopt when
/// there is nothing to read.  Reports nothing.  Throws memory_exhausted
/// only if the gate refuses (a descriptor opened here is closed first).
std::optional<File> file_open_read(const char* name, std::FILE* default_stream);

/// A record reading `fd` from its current offset; the record closes it when
/// `owned`.  `block_size` bounds each read(2) (tests use small ones).
/// Throws memory_exhausted when the gate refuses (an owned `fd` is closed).
File file_open_descriptor(int fd, bool owned, std::size_t block_size = BlockReader::kBlockSize);

/// The offset in the file of the first byte that no read has consumed: the
/// start of the next line (or of the white space before it).  Reading a
/// fresh record of the same file from this offset yields the lines that
/// this record has not yet returned.
std::uint64_t file_offset(const File& file);

/// The size of a regular file being read (as it was when it was opened),
/// or 0 for others.
std::uint64_t file_size(const File& file);

/// Moves a record reading a regular file to `offset` and forgets the
/// current line.  False (nothing changed) for other files or a bad offset.
bool file_seek(File& file, std::uint64_t offset);

/// Opens a file named on the command line for reading.  When it cannot be
/// opened, or is a directory, writes the error line "ERROR  <not_opened>", records exit code 40
/// and gives nullopt.  When its buffer cannot be had, gives nullopt without
/// that line (the gate has reported the shortage, exit code 30).
std::optional<File> file_open_input(const char* name, std::string_view not_opened);

/// Reads the next line: blank lines and leading white space are skipped;
/// LF, CR LF and a lone CR end a line.  Returns the last character taken
/// from the stream (10 after LF or CR LF, the character after a lone CR, or
/// -1 at the end of the input).  A last line without line end is kept.
///
/// The buffer grows by doubling (or at once to what a regular file has
/// left, when that can be had).  When it cannot grow (the gate has reported
/// it, exit code 30), the whole line is read to its end and dropped:
/// `skipped` is set and the line has no text; no part of it ever comes back
/// as a line.  Read errors count as the end of the input, and a regular
/// file ends at the size it had when it was opened.  Cost is linear in the
/// length of the line.
int file_read_line(File& file);

/// Reads the next line (one line, not the file); true when one is available.  A line without text
/// (memory ran out before its first character) counts as available.
bool read_file(File& file);

/// The directory part of `path` (a directory, despite the name) up to and including its last '/',
/// or nullopt when the path has none.  The caller owns the result.  Throws memory_exhausted when
/// the copy cannot be made (the gate has reported it).
std::optional<Text> get_path(std::string_view path);

/// The directory of the running program file, symbolic links resolved,
/// with its last '/': where the program finds its own files, however it was
/// started (a full or relative path, PATH, a link).  Where the system cannot
/// say, the directory part of `argv0`, or nullopt.  Throws memory_exhausted.
std::optional<Text> executable_directory(const char* argv0);

}  // namespace zv
