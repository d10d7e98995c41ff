// A self-checking entry for feeding arbitrary bytes to the line reader,
// shaped for a fuzzing driver: the reader must cut the bytes into the lines
// that a plain splitter written from the reader's contract finds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

/// Reads `data` through the line reader twice, once with file_read_line from
/// a regular file (in blocks of a few bytes when the input is small) and
/// once with read_file from a pipe, and aborts the process when a line, a
/// result, the offset after a line or the end of the input differs from the
/// reference splitter's, or when a block of the gate outlives the record.  Returns 0.  The bytes are only
/// read.
int file_fuzz_one(const std::uint8_t* data, std::size_t size);

}  // namespace zv
