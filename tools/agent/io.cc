#include "io.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace zvagent {
namespace {

// Self-pipe: the handler writes one byte, and every poll of the agent watches
// the read end, so a signal between a check and a poll is never lost.
int stop_pipe[2] = {-1, -1};
volatile sig_atomic_t stop_flag = 0;

extern "C" void on_stop_signal(int) {
  int saved = errno;
  stop_flag = 1;
  if (stop_pipe[1] >= 0) {
    char byte = 1;
    // Nothing useful can be done if the pipe is full: it is readable already.
    [[maybe_unused]] ssize_t n = write(stop_pipe[1], &byte, 1);
  }
  errno = saved;
}

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > 1000000 ? 1000000 : static_cast<int>(left);
}

}  // namespace

void Fd::reset(int fd) {
  if (fd_ >= 0) close(fd_);  // close is not retried: the descriptor is gone either way
  fd_ = fd;
}

bool stop_install() {
  if (pipe(stop_pipe) != 0) return false;
  for (int fd : stop_pipe) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    set_nonblocking(fd);
  }
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

bool stop_requested() { return stop_flag != 0; }

Wait wait_fd(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    if (stop_requested()) return Wait::stop;
    pollfd fds[2] = {{stop_pipe[0], POLLIN, 0}, {fd, events, 0}};
    int count = fd >= 0 ? 2 : 1;
    int n = poll(fds, count, remaining_ms(deadline));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Wait::error;
    }
    if (stop_requested() || (fds[0].revents & POLLIN)) return Wait::stop;
    if (n == 0) {
      if (Clock::now() >= deadline) return Wait::timeout;
      continue;
    }
    // Errors and hang-ups count as ready: the following read or write reports them.
    if (count == 2 && fds[1].revents != 0) return Wait::ready;
  }
}

bool wait_until(Clock::time_point deadline) { return wait_fd(-1, 0, deadline) != Wait::stop; }

bool set_nonblocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool send_all(int fd, std::string_view data, std::chrono::milliseconds idle) {
  while (!data.empty()) {
    ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (wait_fd(fd, POLLOUT, Clock::now() + idle) != Wait::ready) return false;
      continue;
    }
    return false;
  }
  return true;
}

// Written under a temporary name and renamed into place, so that a reader
// polling for the file (a test counting requests) never finds it half written.
bool write_file(const std::string& path, std::string_view data) {
  const std::string partial = path + ".partial";
  {
    Fd file(open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (file.get() < 0 || !write_all(file.get(), data)) {
      unlink(partial.c_str());
      return false;
    }
  }
  return rename(partial.c_str(), path.c_str()) == 0;
}

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace zvagent
