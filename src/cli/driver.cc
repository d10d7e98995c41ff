#include "cli/driver.h"

#include <optional>

#include "cli/arguments.h"
#include "cli/error.h"
#include "cli/memory.h"
#include "cli/run.h"
#include "cli/session.h"
#include "xml/xml_document.h"

namespace zv {

int main_program(int argc, char** argv) {
  try {
    // The parser lives for the whole run; it holds one reply at a time.
    Parser xml_parser;
    if (std::optional<Arguments> arguments = arguments_open(argc, argv)) {
      Session session{*arguments, xml_parser};
      run(session);
    }
  } catch (const memory_exhausted&) {
    // The gate has already written the out-of-memory document and recorded
    // the exit code; unwinding here is the tear-down.
  }
  return get_exit_code();
}

}  // namespace zv
