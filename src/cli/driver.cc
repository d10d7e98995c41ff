#include "cli/driver.h"

#include <signal.h>

#include <optional>

#include "base/error.h"
#include "base/memory.h"
#include "cli/arguments.h"
#include "cli/run.h"
#include "operations/session.h"
#include "xml/xml_document.h"

namespace zv {

int main_program(int argc, char** argv) {
  // A reader that stops reading our output (a closed pipe) must not end the
  // run halfway through a submit file or a recovery: the lines after it
  // would be neither sent nor logged.  A failed write is ignored instead.
  ::signal(SIGPIPE, SIG_IGN);
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
