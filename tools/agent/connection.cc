#include "connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace zvagent {
namespace {

// Reads and drops what the peer sends until it closes, fails, or `deadline`.
void drain_until(Fd& connection, Clock::time_point deadline) {
  char scratch[4096];
  while (wait_fd(connection.get(), POLLIN, deadline) == Wait::ready) {
    ssize_t n = recv(connection.get(), scratch, sizeof scratch, 0);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) break;
  }
}

}  // namespace

void close_orderly(Fd& connection, std::chrono::milliseconds drain) {
  shutdown(connection.get(), SHUT_WR);
  drain_until(connection, Clock::now() + drain);
  connection.reset();
}

void close_reset(Fd& connection) {
  linger abort{1, 0};
  setsockopt(connection.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  connection.reset();
}

void hold_until_closed(Fd& connection, bool reading, std::chrono::milliseconds limit) {
  auto deadline = Clock::now() + limit;
  if (reading) {
    drain_until(connection, deadline);
  } else {
#ifdef POLLRDHUP
    // Only the peer's close (or an error) wakes this wait; the request
    // bytes that arrive meanwhile stay unread.
    wait_fd(connection.get(), POLLRDHUP, deadline);
#else
    wait_until(deadline);
#endif
  }
  connection.reset();
}

}  // namespace zvagent
