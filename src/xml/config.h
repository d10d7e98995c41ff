// The agent's runtime configuration: the port of its HTTP servlet.
#pragma once

#include <cstdint>

#include "base/memory.h"

namespace zv {

/// "etc/.runtime.xml" below the directory of the running program file
/// (files/file.h: executable_directory, links resolved; `program_path`,
/// argv[0], only where the system cannot say).  Never the working
/// directory, however the program was started.  Throws memory_exhausted.
Text get_config_path(const char* program_path);

/// The port in the "port" attribute of the "http" element of the runtime
/// configuration beside the program (parse_int of its value, so "0" gives 0
/// and a value without a number -1), or -1 when there is none.  A missing
/// file reports nothing.  One that fails the rule of files/safe_file.h (root
/// may own it), or is larger than 64 KiB, is not used: an error line says
/// so, and -1.  A memory shortage has been reported by the gate and the
/// tags read before it are still searched.  Never throws.
std::int32_t read_config(const char* program_path) noexcept;

/// As read_config, for the configuration file at `path`.
std::int32_t read_config_file(const char* path) noexcept;

}  // namespace zv
