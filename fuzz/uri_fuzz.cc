#include <cctype>
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
  UriRefusal refusal = UriRefusal::kNone;
  bool tls = false;
};

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The URI read as its rules say: an optional scheme up to "://", which must
// be http or https in any case; no '@' before the first '/'; the host in
// brackets, or up to the first ':' or '/'; a host that is empty or holds a
// blank, a control character or an '@' is refused; the port as the number after the first ':'
// behind the host, the path from the first '/' behind it (a lone '/' keeps
// the default); the port must be a TCP port.
Expected reference_endpoint(const char* uri, std::string_view suffix, std::int32_t configured) {
  Expected expected{kLoopbackHost, configured == -1 ? kDefaultPort : configured, "/agent"};
  if (uri == nullptr) {
    expected.path += suffix;
    return expected;
  }
  auto refused = [](UriRefusal why) { return Expected{"", 0, "", why}; };
  std::string rest = uri;
  if (std::size_t scheme = rest.find("://"); scheme != std::string::npos) {
    const std::string name = lowered(rest.substr(0, scheme));
    if (name != "http" && name != "https") return refused(UriRefusal::kScheme);
    expected.tls = name == "https";
    rest.erase(0, scheme + 3);
  }
  if (rest.substr(0, rest.find('/')).find('@') != std::string::npos) {
    return refused(UriRefusal::kHost);
  }
  std::string after;
  if (!rest.empty() && rest[0] == '[') {
    std::size_t close = rest.find(']');
    if (close == std::string::npos) return refused(UriRefusal::kHost);
    expected.host = rest.substr(1, close - 1);
    after = rest.substr(close + 1);
    if (!after.empty() && after[0] != ':' && after[0] != '/') return refused(UriRefusal::kHost);
  } else {
    std::size_t cut = rest.find_first_of(":/");
    expected.host = rest.substr(0, cut);
    after = cut == std::string::npos ? "" : rest.substr(cut);
  }
  bool bad_host = expected.host.empty();
  for (unsigned char c : expected.host) bad_host = bad_host || c <= ' ' || c == 0x7f || c == '@';
  if (bad_host) return refused(UriRefusal::kHost);
  if (std::size_t slash = after.find('/'); slash != std::string::npos && slash + 1 < after.size()) {
    expected.path = after.substr(slash);
  }
  expected.path += suffix;
  if (std::size_t colon = after.find(':'); colon != std::string::npos) {
    expected.port = fuzz::reference_parse_int(after.c_str() + colon + 1);
  }
  if (expected.port < 1 || expected.port > 65535) return refused(UriRefusal::kPort);
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

  Expected expected = reference_endpoint(uri, suffix, configured);
  int exit_code = get_exit_code();
  std::size_t before = memory_allocated;
  {
    fuzz::StderrCapture capture;
    UriRefusal refusal = UriRefusal::kNone;
    std::optional<Endpoint> endpoint = uri_open(uri, suffix, configured, refusal);
    check(endpoint.has_value() == (expected.refusal == UriRefusal::kNone));
    check(refusal == expected.refusal);
    // Reading a URI reports nothing: a refused port is the caller's to report.
    check(capture.text().empty());
    if (endpoint) {
      check(std::string_view(endpoint->host) == expected.host);
      check(endpoint->port == expected.port);
      check(std::string_view(endpoint->path) == expected.path);
      check(endpoint->loopback_fallback == (uri == nullptr));
      check(endpoint->tls == expected.tls);
    }
  }
  check(get_exit_code() == exit_code);
  check(memory_allocated == before);
  return 0;
}

}  // namespace zv
