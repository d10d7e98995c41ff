#include "cli/driver.h"

#include <optional>

#include "cli/arguments.h"
#include "cli/error.h"
#include "cli/memory.h"

namespace zv {

namespace {

// run: wired by the transport work.  It will read the port, build the
// endpoint, open the output and call the one operation the record names.
void run(Arguments&) {}

}  // namespace

int main_program(int argc, char** argv) {
  try {
    if (std::optional<Arguments> arguments = arguments_open(argc, argv)) run(*arguments);
  } catch (const memory_exhausted&) {
    // The gate has already written the out-of-memory document and recorded
    // the exit code; unwinding here is the tear-down.
  }
  return get_exit_code();
}

}  // namespace zv
