#include "transport/endpoint.h"

#include <algorithm>

#include "base/text.h"

namespace zv {

namespace {

constexpr std::string_view kSchemeMark = "://";
constexpr std::string_view kScheme = "http";
constexpr std::string_view kTlsScheme = "https";
constexpr std::int32_t kLowestPort = 1;
constexpr std::int32_t kHighestPort = 65535;

bool is_scheme(std::string_view text, std::string_view scheme) {
  if (text.size() != scheme.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != scheme[i]) return false;
  }
  return true;
}

// A host name or address literal the resolver can be given as it is: not
// empty, and no blank, control character or userinfo in it.
bool plain_host(std::string_view host) {
  if (host.empty()) return false;
  for (char c : host) {
    if (static_cast<unsigned char>(c) <= ' ' || c == '@' || c == 0x7f) return false;
  }
  return true;
}

}  // namespace

std::optional<Endpoint> uri_open(const char* uri, std::string_view suffix, std::int32_t port,
                                 UriRefusal& refusal) {
  refusal = UriRefusal::kNone;
  Endpoint endpoint;
  endpoint.host = kLoopbackHost;
  endpoint.path = "/agent";
  endpoint.port = port == -1 ? kDefaultPort : port;

  // Without a URI the configured port is taken as it is; a bad one shows up
  // when the connection is attempted.  Only this default host may fall back
  // to the loopback address.
  if (uri == nullptr) {
    endpoint.path.append(suffix);
    endpoint.loopback_fallback = true;
    return endpoint;
  }

  std::string_view remainder = uri;
  if (std::size_t mark = remainder.find(kSchemeMark); mark != std::string_view::npos) {
    endpoint.tls = is_scheme(remainder.substr(0, mark), kTlsScheme);
    if (!endpoint.tls && !is_scheme(remainder.substr(0, mark), kScheme)) {
      refusal = UriRefusal::kScheme;
      return std::nullopt;
    }
    remainder.remove_prefix(mark + kSchemeMark.size());
  }
  // Userinfo ("user:password@") has no place in the agent's address.
  if (remainder.substr(0, remainder.find('/')).find('@') != std::string_view::npos) {
    refusal = UriRefusal::kHost;
    return std::nullopt;
  }

  std::string_view host;
  std::string_view after_host;  // from the port's ':' or the path's '/' on
  if (remainder.starts_with('[')) {
    // An IPv6 literal: the host is between the brackets.
    std::size_t close = remainder.find(']');
    if (close == std::string_view::npos) {
      refusal = UriRefusal::kHost;
      return std::nullopt;
    }
    host = remainder.substr(1, close - 1);
    after_host = remainder.substr(close + 1);
    if (!after_host.empty() && after_host.front() != ':' && after_host.front() != '/') {
      refusal = UriRefusal::kHost;
      return std::nullopt;
    }
  } else {
    // Both are found before anything is cut, so a ':' inside the path
    // counts as the port separator too.
    std::size_t cut = std::min(remainder.find(':'), remainder.find('/'));
    host = remainder.substr(0, cut);
    after_host = cut == std::string_view::npos ? std::string_view() : remainder.substr(cut);
  }
  if (!plain_host(host)) {
    refusal = UriRefusal::kHost;
    return std::nullopt;
  }

  std::size_t colon = after_host.find(':');
  std::size_t slash = after_host.find('/');
  // A lone '/' leaves the default path, but it is no part of the host name.
  if (slash != std::string_view::npos && after_host.size() - slash > 1) {
    endpoint.path = after_host.substr(slash);
  }
  endpoint.path.append(suffix);
  if (colon != std::string_view::npos) {
    // The number at the start of the text after ':'; a '/' ends it, and a
    // text without a leading number gives -1.  The URI is NUL-terminated
    // behind the remainder, so the text can be read in place.
    endpoint.port = parse_int(after_host.data() + colon + 1);
  }
  endpoint.host = host;

  if (endpoint.port < kLowestPort || endpoint.port > kHighestPort) {
    refusal = UriRefusal::kPort;
    return std::nullopt;
  }
  return endpoint;
}

}  // namespace zv
