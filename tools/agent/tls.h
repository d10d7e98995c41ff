// TLS for the stand-in agent: the connection is taken over TLS in front of
// the plain agent, which serves the decrypted bytes exactly as it serves a
// plain connection.
//
// The system's TLS library is loaded when --tls is given, so that a plain
// agent loads nothing and the installed agent needs no TLS library.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "io.h"

namespace zvagent {

/// What one TLS connection became: `plain` is served like an accepted
/// connection; the relay between it and the client runs until both sides
/// are done.  A reset of the plain side while bytes wait unread (a refused
/// or cut request) resets the client's connection; any other close ends the
/// TLS connection with its closing alert.
class TlsLink {
 public:
  TlsLink(Fd plain, std::thread relay) : plain_(std::move(plain)), relay_(std::move(relay)) {}
  TlsLink(TlsLink&&) = default;
  TlsLink& operator=(TlsLink&&) = delete;
  ~TlsLink() {
    if (relay_.joinable()) relay_.join();
  }
  /// The plain end, for the agent to serve; once taken, the destructor
  /// waits for the relay to end.
  Fd take_plain() { return std::move(plain_); }

 private:
  Fd plain_;
  std::thread relay_;
};

class TlsServer {
 public:
  /// Loads the library and the PEM file holding the certificate chain and
  /// its key; with `client_ca`, every client must show a certificate signed
  /// by it.  Nothing, with the reason in `error`, when any of it fails.
  static std::unique_ptr<TlsServer> open(const std::string& certificate,
                                         const std::string& client_ca, std::string& error);

  /// Takes the TLS handshake on the accepted connection, within a bounded
  /// time and cut short by a stop.  Nothing when it fails.
  std::optional<TlsLink> accept(Fd connection);

  struct Context;

 private:
  explicit TlsServer(Context* context) : context_(context) {}
  Context* context_;  // kept for the life of the process, as the library is
};

}  // namespace zvagent
