// Reading a file descriptor in blocks through a buffer of the program's own,
// so that no copy of the bytes lingers in buffers the program cannot wipe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "base/memory.h"

namespace zv {

/// Releases a block of the memory gate (which wipes it first).
struct GateRelease {
  void operator()(char* block) const noexcept { memory_close(block); }
};

/// An owned block of the gate with room for its size + 1 bytes.
using GateBlock = std::unique_ptr<char, GateRelease>;

/// A gate block of `size` (+1) bytes, not cleared.  Throws memory_exhausted
/// when the gate refuses (the gate has reported it).
GateBlock gate_block(std::size_t size);

/// One descriptor read in blocks.  The bytes read and not yet taken are the
/// pending window; the bytes taken are wiped at once, so the block never
/// keeps what the caller has already consumed.
///
/// A regular file is read only up to the size it had when the reader was
/// made: a run that appends to the file it reads (its own recovery log)
/// still comes to an end.  Other files (pipes, terminals) are read until
/// read(2) reports their end.  A read error counts as the end.
class BlockReader {
 public:
  static constexpr std::size_t kBlockSize = 65536;

  /// A reader of nothing: at its end at once.
  BlockReader() = default;
  /// Reads `fd` from its current offset; closes it on destruction when
  /// `owned`.  `block_size` bounds each read(2).  Throws memory_exhausted
  /// when the block cannot be had (an owned `fd` is closed first).
  BlockReader(int fd, bool owned, std::size_t block_size = kBlockSize);
  BlockReader(BlockReader&& other) noexcept;
  BlockReader& operator=(BlockReader&& other) noexcept;
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;
  ~BlockReader();

  /// The descriptor, or -1 for a reader of nothing.
  int descriptor() const { return fd_; }
  /// Bytes read and not consumed; valid until the next consume/fill/seek.
  std::string_view pending() const { return {block_.get() + begin_, end_ - begin_}; }
  /// Takes the first `n` pending bytes (n <= pending().size()) and wipes them.
  void consume(std::size_t n);
  /// When nothing is pending, reads the next block (retrying on EINTR).
  /// True when bytes are pending afterwards; false at the end of the input.
  bool fill();
  /// The offset in the file of the first byte not consumed.
  std::uint64_t offset() const { return position_ - (end_ - begin_); }
  /// An upper bound of the bytes still to come after the pending ones:
  /// exact for a regular file, UINT64_MAX for others.
  std::uint64_t remaining() const;
  /// Drops what is pending and goes on reading at `offset`.  Only a regular
  /// file can be moved; false (and nothing changed) otherwise.
  bool seek(std::uint64_t offset);

 private:
  void close() noexcept;

  int fd_ = -1;
  bool owned_ = false;
  bool ended_ = false;
  // Regular files end at the size they had when the reader was made.
  bool limited_ = false;
  std::uint64_t limit_ = 0;
  // The offset in the file just behind the last byte read.
  std::uint64_t position_ = 0;
  GateBlock block_;
  std::size_t block_size_ = 0;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

}  // namespace zv
