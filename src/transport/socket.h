// One TCP connection to the agent.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "base/descriptor.h"
#include "transport/time_limits.h"
#include "transport/tls.h"

namespace zv {

/// Failure codes of name resolution, numbered like the resolver's h_errno.
/// They share the communication error table with errno values, so a code
/// is looked up by its number alone.
enum ResolverCode : int {
  kHostNotFound = 1,
  kTryAgain = 2,
  kNoRecovery = 3,
  kNoAddress = 4,
};

/// One address to connect to (IPv6 or IPv4), its port not yet set.
struct PeerAddress {
  sockaddr_storage address{};
  socklen_t length = 0;
};

/// The stream addresses a name resolves to, in the resolver's order.
struct PeerAddresses {
  static constexpr std::size_t kMax = 8;
  PeerAddress items[kMax];
  std::size_t count = 0;
};

/// Host-name resolution, behind an interface so that tests can make it fail
/// without asking a name server.
struct Resolver {
  virtual ~Resolver() = default;
  /// Fills `found` with the addresses of `host` (IPv6 and IPv4; at least
  /// one) and returns 0, or returns a resolver code (1 host not found, 2
  /// try again, 3 no recovery, 4 no address).
  virtual int resolve(const char* host, PeerAddresses& found) = 0;
};

/// The resolver in use (the system's, unless a test set another).
Resolver& socket_resolver();
/// Test seam: use `resolver` (nullptr restores the system's).
void socket_set_resolver(Resolver* resolver);

/// A connected stream socket; closed when destroyed.  Its descriptor is
/// non-blocking: reads and writes wait in poll, for at most `io_ms` without
/// progress (0: for ever), and never past the exchange's deadline.
class Connection {
 public:
  /// `exchange_ms` (0: none) bounds the whole life of the connection.
  explicit Connection(int descriptor, int io_ms = 0, int exchange_ms = 0)
      : descriptor_(descriptor),
        io_ms_(io_ms),
        deadline_(exchange_ms > 0
                      ? std::chrono::steady_clock::now() + std::chrono::milliseconds(exchange_ms)
                      : std::chrono::steady_clock::time_point::max()) {}
  int descriptor() const { return descriptor_.get(); }
  /// The limit of the next wait: the I/O limit (0: none), cut to what is
  /// left of the exchange's deadline; -1 once the deadline has passed.
  int wait_ms() const;
  /// Set by a complete socket_write; the next socket_read waits for the
  /// answer before it receives.
  void mark_request_sent() { request_sent_ = true; }
  /// Whether a request went out since the last call; clears the mark.
  bool take_request_sent() { return std::exchange(request_sent_, false); }
  /// The TLS layer over the socket (nullptr: plain).
  TlsStream* tls() const { return tls_.get(); }
  void set_tls(TlsHandle tls) { tls_ = std::move(tls); }

 private:
  Descriptor descriptor_;
  int io_ms_ = 0;
  std::chrono::steady_clock::time_point deadline_;
  bool request_sent_ = false;
  TlsHandle tls_;  // declared last: it goes before the socket closes
};

/// Opens a connection to host:port (a port above 65535 keeps its low 16
/// bits), trying every address the name resolves to, in order, the one that
/// took the run's last connection to this name first.  A name that does not
/// resolve falls back to 127.0.0.1 only with `loopback_fallback` (the
/// default agent host); otherwise the resolver's failure is the result, so
/// that a run never delivers to a host that was not meant.  The attempts
/// share one limit: when `limits.connect_ms` has passed without a
/// connection, the open fails as ETIMEDOUT.  On failure the result is
/// nullopt and `failure` says why, in the words of the communication error
/// table (a text of static storage) or of tls.h; nothing is reported here.
/// With `tls`, the connection makes its TLS handshake for `host` (tls.h)
/// within the connection's time limits, and every read and write of it
/// goes through TLS; `refused_tls`, when given, is set when the agent was
/// reached but TLS failed for a reason other than time (so that the agent
/// is not taken to be absent).
std::optional<Connection> socket_open(const char* host, std::int32_t port, bool loopback_fallback,
                                      const TimeLimits& limits, std::string_view& failure,
                                      bool tls = false, bool* refused_tls = nullptr);

/// The failure of an exchange that a stop request ended.
inline constexpr std::string_view kStoppedBeforeReply =
    "The run was told to stop before the agent replied.";

/// What socket_write returns when the peer sent something (or closed) while
/// the request could not be written on: an answer may be waiting.
inline constexpr int kSocketPeerSpoke = -1;

/// Every wait of a connection (connect, write, read) ends with ECANCELED once
/// the run was told to stop (base/stop.h).
///
/// Writes all of `bytes`, however many sends it takes, retrying on EINTR and
/// never raising SIGPIPE.  Returns 0 when everything was written, else the
/// errno of the failure (ETIMEDOUT when the agent took nothing and said
/// nothing for the connection's time limit), or kSocketPeerSpoke.
int socket_write(Connection& connection, std::string_view bytes);

/// One receive, waiting for data at most the connection's time limit;
/// retried on EINTR.  Returns the byte count, 0 when the peer has closed,
/// or -1 with errno set (ETIMEDOUT when nothing arrived in time).
ssize_t socket_read(Connection& connection, char* buffer, std::size_t length);

/// The communication error table's text for `code` (a resolver code or an
/// errno of connect or send), of static storage.
std::string_view comm_error_text(int code);

}  // namespace zv
