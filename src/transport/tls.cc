#include "transport/tls.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace zv {

namespace {

// The functions of the library, looked up by name when it is loaded; each
// member has the type of the function it holds.
struct Library {
#define ZV_TLS_FUNCTION(name) decltype(&::name) name = nullptr;
// clang-format off
#define ZV_TLS_FUNCTIONS \
  ZV_TLS_FUNCTION(TLS_client_method) \
  ZV_TLS_FUNCTION(SSL_CTX_new) \
  ZV_TLS_FUNCTION(SSL_CTX_ctrl) \
  ZV_TLS_FUNCTION(SSL_CTX_set_default_verify_paths) \
  ZV_TLS_FUNCTION(SSL_CTX_load_verify_locations) \
  ZV_TLS_FUNCTION(SSL_CTX_use_certificate_chain_file) \
  ZV_TLS_FUNCTION(SSL_CTX_use_PrivateKey_file) \
  ZV_TLS_FUNCTION(SSL_CTX_check_private_key) \
  ZV_TLS_FUNCTION(SSL_CTX_set_verify) \
  ZV_TLS_FUNCTION(SSL_CTX_set_options) \
  ZV_TLS_FUNCTION(SSL_CTX_set_cert_cb) \
  ZV_TLS_FUNCTION(SSL_new) \
  ZV_TLS_FUNCTION(SSL_free) \
  ZV_TLS_FUNCTION(SSL_set_fd) \
  ZV_TLS_FUNCTION(SSL_ctrl) \
  ZV_TLS_FUNCTION(SSL_set1_host) \
  ZV_TLS_FUNCTION(SSL_get0_param) \
  ZV_TLS_FUNCTION(X509_VERIFY_PARAM_set1_ip_asc) \
  ZV_TLS_FUNCTION(SSL_connect) \
  ZV_TLS_FUNCTION(SSL_read) \
  ZV_TLS_FUNCTION(SSL_write) \
  ZV_TLS_FUNCTION(SSL_get_error) \
  ZV_TLS_FUNCTION(SSL_get_verify_result) \
  ZV_TLS_FUNCTION(X509_verify_cert_error_string) \
  ZV_TLS_FUNCTION(ERR_get_error) \
  ZV_TLS_FUNCTION(ERR_error_string_n) \
  ZV_TLS_FUNCTION(ERR_clear_error) \
  ZV_TLS_FUNCTION(SSL_set_session) \
  ZV_TLS_FUNCTION(SSL_get1_session) \
  ZV_TLS_FUNCTION(SSL_SESSION_free) \
  ZV_TLS_FUNCTION(SSL_session_reused) \
  ZV_TLS_FUNCTION(SSL_SESSION_is_resumable) \
  ZV_TLS_FUNCTION(SSL_shutdown)
  // clang-format on
  ZV_TLS_FUNCTIONS
#undef ZV_TLS_FUNCTION
};

// What the run made of TLS so far: loaded once, at the first https
// connection, and kept (with its context and the last session) until exit.
struct State {
  bool tried = false;
  Library library;
  SSL_CTX* context = nullptr;
  std::string setup_failure;  // why there is no context
  SSL_SESSION* session = nullptr;
  std::string session_peer;  // host:port of `session`
  std::string failure;       // the text of the last failure
  bool resumed = false;
  bool certificate_asked = false;          // in the last handshake, or its session's
  bool session_certificate_asked = false;  // in the handshake that made `session`
  // Nothing is freed at exit: the library cleans itself up in a handler of
  // its own that runs before this object's destructor would, and freeing
  // into a library that has cleaned up is a crash.
};

State& state() {
  static State the_state;
  return the_state;
}

const char* environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// The library's reason for the oldest error in its queue, or `otherwise`.
std::string library_reason(const Library& library, const char* otherwise) {
  unsigned long code = library.ERR_get_error();
  if (code == 0) return otherwise;
  char text[256];
  library.ERR_error_string_n(code, text, sizeof text);
  return text;
}

bool load(State& s) {
  const char* name = environment("ZVCLIENT_TLS_LIBRARY");
  if (name == nullptr) name = "libssl.so.3";
  // The library stays loaded for the rest of the run.
  void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    s.setup_failure =
        std::string("TLS is not available on this system: ") + name + " could not be loaded.";
    return false;
  }
  Library& library = s.library;
  bool complete = true;
#define ZV_TLS_FUNCTION(symbol)                                                        \
  library.symbol = reinterpret_cast<decltype(library.symbol)>(dlsym(handle, #symbol)); \
  complete = complete && library.symbol != nullptr;
  ZV_TLS_FUNCTIONS
#undef ZV_TLS_FUNCTION
  if (!complete) {
    s.setup_failure = std::string("TLS is not available on this system: ") + name +
                      " lacks functions of OpenSSL 1.1.1 or newer.";
  }
  return complete;
}

// A key file must be the owner's secret.
bool key_is_private(const char* path, std::string& failure) {
  struct stat info {};
  if (::stat(path, &info) != 0) {
    failure = std::string("The client key file ") + path +
              " could not be read: " + std::strerror(errno) + ".";
    return false;
  }
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    failure = std::string("The client key file ") + path +
              " was not used: other users may read or write it (chmod 600 it).";
    return false;
  }
  return true;
}

// Called in a handshake in which the agent asks for a client certificate.
int on_certificate_request(SSL*, void*) {
  state().certificate_asked = true;
  return 1;  // go on, with the certificate given or without one
}

bool make_context(State& s) {
  const Library& library = s.library;
  SSL_CTX* context = library.SSL_CTX_new(library.TLS_client_method());
  if (context == nullptr) {
    s.setup_failure = "TLS could not be set up: " + library_reason(library, "no context.");
    return false;
  }
  s.context = context;
  library.SSL_CTX_ctrl(context, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
  library.SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  // Many servers close an HTTP/1.0 reply without TLS's closing alert; the
  // reply's length still tells a cut one.
  library.SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
  library.SSL_CTX_set_cert_cb(context, on_certificate_request, nullptr);
  if (const char* ca = environment("ZVCLIENT_CA_FILE")) {
    if (library.SSL_CTX_load_verify_locations(context, ca, nullptr) != 1) {
      s.setup_failure = std::string("The CA file ") + ca +
                        " could not be used: " + library_reason(library, "no certificate in it.");
      return false;
    }
  } else if (library.SSL_CTX_set_default_verify_paths(context) != 1) {
    s.setup_failure = "The system's trusted certificates could not be read: " +
                      library_reason(library, "unknown reason.");
    return false;
  }
  if (const char* certificate = environment("ZVCLIENT_CERT_FILE")) {
    const char* key = environment("ZVCLIENT_KEY_FILE");
    if (key == nullptr) key = certificate;
    if (!key_is_private(key, s.setup_failure)) return false;
    if (library.SSL_CTX_use_certificate_chain_file(context, certificate) != 1 ||
        library.SSL_CTX_use_PrivateKey_file(context, key, SSL_FILETYPE_PEM) != 1 ||
        library.SSL_CTX_check_private_key(context) != 1) {
      s.setup_failure = std::string("The client certificate ") + certificate + " or its key " +
                        key +
                        " could not be used: " + library_reason(library, "they do not match.");
      return false;
    }
  }
  return true;
}

// The library and the context, made at the first call.
bool ready(State& s) {
  if (!s.tried) {
    s.tried = true;
    if (load(s)) make_context(s);
  }
  return s.context != nullptr && s.setup_failure.empty();
}

bool is_address(const char* host) {
  unsigned char address[sizeof(in6_addr)];
  return inet_pton(AF_INET, host, address) == 1 || inet_pton(AF_INET6, host, address) == 1;
}

// Why the handshake failed, in words.
std::string handshake_failure(const Library& library, SSL* ssl, const char* host) {
  long verdict = library.SSL_get_verify_result(ssl);
  if (verdict == X509_V_ERR_HOSTNAME_MISMATCH || verdict == X509_V_ERR_IP_ADDRESS_MISMATCH) {
    library.ERR_clear_error();
    return std::string("The agent's certificate is not for ") + host + ".";
  }
  if (verdict != X509_V_OK) {
    library.ERR_clear_error();
    return std::string("The agent's certificate was not accepted: ") +
           library.X509_verify_cert_error_string(verdict) + ".";
  }
  return "The TLS handshake with the agent failed: " +
         library_reason(library, "the agent closed the connection.");
}

// The poll events that the library's `reason` asks to wait for; 0 when it
// asks for none (the connection failed, or ended).
short wanted_events(int reason) {
  if (reason == SSL_ERROR_WANT_READ) return POLLIN;
  if (reason == SSL_ERROR_WANT_WRITE) return POLLOUT;
  return 0;
}

// Records why an established connection failed (the library's reason, or
// the system's) for tls_failure: EPROTO.
int connection_failed(const Library& library, int reason) {
  const int system_error = errno;
  std::string& failure = state().failure;
  try {
    failure = "The TLS connection with the agent failed: ";
    if (reason == SSL_ERROR_SYSCALL && system_error != 0) {
      failure += std::strerror(system_error);
      failure += ".";
    } else {
      failure += library_reason(library, "the agent closed the connection.");
    }
  } catch (const std::bad_alloc&) {
    failure.clear();  // tls_failure says it without the reason
  }
  return EPROTO;
}

}  // namespace

class TlsStream {
 public:
  TlsStream(SSL* ssl, std::string peer) : ssl_(ssl), peer_(std::move(peer)) {}
  ~TlsStream() {
    State& s = state();
    // The session (in TLS 1.3 a ticket that came after the handshake) is
    // offered to the next connection to the same peer.
    if (SSL_SESSION* session = s.library.SSL_get1_session(ssl_)) {
      if (s.library.SSL_SESSION_is_resumable(session) == 1) {
        if (s.session != nullptr) s.library.SSL_SESSION_free(s.session);
        s.session = session;
        s.session_peer = peer_;
        // Connections are made one after another: the last handshake is this one's.
        s.session_certificate_asked = s.certificate_asked;
      } else {
        s.library.SSL_SESSION_free(session);
      }
    }
    // The closing alert, without waiting for the agent's.
    s.library.SSL_shutdown(ssl_);
    s.library.SSL_free(ssl_);
  }
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;
  SSL* ssl() const { return ssl_; }

