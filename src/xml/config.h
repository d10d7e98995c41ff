// The agent's runtime configuration: the port of its HTTP servlet.
#pragma once

#include <cstdint>

#include "base/memory.h"

namespace zv {

/// "etc/.runtime.xml" below the directory part of `program_path` (used as
/// written; a path without '/', or nullptr, gives the bare relative path).
/// Throws memory_exhausted.
Text get_config_path(const char* program_path);

/// The port in the "port" attribute of the "http" element of the runtime
/// configuration beside the program (parse_int of its value, so "0" gives 0
/// and a value without a number -1), or -1 when there is none.  Silent: a
/// missing file reports nothing; a memory shortage has been reported by the
/// gate and the tags read before it are still searched.  Never throws.
std::int32_t read_config(const char* program_path) noexcept;

}  // namespace zv
