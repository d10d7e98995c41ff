#include "transport/endpoint.h"

#include <string>

#include <gtest/gtest.h>

#include "base/error.h"

namespace zv {
namespace {

// uri_open(uri, suffix, configured port) as "host port path", or "invalid"
// when it reported INVALID_PORT (the document itself is checked with the
// other error documents).
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
      {"localhost", "", 0, "invalid"},
      {"localhost", "", 70000, "invalid"},
      // Port texts that are no port.
      {"http://localhost:0", "", -1, "invalid"},
      {"http://localhost:65536", "", -1, "invalid"},
      {"http://localhost:-5", "", -1, "invalid"},
      {"http://localhost:", "", -1, "invalid"},
      {"http://localhost:abc", "", -1, "invalid"},
      // A ':' in the path is taken for the port separator.
      {"http://localhost/a:b", "", -1, "invalid"},
      {"http://localhost/a:82", "", -1, "localhost 82 /a:82"},
      // A lone '/' is cut from the host and the path keeps its default.
      {"http://localhost/", "/status", -1, "localhost 2010 /agent/status"},
      {"http://localhost:81/", "", -1, "localhost 81 /agent"},
  };
  for (const auto& c : cases) {
    const std::string where = std::string(c.uri ? c.uri : "(no uri)") + " " + c.suffix;
    std::size_t before = memory_allocated;
    set_exit_code(kExitOk);
    testing::internal::CaptureStderr();
    std::string got = "invalid";
    if (std::optional<Endpoint> e = uri_open(c.uri, c.suffix, c.configured_port)) {
      got = std::string(e->host) + " " + std::to_string(e->port) + " " + std::string(e->path);
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