 private:
  SSL* ssl_;
  std::string peer_;
};

void TlsStreamFree::operator()(TlsStream* stream) const noexcept { delete stream; }

namespace {

TlsHandle connect_stream(int descriptor, const char* host, int port, const TlsWait& wait,
                         int& error, std::string_view& failure) {
  State& s = state();
  if (!ready(s)) {
    failure = s.setup_failure;
    return nullptr;
  }
  const Library& library = s.library;
  SSL* ssl = library.SSL_new(s.context);
  if (ssl == nullptr) {
    s.failure = "TLS could not be set up: " + library_reason(library, "out of memory.");
    failure = s.failure;
    return nullptr;
  }
  std::string peer = std::string(host) + ":" + std::to_string(port);
  const bool resume = s.session != nullptr && s.session_peer == peer;
  TlsHandle stream(new TlsStream(ssl, std::move(peer)));
  library.SSL_set_fd(ssl, descriptor);
  if (is_address(host)) {
    library.X509_VERIFY_PARAM_set1_ip_asc(library.SSL_get0_param(ssl), host);
  } else {
    library.SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                     const_cast<char*>(host));
    library.SSL_set1_host(ssl, host);
  }
  if (resume) library.SSL_set_session(ssl, s.session);
  library.ERR_clear_error();
  s.certificate_asked = false;
  for (;;) {
    int result = library.SSL_connect(ssl);
    if (result == 1) break;
    if (short events = wanted_events(library.SSL_get_error(ssl, result))) {
      short ready = 0;
      error = wait(events, ready);
      if (error == 0) continue;
      return nullptr;
    }
    s.failure = handshake_failure(library, ssl, host);
    failure = s.failure;
    return nullptr;
  }
  s.resumed = library.SSL_session_reused(ssl) == 1;
  // A resumed handshake asks for nothing: the session's first handshake did.
  if (s.resumed) s.certificate_asked = s.certificate_asked || s.session_certificate_asked;
  return stream;
}

}  // namespace

