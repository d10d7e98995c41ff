#include "cli/driver.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "base/error.h"
#include "base/memory.h"
#include "base/stop.h"
#include "cli/arguments.h"
#include "cli/run.h"
#include "operations/session.h"
#include "xml/xml_document.h"

namespace zv {

namespace {

// A standard descriptor that was closed when the program started would be
// handed out by the next open: error documents would land in a --post-file
// or a log.  Each closed one is opened on /dev/null instead.
void open_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int opened = ::open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) ::close(opened);  // the lower ones are open
  }
}

void note_stop(int signal) { stop_request(signal); }

// SIGTERM, SIGINT and SIGHUP end a run cleanly: the work in hand stops at
// its next wait, what was not delivered is kept, and the run then ends by
// the same signal, as a program killed by it would.  No SA_RESTART: a wait
// must see the interruption.
void catch_stop_signals() {
  struct sigaction action {};
  action.sa_handler = note_stop;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    // One ignored at start (nohup, a background job) stays ignored.
    struct sigaction before {};
    if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

void end_by_stop_signal() {
  int signal = stop_signal();
  if (signal == 0) return;
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

int main_program(int argc, char** argv) {
  open_closed_standard_descriptors();
  // A reader that stops reading our output (a closed pipe) must not end the
  // run halfway through a submit file or a recovery: the lines after it
  // would be neither sent nor logged.  A failed write is reported instead.
  ::signal(SIGPIPE, SIG_IGN);
  // A file-size limit must not kill the run in the middle of a log record:
  // the write fails (EFBIG) and the record goes to the next place.
  ::signal(SIGXFSZ, SIG_IGN);
  catch_stop_signals();
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
  end_by_stop_signal();
  return get_exit_code();
}

}  // namespace zv
