#include "tls.h"

#include <dlfcn.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace zvagent {

// The library's functions, looked up by name; each member has the type of
// the function it holds.
struct TlsServer::Context {
#define ZVAGENT_TLS_FUNCTION(name) decltype(&::name) name = nullptr;
// clang-format off
#define ZVAGENT_TLS_FUNCTIONS \
  ZVAGENT_TLS_FUNCTION(TLS_server_method) \
  ZVAGENT_TLS_FUNCTION(SSL_CTX_new) \
  ZVAGENT_TLS_FUNCTION(SSL_CTX_ctrl) \
  ZVAGENT_TLS_FUNCTION(SSL_CTX_use_certificate_chain_file) \
  ZVAGENT_TLS_FUNCTION(SSL_CTX_use_PrivateKey_file) \
  ZVAGENT_TLS_FUNCTION(SSL_CTX_check_private_key) \
  ZVAGENT_TLS_FUNCTION(SSL_CTX_load_verify_locations) \
  ZVAGENT_TLS_FUNCTION(SSL_CTX_set_verify) \
  ZVAGENT_TLS_FUNCTION(SSL_CTX_set_session_id_context) \
  ZVAGENT_TLS_FUNCTION(SSL_new) \
  ZVAGENT_TLS_FUNCTION(SSL_free) \
  ZVAGENT_TLS_FUNCTION(SSL_set_fd) \
  ZVAGENT_TLS_FUNCTION(SSL_accept) \
  ZVAGENT_TLS_FUNCTION(SSL_read) \
  ZVAGENT_TLS_FUNCTION(SSL_write) \
  ZVAGENT_TLS_FUNCTION(SSL_shutdown) \
  ZVAGENT_TLS_FUNCTION(SSL_get_error) \
  ZVAGENT_TLS_FUNCTION(ERR_get_error) \
  ZVAGENT_TLS_FUNCTION(ERR_error_string_n) \
  ZVAGENT_TLS_FUNCTION(ERR_clear_error)
  // clang-format on
  ZVAGENT_TLS_FUNCTIONS
#undef ZVAGENT_TLS_FUNCTION
  SSL_CTX* ctx = nullptr;
};

namespace {

using Context = TlsServer::Context;

constexpr auto kHandshakeTime = std::chrono::milliseconds(10000);
// How long the relay waits for the client once the agent is done, and how
// long it lets a connection sit with nothing moving.
constexpr auto kDrainTime = std::chrono::milliseconds(1000);
constexpr auto kIdleLimit = std::chrono::milliseconds(60000);

std::string reason(const Context& c, const char* otherwise) {
  unsigned long code = c.ERR_get_error();
  if (code == 0) return otherwise;
  char text[256];
  c.ERR_error_string_n(code, text, sizeof text);
  return text;
}

// The poll events the library needs before `error` can clear; 0 for an
// error that ends the connection.
short wanted(int error) {
  if (error == SSL_ERROR_WANT_READ) return POLLIN;
  if (error == SSL_ERROR_WANT_WRITE) return POLLOUT;
  return 0;
}

// Moves bytes both ways between the client's TLS connection and the plain
// end the agent serves, until both sides are done.
class Relay {
 public:
  Relay(const Context& c, SSL* ssl, Fd tcp, Fd plain)
      : c_(c), ssl_(ssl), tcp_(std::move(tcp)), plain_(std::move(plain)) {}

