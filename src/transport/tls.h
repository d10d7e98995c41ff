// TLS for https:// agents, through the system's OpenSSL, which is loaded
// when the first https connection is made: a run that speaks plain http
// never loads it, and security updates of the library reach the program
// without a rebuild.
//
// The agent's certificate is always verified, against the system's trust
// store or the CA file named by ZVCLIENT_CA_FILE, and its name against the
// host of the URI (a DNS name, with SNI, or an IP address).  A client
// certificate is offered when ZVCLIENT_CERT_FILE names its PEM chain and
// ZVCLIENT_KEY_FILE its key (the certificate file when unset); a key file
// that anybody but its owner may read or write is refused.  The library is
// "libssl.so.3", or the one ZVCLIENT_TLS_LIBRARY names.  One run keeps the
// session of its last handshake with a host and port and offers it to the
// next connection, so that a file of messages does not pay a full handshake
// for every line.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

namespace zv {

class TlsStream;
struct TlsStreamFree {
  void operator()(TlsStream* stream) const noexcept;
};
/// One TLS connection over a connected socket; the socket stays the caller's.
using TlsHandle = std::unique_ptr<TlsStream, TlsStreamFree>;

/// Waits until the socket is ready for `events` (poll's), within the
/// connection's limits: 0, or an errno (ETIMEDOUT, ECANCELED, ...).  The
/// events that were ready are left in `ready`.
using TlsWait = std::function<int(short events, short& ready)>;

/// Makes the handshake on the connected, non-blocking socket `descriptor`
/// for `host`:`port`.  On failure the result is empty and `error` is the
/// errno of a wait that failed (ETIMEDOUT, ECANCELED), or 0 when TLS itself
/// failed; `failure` then says what failed (valid until the next failure).
TlsHandle tls_connect(int descriptor, const char* host, int port, const TlsWait& wait, int& error,
                      std::string_view& failure);

/// Like send of all `bytes`: 0, an errno, or -1 when the peer spoke (or
/// closed) while the request could not be written on.
int tls_write(TlsStream& stream, std::string_view bytes, const TlsWait& wait);

/// Like one recv: the byte count, 0 when the peer has closed, or -1 with
/// errno set (EPROTO for a TLS failure).
ssize_t tls_read(TlsStream& stream, char* buffer, std::size_t length, const TlsWait& wait);

/// What failed in the last tls_read or tls_write that failed with EPROTO.
std::string_view tls_failure();

/// Whether the last handshake of this run resumed an earlier session.
bool tls_last_resumed();

/// Whether the agent asked for a client certificate in the last handshake
/// of this run (for a resumed one: in the handshake that made its session).
bool tls_last_asked_for_certificate();

}  // namespace zv
