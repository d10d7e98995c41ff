#include "transport/endpoint.h"

#include <algorithm>

#include "base/text.h"

namespace zv {

namespace {

constexpr std::string_view kSchemeMark = "://";
constexpr std::int32_t kLowestPort = 1;
constexpr std::int32_t kHighestPort = 65535;

}  // namespace

std::optional<Endpoint> uri_open(const char* uri, std::string_view suffix, std::int32_t port) {
  Endpoint endpoint;
  endpoint.host = kLoopbackHost;
  endpoint.path = "/agent";
  endpoint.port = port == -1 ? kDefaultPort : port;

  // Without a URI the configured port is taken as it is; a bad one shows up
  // when the connection is attempted.
  if (uri == nullptr) {
    endpoint.path.append(suffix);
    return endpoint;
  }

  std::string_view remainder = uri;
  if (std::size_t mark = remainder.find(kSchemeMark); mark != std::string_view::npos) {
    remainder.remove_prefix(mark + kSchemeMark.size());
  }
  // Both are found before anything is cut, so a ':' inside the path counts
  // as the port separator too.
  std::size_t colon = remainder.find(':');
  std::size_t slash = remainder.find('/');

  std::size_t host_end = remainder.size();
  if (slash != std::string_view::npos) {
    // A lone '/' leaves the default path, but it is no part of the host name.
    if (remainder.size() - slash > 1) endpoint.path = remainder.substr(slash);
    host_end = slash;
  }
  endpoint.path.append(suffix);

  if (colon != std::string_view::npos) {
    host_end = std::min(host_end, colon);
    // The number at the start of the text after ':'; a '/' ends it, and a
    // text without a leading number gives -1.  The URI is NUL-terminated
    // behind the remainder, so the text can be read in place.
    endpoint.port = parse_int(remainder.data() + colon + 1);
  }
  endpoint.host = remainder.substr(0, host_end);

  if (endpoint.port < kLowestPort || endpoint.port > kHighestPort) {
    return std::nullopt;
  }
  return endpoint;
}

}  // namespace zv