  void run() {
    auto idle_end = Clock::now() + kIdleLimit;
    while (!stop_requested() && !failed_) {
      tcp_events_ = 0;
      plain_events_ = 0;
      // Both ways each turn: neither may wait behind the other.
      bool moved = to_client();
      moved = to_agent() || moved;
      if (agent_done_ && to_client_.empty() && (client_done_ || Clock::now() >= drain_end_)) break;
      if (client_done_ && agent_done_) break;
      if (moved) {
        idle_end = Clock::now() + kIdleLimit;
        continue;
      }
      if (Clock::now() >= idle_end) break;
      pollfd fds[2] = {{tcp_.get(), tcp_events_, 0}, {plain_.get(), plain_events_, 0}};
      // Short waits: the stop request and the drain time are checked between them.
      if (poll(fds, 2, 100) < 0 && errno != EINTR) break;
    }
    if (agent_reset_) {
      linger abort{1, 0};
      setsockopt(tcp_.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    c_.SSL_free(ssl_);
  }

 private:
  // The agent's bytes to the client; then, once the agent is done, the
  // closing alert.
  bool to_client() {
    bool moved = false;
    if (to_client_.empty() && !agent_done_) {
      char buffer[16384];
      ssize_t n = read(plain_.get(), buffer, sizeof buffer);
      if (n > 0) {
        to_client_.assign(buffer, static_cast<std::size_t>(n));
        moved = true;
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        plain_events_ |= POLLIN;
      } else {
        agent_reset_ = n < 0 && errno == ECONNRESET;
        agent_done_ = true;
        drain_end_ = Clock::now() + kDrainTime;
        if (agent_reset_) failed_ = true;
      }
    }
    if (!to_client_.empty()) {
      int n = c_.SSL_write(ssl_, to_client_.data(), static_cast<int>(to_client_.size()));
      if (n > 0) {
        to_client_.erase(0, static_cast<std::size_t>(n));
        moved = true;
      } else {
        short events = wanted(c_.SSL_get_error(ssl_, n));
        tcp_events_ |= events;
        if (events == 0) failed_ = true;
      }
    } else if (agent_done_ && !alert_sent_) {
      alert_sent_ = true;
      c_.SSL_shutdown(ssl_);
      shutdown(tcp_.get(), SHUT_WR);
    }
    return moved;
  }

  // The client's bytes to the agent; the client's close is passed on as an
  // end of input.
  bool to_agent() {
    bool moved = false;
    if (to_agent_.empty() && !client_done_) {
      char buffer[16384];
      int n = c_.SSL_read(ssl_, buffer, sizeof buffer);
      if (n > 0) {
        to_agent_.assign(buffer, static_cast<std::size_t>(n));
        moved = true;
      } else {
        short events = wanted(c_.SSL_get_error(ssl_, n));
        tcp_events_ |= events;
        if (events == 0) {
          c_.ERR_clear_error();
          client_done_ = true;
        }
      }
    }
    if (!to_agent_.empty()) {
      ssize_t n = write(plain_.get(), to_agent_.data(), to_agent_.size());
      if (n > 0) {
        to_agent_.erase(0, static_cast<std::size_t>(n));
        moved = true;
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        plain_events_ |= POLLOUT;
      } else {
        to_agent_.clear();  // the agent stopped reading: what is left is dropped
      }
    }
    if (client_done_ && to_agent_.empty() && !agent_told_) {
      agent_told_ = true;
      shutdown(plain_.get(), SHUT_WR);
    }
    return moved;
  }

  const Context& c_;
  SSL* ssl_;
  Fd tcp_;
  Fd plain_;
  std::string to_client_, to_agent_;
  short tcp_events_ = 0, plain_events_ = 0;
  bool agent_done_ = false, agent_reset_ = false, alert_sent_ = false;
  bool client_done_ = false, agent_told_ = false, failed_ = false;
  Clock::time_point drain_end_{};
};

}  // namespace

std::unique_ptr<TlsServer> TlsServer::open(const std::string& certificate,
                                           const std::string& client_ca, std::string& error) {
  // Loaded for the rest of the process.
  void* handle = dlopen("libssl.so.3", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    error = "libssl.so.3 could not be loaded";
    return nullptr;
  }
  auto c = std::make_unique<Context>();
  bool complete = true;
#define ZVAGENT_TLS_FUNCTION(symbol)                                         \
  c->symbol = reinterpret_cast<decltype(c->symbol)>(dlsym(handle, #symbol)); \
  complete = complete && c->symbol != nullptr;
  ZVAGENT_TLS_FUNCTIONS
#undef ZVAGENT_TLS_FUNCTION
  if (!complete) {
    error = "libssl.so.3 lacks functions of OpenSSL 1.1.1 or newer";
    return nullptr;
  }
  c->ctx = c->SSL_CTX_new(c->TLS_server_method());
  if (c->ctx == nullptr) {
    error = reason(*c, "no TLS context");
    return nullptr;
  }
  c->SSL_CTX_ctrl(c->ctx, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
  if (c->SSL_CTX_use_certificate_chain_file(c->ctx, certificate.c_str()) != 1 ||
      c->SSL_CTX_use_PrivateKey_file(c->ctx, certificate.c_str(), SSL_FILETYPE_PEM) != 1 ||
      c->SSL_CTX_check_private_key(c->ctx) != 1) {
    error = certificate + ": " + reason(*c, "the certificate does not match its key");
    return nullptr;
  }
  // Sessions are resumed only within this context.
  static const unsigned char kSessionContext[] = "zvagent";
  c->SSL_CTX_set_session_id_context(c->ctx, kSessionContext, sizeof kSessionContext - 1);
  if (!client_ca.empty()) {
    if (c->SSL_CTX_load_verify_locations(c->ctx, client_ca.c_str(), nullptr) != 1) {
      error = client_ca + ": " + reason(*c, "no certificate in it");
      return nullptr;
    }
    c->SSL_CTX_set_verify(c->ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  }
  return std::unique_ptr<TlsServer>(new TlsServer(c.release()));
}

std::optional<TlsLink> TlsServer::accept(Fd connection) {
  const Context& c = *context_;
  SSL* ssl = c.SSL_new(c.ctx);
  if (ssl == nullptr) return std::nullopt;
  c.SSL_set_fd(ssl, connection.get());
  auto deadline = Clock::now() + kHandshakeTime;
  for (;;) {
    int n = c.SSL_accept(ssl);
    if (n == 1) break;
    short events = wanted(c.SSL_get_error(ssl, n));
    if (events == 0 || wait_fd(connection.get(), events, deadline) != Wait::ready) {
      c.ERR_clear_error();
      c.SSL_free(ssl);
      return std::nullopt;
    }
  }
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
    c.SSL_free(ssl);
    return std::nullopt;
  }
  Fd plain(pair[0]);
  std::thread relay([&c, ssl, tcp = std::move(connection), agent = Fd(pair[1])]() mutable {
    Relay(c, ssl, std::move(tcp), std::move(agent)).run();
  });
  return TlsLink(std::move(plain), std::move(relay));
}

}  // namespace zvagent
