// A self-checking entry for feeding arbitrary bytes to the line reader,
// shaped for a fuzzing driver: the reader must cut the bytes into the lines
// that a plain splitter written from the reader's contract finds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

/// Reads `data` through the line reader twice, once with file_read_line and
/// once with read_file, and aborts the process when a line, a result or the
/// end of the input differs from the reference splitter's, or when a block
/// of the gate outlives the file record.  Returns 0.  The bytes are only
/// read.
int file_fuzz_one(const std::uint8_t* data, std::size_t size);

}  // namespace zv
