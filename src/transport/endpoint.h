// The agent endpoint: host, port and request path of every request of a run.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/memory.h"
#include "transport/time_limits.h"

namespace zv {

struct Endpoint {
  Text host;
  std::int32_t port = -1;
  Text path;
  /// How long each exchange with the agent may wait.
  TimeLimits limits;
};

/// Builds the endpoint (reads the URI; opens no connection) from the user's URI (nullptr when
/// none), a path suffix ("" or "/status") and the configured port (-1 when none: 2010). A URI whose
/// port is outside 1..65535 gives nullopt (the caller reports it).  Throws memory_exhausted.
std::optional<Endpoint> uri_open(const char* uri, std::string_view suffix, std::int32_t port);

/// The loopback host name: the default agent host, also named in the help.
inline constexpr const char* kLoopbackHost = "localhost";

/// The agent's default port when the runtime configuration names none.
inline constexpr std::int32_t kDefaultPort = 2010;

}  // namespace zv
