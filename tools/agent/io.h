// Descriptors, deadlines and the stop request shared by the agent's modules.
//
// Every wait of the agent is bounded by a deadline and cut short by SIGTERM or
// SIGINT, so that a test can always stop it and it never hangs on a peer.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <utility>

namespace zvagent {

using Clock = std::chrono::steady_clock;

/// Owns one file descriptor and closes it exactly once.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    reset(std::exchange(other.fd_, -1));
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }

  int get() const { return fd_; }
  /// Closes the descriptor held (if any) and takes `fd` instead.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

/// Installs the SIGTERM and SIGINT handlers (which raise the stop request)
/// and ignores SIGPIPE.  Returns false when the signal pipe cannot be made.
bool stop_install();

/// True once SIGTERM or SIGINT has arrived.  The request is never withdrawn.
bool stop_requested();

/// What a bounded wait ended with.
enum class Wait { ready, timeout, stop, error };

/// Waits until `fd` is ready for `events` (POLLIN or POLLOUT), the deadline
/// passes or a stop is requested.  A stop wins over readiness.
Wait wait_fd(int fd, short events, Clock::time_point deadline);

/// Waits until the deadline, or until a stop is requested; returns false when
/// stopped.
bool wait_until(Clock::time_point deadline);

/// Sets O_NONBLOCK on `fd`; false on failure.
bool set_nonblocking(int fd);

/// Writes all of `data` to the non-blocking socket `fd`, waiting at most
/// `idle` for each step of progress.  False when the peer is gone, the wait
/// runs out or a stop is requested.
bool send_all(int fd, std::string_view data, std::chrono::milliseconds idle);

/// Writes all of `data` to the blocking descriptor `fd` (a file), retrying
/// short writes.  False on any failure (part may then be written).
bool write_all(int fd, std::string_view data);

/// Creates or truncates the file `path` and writes `data` to it.  False on
/// any failure (the file may then be partly written).
bool write_file(const std::string& path, std::string_view data);

}  // namespace zvagent
