#include "transport/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <utility>

#include "base/error.h"

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

// Only IPv4 stream addresses are wanted: the connection is AF_INET.
bool lookup(const char* node, int flags, in_addr& address, int& h_error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  addrinfo* found = nullptr;
  int status = getaddrinfo(node, nullptr, &hints, &found);
  if (status != 0) {
    h_error = resolver_code(status);
    return false;
  }
  std::unique_ptr<addrinfo, AddrInfoRelease> owner(found);
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
      address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
      return true;
    }
  }
  h_error = kNoAddress;
  return false;
}

class SystemResolver final : public Resolver {
 public:
  // A run talks to one endpoint, so the answer for the last name found is
  // kept for the run: every later request of a submit file or a recovery
  // is spared the look-up's reads of the system's files.  A failed look-up
  // is not kept.
  bool by_name(const char* host, in_addr& address, int& h_error) override {
    std::size_t length = std::strlen(host);
    if (known_length_ > 0 && length == known_length_ &&
        std::memcmp(host, known_host_, length) == 0) {
      address = known_address_;
      return true;
    }
    if (!lookup(host, 0, address, h_error)) return false;
    if (length > 0 && length < sizeof known_host_) {
      std::memcpy(known_host_, host, length);
      known_length_ = length;
      known_address_ = address;
    }
    return true;
  }
  // A numeric lookup: the loopback fallback must work with no name server.
  bool loopback(in_addr& address, int& h_error) override {
    return lookup("127.0.0.1", AI_NUMERICHOST, address, h_error);
  }

 private:
  char known_host_[256] = {};
  std::size_t known_length_ = 0;
  in_addr known_address_{};
};

SystemResolver system_resolver;
Resolver* current_resolver = &system_resolver;

// Waits until `descriptor` is ready for one of `events`, at most `limit_ms`
// in all (0: for ever), however often a signal interrupts the wait; `ready`
// receives what poll reported.  Returns 0 when ready (or in error: the next
// call says which), ETIMEDOUT, or the errno of a failed poll.
int wait_events(int descriptor, short events, int limit_ms, short& ready) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
  pollfd watch{descriptor, events, 0};
  for (;;) {
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

// Returns 0 once connected, else the errno of the failure.  The descriptor
// is non-blocking, so the connect goes on in the background while the
// limit runs.
int connect_peer(int descriptor, const sockaddr_in& peer, int limit_ms) {
  if (connect(descriptor, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return 0;
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

void socket_set_resolver(Resolver* resolver) {
  current_resolver = resolver != nullptr ? resolver : &system_resolver;
}

std::optional<Connection> socket_open(const char* host, std::int32_t port, const TimeLimits& limits,
                                      std::string_view& failure) {
  in_addr address{};
  int h_error = 0;
  Resolver& resolver = socket_resolver();
  if (!resolver.by_name(host, address, h_error) && !resolver.loopback(address, h_error)) {
    failure = comm_error_text(h_error);
    return std::nullopt;
  }

  Connection connection(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0),
                        limits.io_ms);
  if (connection.descriptor() < 0) {
    failure = kNoSocket;
    return std::nullopt;
  }

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<std::uint16_t>(port));
  peer.sin_addr = address;
  if (int error = connect_peer(connection.descriptor(), peer, limits.connect_ms); error != 0) {
    failure = comm_error_text(error);
    return std::nullopt;
  }
  return connection;
}

int socket_write(Connection& connection, std::string_view bytes) {
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
      if (int error =
              wait_events(connection.descriptor(), POLLOUT | POLLIN, connection.io_ms(), ready);
          error != 0) {
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
  // Right after a request the answer is not there yet: wait first rather
  // than make a receive that can only say so.
  if (connection.take_request_sent()) {
    if (int error = wait_ready(connection.descriptor(), POLLIN, connection.io_ms()); error != 0) {
      errno = error;
      return -1;
    }
  }
  for (;;) {
    ssize_t received = recv(connection.descriptor(), buffer, length, 0);
    if (received >= 0) return received;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    if (int error = wait_ready(connection.descriptor(), POLLIN, connection.io_ms()); error != 0) {
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
