#include <optional>
#include <string>
#include <string_view>

#include "base/error.h"
#include "base/memory.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"
#include "operations/session.h"
#include "transport/endpoint.h"

namespace zv {

namespace {

using fuzz::check;

struct Expected {
  std::string host;
  std::int32_t port;
  std::string path;
};

// The URI read as its rules say: an optional scheme up to "://", the host up
// to the first ':' or '/', the port as the number after the first ':', the
// path from the first '/' (a lone '/' keeps the default).  nullopt when the
// port is not a TCP port.
std::optional<Expected> reference_endpoint(const char* uri, std::string_view suffix,
                                           std::int32_t configured) {
  Expected expected{kLoopbackHost, configured == -1 ? kDefaultPort : configured, "/agent"};
  if (uri == nullptr) {
    expected.path += suffix;
    return expected;
  }
  std::string rest = uri;
  if (std::size_t scheme = rest.find("://"); scheme != std::string::npos) rest.erase(0, scheme + 3);
  expected.host = rest.substr(0, rest.find_first_of(":/"));
  if (std::size_t slash = rest.find('/'); slash != std::string::npos && slash + 1 < rest.size()) {
    expected.path = rest.substr(slash);
  }
  expected.path += suffix;
  if (std::size_t colon = rest.find(':'); colon != std::string::npos) {
    expected.port = fuzz::reference_parse_int(rest.c_str() + colon + 1);
  }
  if (expected.port < 1 || expected.port > 65535) return std::nullopt;
  return expected;
}

constexpr std::int32_t kConfiguredPorts[] = {-1, 8080, 0, 70000};

}  // namespace

int uri_fuzz_one(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes = fuzz::bytes_of(data, size);
  unsigned char settings = fuzz::take_settings(bytes);
  std::string_view suffix = settings & 1 ? "/status" : "";
  std::int32_t configured = kConfiguredPorts[(settings >> 1) % std::size(kConfiguredPorts)];
  std::string text(fuzz::up_to_nul(bytes));
  const char* uri = settings & 8 ? nullptr : text.c_str();

  std::optional<Expected> expected = reference_endpoint(uri, suffix, configured);
  int exit_code = get_exit_code();
  std::size_t before = memory_allocated;
  {
    fuzz::StderrCapture capture;
    std::optional<Endpoint> endpoint = uri_open(uri, suffix, configured);
    check(endpoint.has_value() == expected.has_value());
    // Reading a URI reports nothing: a refused port is the caller's to report.
    check(capture.text().empty());
    if (endpoint) {
      check(std::string_view(endpoint->host) == expected->host);
      check(endpoint->port == expected->port);
      check(std::string_view(endpoint->path) == expected->path);
    }
  }
  check(get_exit_code() == exit_code);
  check(memory_allocated == before);
  return 0;
}

}  // namespace zv
