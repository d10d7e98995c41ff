#include "transport/endpoint.h"

#include <string>

#include <gtest/gtest.h>

#include "base/error.h"

namespace zv {
namespace {

// uri_open(uri, suffix, configured port) as "host port path", or why it
// was refused: "port", "scheme" or "host".
TEST(Endpoint, UriOpen) {
  const struct {
    const char* uri;
    const char* suffix;
    int configured_port;
    std::string expected;
  } cases[] = {
      // No URI: the configured port is kept even when no connection can use it.
      {nullptr, "/status", -1, "localhost 2010 /agent/status"},
      {nullptr, "", 0, "localhost 0 /agent"},
      {nullptr, "", 70000, "localhost 70000 /agent"},
      // Scheme, host and port; the path keeps its default.
      {"http://localhost:81", "/status", -1, "localhost 81 /agent/status"},
      {"http://127.0.0.1:81/custom", "", -1, "127.0.0.1 81 /custom"},
      // Without "://" the whole text is host, port and path.
      {"localhost:81/custom", "/status", -1, "localhost 81 /custom/status"},
      {"localhost:65535", "", -1, "localhost 65535 /agent"},
      {"localhost:1", "", -1, "localhost 1 /agent"},
      {"localhost:81abc", "", -1, "localhost 81 /agent"},
      // Without a port the configured one, or 2010, must lie within 1..65535.
      {"localhost", "", -1, "localhost 2010 /agent"},
      {"http://localhost/custom", "", 2012, "localhost 2012 /custom"},
      {"localhost", "", 0, "port"},
      {"localhost", "", 70000, "port"},
      // Port texts that are no port.
      {"http://localhost:0", "", -1, "port"},
      {"http://localhost:65536", "", -1, "port"},
      {"http://localhost:-5", "", -1, "port"},
      {"http://localhost:", "", -1, "port"},
      {"http://localhost:abc", "", -1, "port"},
      // A ':' in the path is taken for the port separator.
      {"http://localhost/a:b", "", -1, "port"},
      {"http://localhost/a:82", "", -1, "localhost 82 /a:82"},
      // The scheme is http or https, in any case; nothing else is sent
      // anywhere.  https takes the same port rule.
      {"HTTP://localhost:81/x", "", -1, "localhost 81 /x"},
      {"https://localhost:81/x", "", -1, "localhost 81 /x tls"},
      {"HTTPS://[::1]", "/status", 7, "::1 7 /agent/status tls"},
      {"httpss://localhost/x", "", -1, "scheme"},
      {"ftp://localhost/x", "", -1, "scheme"},
      {"://localhost", "", -1, "scheme"},
      // IPv6 literals in brackets.
      {"http://[::1]:2011/agent", "", -1, "::1 2011 /agent"},
      {"http://[::1]", "/status", -1, "::1 2010 /agent/status"},
      {"[fe80::1%lo]/x", "", -1, "fe80::1%lo 2010 /x"},
      {"http://[::1", "", -1, "host"},
      {"http://[::1]x:81", "", -1, "host"},
      {"http://[]:81", "", -1, "host"},
      // Hosts the resolver must never be given.
      {"http://user:pw@localhost:81/x", "", -1, "host"},
      {"http://user@localhost/x", "", -1, "host"},
      {"http://local host:81/x", "", -1, "host"},
      {"http://:81/x", "", -1, "host"},
      {"http://localhost/a@b", "", -1, "localhost 2010 /a@b"},
      // A lone '/' is cut from the host and the path keeps its default.
      {"http://localhost/", "/status", -1, "localhost 2010 /agent/status"},
      {"http://localhost:81/", "", -1, "localhost 81 /agent"},
  };
  for (const auto& c : cases) {
    const std::string where = std::string(c.uri ? c.uri : "(no uri)") + " " + c.suffix;
    std::size_t before = memory_allocated;
    reset_exit_code();
    testing::internal::CaptureStderr();
    UriRefusal refusal = UriRefusal::kNone;
    std::string got = "none";
    if (std::optional<Endpoint> e = uri_open(c.uri, c.suffix, c.configured_port, refusal)) {
      got = std::string(e->host) + " " + std::to_string(e->port) + " " + std::string(e->path) +
            (e->tls ? " tls" : "");
      EXPECT_EQ(e->loopback_fallback, c.uri == nullptr) << where;
    } else {
      got = refusal == UriRefusal::kPort     ? "port"
            : refusal == UriRefusal::kScheme ? "scheme"
            : refusal == UriRefusal::kHost   ? "host"
                                             : "no reason";
    }
    EXPECT_EQ(got, c.expected) << where;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "") << where;  // the operations report, not the endpoint
    EXPECT_EQ(get_exit_code(), kExitOk) << where;
    EXPECT_EQ(memory_allocated, before) << where;
  }
}

}  // namespace
}  // namespace zv
