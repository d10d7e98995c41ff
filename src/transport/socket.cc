#include "transport/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <utility>

#include "base/error.h"
#include "base/stop.h"

namespace zv {

namespace {

struct AddrInfoRelease {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

int resolver_code(int eai_error) {
  switch (eai_error) {
    case EAI_NONAME: return kHostNotFound;
    case EAI_AGAIN: return kTryAgain;
#ifdef EAI_NODATA
    case EAI_NODATA: return kNoAddress;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return kNoAddress;
#endif
    default:
      // EAI_FAIL, and the failures that no retry will mend (memory, system).
      return kNoRecovery;
  }
}

// The stream addresses of `host`, IPv6 and IPv4, in the order the resolver
// gives them; 0 or a resolver code.
int lookup(const char* host, PeerAddresses& found) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (int status = getaddrinfo(host, nullptr, &hints, &list); status != 0) {
    return resolver_code(status);
  }
  std::unique_ptr<addrinfo, AddrInfoRelease> owner(list);
  found.count = 0;
  for (const addrinfo* entry = list; entry != nullptr && found.count < PeerAddresses::kMax;
       entry = entry->ai_next) {
    bool usable = (entry->ai_family == AF_INET || entry->ai_family == AF_INET6) &&
                  entry->ai_addr != nullptr && entry->ai_addrlen <= sizeof(sockaddr_storage);
    if (!usable) continue;
    PeerAddress& peer = found.items[found.count++];
    std::memcpy(&peer.address, entry->ai_addr, entry->ai_addrlen);
    peer.length = entry->ai_addrlen;
  }
  return found.count > 0 ? 0 : kNoAddress;
}

class SystemResolver final : public Resolver {
 public:
  // A run talks to one endpoint, so the answer for the last name found is
  // kept for the run: every later request of a submit file or a recovery
  // is spared the look-up's reads of the system's files.  A failed look-up
  // is not kept.
  int resolve(const char* host, PeerAddresses& found) override {
    std::size_t length = std::strlen(host);
    if (known_length_ > 0 && length == known_length_ &&
        std::memcmp(host, known_host_, length) == 0) {
      found = known_;
      return 0;
    }
    if (int code = lookup(host, found); code != 0) return code;
    if (length > 0 && length < sizeof known_host_) {
      std::memcpy(known_host_, host, length);
      known_length_ = length;
      known_ = found;
    }
    return 0;
  }

 private:
  char known_host_[256] = {};
  std::size_t known_length_ = 0;
  PeerAddresses known_;
};

SystemResolver system_resolver;
Resolver* current_resolver = &system_resolver;

// The address that took the last connection, and its name: the next open of
// the same name tries it first, so that a name with an address nobody
// listens on (localhost's ::1 before an agent on 127.0.0.1) costs one
// refused connect per run, not one per request.
struct WorkingPeer {
  char host[256] = {};
  std::size_t length = 0;
  PeerAddress peer;

  bool is_for(const char* name) const {
    std::size_t n = std::strlen(name);
    return length > 0 && n == length && std::memcmp(name, host, n) == 0;
  }
  void remember(const char* name, const PeerAddress& address) {
    std::size_t n = std::strlen(name);
    if (n == 0 || n >= sizeof host) return;
    std::memcpy(host, name, n);
    length = n;
    peer = address;
  }
};

WorkingPeer working_peer;

bool same_address(const PeerAddress& a, const PeerAddress& b) {
  return a.length == b.length && std::memcmp(&a.address, &b.address, a.length) == 0;
}

// Waits until `descriptor` is ready for one of `events`, at most `limit_ms`
// in all (0: for ever), however often a signal interrupts the wait; `ready`
// receives what poll reported.  Returns 0 when ready (or in error: the next
// call says which), ETIMEDOUT, or the errno of a failed poll.
int wait_events(int descriptor, short events, int limit_ms, short& ready) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
  pollfd watch{descriptor, events, 0};
  for (;;) {
    // A run told to stop waits no more: the exchange ends undelivered.
    if (stop_requested()) return ECANCELED;
    int wait_ms = -1;
    if (limit_ms > 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return ETIMEDOUT;
      wait_ms = static_cast<int>(left);
    }
    int count = poll(&watch, 1, wait_ms);
    if (count > 0) {
      ready = watch.revents;
      return 0;
    }
    if (count == 0) return ETIMEDOUT;
    if (errno != EINTR) return errno;
  }
}

int wait_ready(int descriptor, short events, int limit_ms) {
  short ready = 0;
  return wait_events(descriptor, events, limit_ms, ready);
}

// A wait of the connection, within its limits.
int wait_connection(const Connection& connection, short events, short& ready) {
  int limit = connection.wait_ms();
  if (limit < 0) return ETIMEDOUT;
  return wait_events(connection.descriptor(), events, limit, ready);
}

// Returns 0 once connected, else the errno of the failure.  The descriptor
// is non-blocking, so the connect goes on in the background while the
// limit runs.
int connect_peer(int descriptor, const PeerAddress& peer, int limit_ms) {
  if (connect(descriptor, reinterpret_cast<const sockaddr*>(&peer.address), peer.length) == 0) {
    return 0;
  }
  if (errno != EINPROGRESS && errno != EINTR) return errno;
  if (int error = wait_ready(descriptor, POLLOUT, limit_ms); error != 0) return error;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &length) < 0) return errno;
  return error;
}