// The texts of a failure are made as it happens; a heap too short for them
// fails the handshake with a text of static storage instead.
TlsHandle tls_connect(int descriptor, const char* host, int port, const TlsWait& wait, int& error,
                      std::string_view& failure) {
  error = 0;
  try {
    return connect_stream(descriptor, host, port, wait, error, failure);
  } catch (const std::bad_alloc&) {
    failure = "TLS could not be set up: out of memory.";
    return nullptr;
  }
}

int tls_write(TlsStream& stream, std::string_view bytes, const TlsWait& wait) {
  const Library& library = state().library;
  // An empty text still makes one write, so a broken connection is noticed.
  do {
    int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30));
    library.ERR_clear_error();
    errno = 0;
    int written = library.SSL_write(stream.ssl(), bytes.data(), chunk);
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    if (chunk == 0 && written == 0) return 0;
    int reason = library.SSL_get_error(stream.ssl(), written);
    short ready = 0;
    if (reason == SSL_ERROR_WANT_WRITE) {
      // As with plain http: the agent may answer before it read it all.
      if (int error = wait(POLLOUT | POLLIN, ready); error != 0) return error;
      if ((ready & POLLOUT) == 0) return -1;
    } else if (short events = wanted_events(reason)) {
      if (int error = wait(events, ready); error != 0) return error;
    } else {
      // An alert of the agent's (a refused client certificate, say) may
      // arrive while the request is still being written, or the agent may
      // reset the connection before its alert is read.
      return connection_failed(library, reason);
    }
  } while (!bytes.empty());
  return 0;
}

ssize_t tls_read(TlsStream& stream, char* buffer, std::size_t length, const TlsWait& wait) {
  const Library& library = state().library;
  int chunk = static_cast<int>(std::min<std::size_t>(length, 1 << 30));
  for (;;) {
    library.ERR_clear_error();
    errno = 0;
    int received = library.SSL_read(stream.ssl(), buffer, chunk);
    if (received > 0) return received;
    int reason = library.SSL_get_error(stream.ssl(), received);
    short ready = 0;
    int error = 0;
    if (short events = wanted_events(reason)) {
      error = wait(events, ready);
    } else if (reason == SSL_ERROR_ZERO_RETURN || (reason == SSL_ERROR_SYSCALL && errno == 0)) {
      return 0;
    } else {
      // In TLS 1.3 an agent refuses a client certificate (or its absence)
      // only after the handshake, with an alert that arrives here.
      error = connection_failed(library, reason);
    }
    if (error != 0) {
      errno = error;
      return -1;
    }
  }
}

bool tls_last_resumed() { return state().resumed; }

bool tls_last_asked_for_certificate() { return state().certificate_asked; }

std::string_view tls_failure() {
  const std::string& failure = state().failure;
  return failure.empty() ? "The TLS connection with the agent failed." : std::string_view(failure);
}

}  // namespace zv
