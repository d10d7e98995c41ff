// The agent endpoint: host, port and request path of every request of a run.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/memory.h"
#include "transport/time_limits.h"

namespace zv {

struct Endpoint {
  /// A host name, or an address literal (IPv6 without its brackets).
  Text host;
  std::int32_t port = -1;
  Text path;
  /// Whether a host that does not resolve may be replaced by 127.0.0.1:
  /// only the default host, never one the user named.
  bool loopback_fallback = false;
  /// How long each exchange with the agent may wait.
  TimeLimits limits;
  /// https: the exchange goes through TLS (transport/tls.h).
  bool tls = false;
};

/// Why a URI was not taken.
enum class UriRefusal {
  kNone,
  kPort,    ///< the port is outside 1..65535
  kScheme,  ///< a scheme other than http and https (any case)
  kHost,    ///< no host, userinfo, a blank or control character, a bad [IPv6] literal
};

/// Builds the endpoint (reads the URI; opens no connection) from the user's
/// URI (nullptr when none), a path suffix ("" or "/status") and the
/// configured port (-1 when none: 2010).  The URI is [scheme://]host[:port]
/// [/path], the host a name, an IPv4 address or an IPv6 address in
/// brackets.  A URI that cannot be taken gives nullopt and says why in
/// `refusal` (the caller reports it).  Throws memory_exhausted.
std::optional<Endpoint> uri_open(const char* uri, std::string_view suffix, std::int32_t port,
                                 UriRefusal& refusal);

/// The loopback host name: the default agent host, also named in the help.
inline constexpr const char* kLoopbackHost = "localhost";

/// The agent's default port when the runtime configuration names none.
inline constexpr std::int32_t kDefaultPort = 2010;

}  // namespace zv