// A socket that cannot be made is not a fault of the connection: it gets
// the communication failure's standard words.
constexpr std::string_view kNoSocket = "Unable to access message queues.";
constexpr std::string_view kHandshakeTimeout = "Timeout during the TLS handshake with the agent.";

struct CommErrorRow {
  int code;
  std::string_view text;
};

// The resolver rows come first: their numbers coincide with small errno
// values, and the first matching row wins.
constexpr CommErrorRow kCommErrors[] = {
    {kHostNotFound, "Host not found."},
    {kTryAgain, "A temporary server error ocurred.  Try later."},
    {kNoRecovery, "A non-recoverable name server error occurred."},
    {kNoAddress, "No address found."},
    {EBADF, "The file descriptor is invalid."},
    {EAGAIN, "No more free local ports.  Try again later."},
    {EFAULT, "The socket structure address is invalid."},
    {ENETUNREACH, "The network is unreachable."},
    {ETIMEDOUT, "Timeout while attemping to connect."},
    {ECONNREFUSED, "No server is listening at the remote address."},
};

}  // namespace

Resolver& socket_resolver() { return *current_resolver; }

int Connection::wait_ms() const {
  if (deadline_ == std::chrono::steady_clock::time_point::max()) return io_ms_;
  auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now())
          .count();
  if (left <= 0) return -1;
  return io_ms_ == 0 || left < io_ms_ ? static_cast<int>(left) : io_ms_;
}

void socket_set_resolver(Resolver* resolver) {
  current_resolver = resolver != nullptr ? resolver : &system_resolver;
}

namespace {

void set_port(PeerAddress& peer, std::int32_t port) {
  auto network_port = htons(static_cast<std::uint16_t>(port));
  if (peer.address.ss_family == AF_INET6) {
    reinterpret_cast<sockaddr_in6&>(peer.address).sin6_port = network_port;
  } else {
    reinterpret_cast<sockaddr_in&>(peer.address).sin_port = network_port;
  }
}

PeerAddresses loopback_address() {
  PeerAddresses found;
  auto& in4 = reinterpret_cast<sockaddr_in&>(found.items[0].address);
  in4.sin_family = AF_INET;
  in4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  found.items[0].length = sizeof in4;
  found.count = 1;
  return found;
}

// The milliseconds left until `deadline`, at least 1; 0 when there is no
// limit.  -1 once it has passed.
int left_ms(std::chrono::steady_clock::time_point deadline, int limit_ms) {
  if (limit_ms == 0) return 0;
  auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() <= 0 ? -1 : static_cast<int>(left.count());
}

}  // namespace

