// The agent's runtime configuration: the port of its HTTP servlet.
#pragma once

#include <cstdint>

#include "cli/memory.h"

namespace zv {

/// "etc/.runtime.xml" below the directory part of `program_path` (used as
/// written; a path without '/' gives the bare relative path).
Text get_config_path(const char* program_path);

/// The port in the "port" attribute of the "http" element of the runtime
/// configuration beside the program, or -1 when there is none.  Silent.
std::int32_t read_config(const char* program_path);

}  // namespace zv