namespace {

TlsWait connection_wait(const Connection& connection) {
  return [&connection](short events, short& ready) {
    return wait_connection(connection, events, ready);
  };
}

// The TLS handshake on a new connection; false (and `failure`) when it fails.
bool start_tls(Connection& connection, const char* host, std::int32_t port,
               std::string_view& failure, bool* refused_tls) {
  // TLS sends a flight as several records, each its own write: the request
  // right behind the handshake's last record would otherwise wait for the
  // peer's delayed acknowledgement of it (about 40 ms a connection).
  int on = 1;
  setsockopt(connection.descriptor(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  int error = 0;
  TlsHandle tls = tls_connect(connection.descriptor(), host, port & 0xffff,
                              connection_wait(connection), error, failure);
  if (!tls) {
    if (error == ECANCELED) failure = kStoppedBeforeReply;
    if (error == ETIMEDOUT) failure = kHandshakeTimeout;
    if (refused_tls != nullptr) *refused_tls = error == 0;
    return false;
  }
  connection.set_tls(std::move(tls));
  return true;
}

}  // namespace

std::optional<Connection> socket_open(const char* host, std::int32_t port, bool loopback_fallback,
                                      const TimeLimits& limits, std::string_view& failure, bool tls,
                                      bool* refused_tls) {
  PeerAddresses peers;
  if (int code = socket_resolver().resolve(host, peers); code != 0) {
    if (!loopback_fallback) {
      failure = comm_error_text(code);
      return std::nullopt;
    }
    peers = loopback_address();
  }
  // The address that worked last for this name goes first.
  if (working_peer.is_for(host)) {
    for (std::size_t i = 1; i < peers.count; ++i) {
      if (same_address(peers.items[i], working_peer.peer))
        std::swap(peers.items[0], peers.items[i]);
    }
  }

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(limits.connect_ms);
  int error = 0;
  bool any_socket = false;
  for (std::size_t i = 0; i < peers.count; ++i) {
    PeerAddress peer = peers.items[i];
    set_port(peer, port);
    int limit = left_ms(deadline, limits.connect_ms);
    if (limit < 0) {
      error = ETIMEDOUT;
      break;
    }
    Connection connection(
        socket(peer.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0), limits.io_ms,
        limits.exchange_ms);
    // A family this system cannot use (IPv6 switched off) leaves the others.
    if (connection.descriptor() < 0) continue;
    any_socket = true;
    error = connect_peer(connection.descriptor(), peer, limit);
    if (error == 0) {
      working_peer.remember(host, peers.items[i]);
      if (tls && !start_tls(connection, host, port, failure, refused_tls)) return std::nullopt;
      return connection;
    }
  }
  if (error == ECANCELED) {
    failure = kStoppedBeforeReply;
  } else {
    failure = any_socket || error == ETIMEDOUT ? comm_error_text(error) : kNoSocket;
  }
  return std::nullopt;
}

int socket_write(Connection& connection, std::string_view bytes) {
  if (TlsStream* tls = connection.tls()) {
    int error = tls_write(*tls, bytes, connection_wait(connection));
    if (error == 0) connection.mark_request_sent();
    return error == -1 ? kSocketPeerSpoke : error;
  }
  const char* next = bytes.data();
  std::size_t left = bytes.size();
  // An empty text still makes one send, so a broken connection is noticed.
  do {
    ssize_t sent = send(connection.descriptor(), next, left, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
      // The agent may answer (or close) before it has read the whole
      // request: then the answer is read instead of waiting to write more.
      short ready = 0;
      if (int error = wait_connection(connection, POLLOUT | POLLIN, ready); error != 0) {
        return error;
      }
      if ((ready & POLLOUT) == 0) return kSocketPeerSpoke;
      continue;
    }
    next += sent;
    left -= static_cast<std::size_t>(sent);
  } while (left > 0);
  connection.mark_request_sent();
  return 0;
}

ssize_t socket_read(Connection& connection, char* buffer, std::size_t length) {
  if (TlsStream* tls = connection.tls())
    return tls_read(*tls, buffer, length, connection_wait(connection));
  // Right after a request the answer is not there yet: wait first rather
  // than make a receive that can only say so.
  short ready = 0;
  if (connection.take_request_sent()) {
    if (int error = wait_connection(connection, POLLIN, ready); error != 0) {
      errno = error;
      return -1;
    }
  }
  for (;;) {
    ssize_t received = recv(connection.descriptor(), buffer, length, 0);
    if (received >= 0) return received;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (int error = wait_connection(connection, POLLIN, ready); error != 0) {
      errno = error;
      return -1;
    }
  }
}

std::string_view comm_error_text(int code) {
  for (const CommErrorRow& row : kCommErrors) {
    if (row.code == code) return row.text;
  }
  return "The cause of this error is unknown.";
}

}  // namespace zv
