#include "transport/endpoint.h"

#include <string>

#include <gtest/gtest.h>

#include "cli/error.h"

namespace zv {
namespace {

constexpr const char* kInvalid = nullptr;

struct Case {
  const char* uri;
  const char* suffix;
  int configured_port;
  const char* host;  // kInvalid: INVALID_PORT and no endpoint
  int port;
  const char* path;
};

const Case kCases[] = {
    // No URI: the configured port is kept even when no connection can use it.
    {nullptr, "/status", -1, "localhost", 2010, "/agent/status"},
    {nullptr, "", 0, "localhost", 0, "/agent"},
    {nullptr, "", 70000, "localhost", 70000, "/agent"},
    {nullptr, "", 2011, "localhost", 2011, "/agent"},
    // Scheme, host and port; the path keeps its default.
    {"http://localhost:81", "", -1, "localhost", 81, "/agent"},
    {"http://localhost:81", "/status", -1, "localhost", 81, "/agent/status"},
    {"http://127.0.0.1:81/custom", "", -1, "127.0.0.1", 81, "/custom"},
    // Without "://" the whole text is host, port and path.
    {"localhost:81/custom", "/status", -1, "localhost", 81, "/custom/status"},
    {"localhost:81", "", -1, "localhost", 81, "/agent"},
    {"localhost:65535", "", -1, "localhost", 65535, "/agent"},
    {"localhost:1", "", -1, "localhost", 1, "/agent"},
    {"localhost:81abc", "", -1, "localhost", 81, "/agent"},
    // Without a port the configured one, or 2010, must lie within 1..65535.
    {"localhost", "", -1, "localhost", 2010, "/agent"},
    {"http://localhost/custom", "", 2012, "localhost", 2012, "/custom"},
    {"localhost", "", 0, kInvalid, 0, nullptr},
    {"localhost", "", 70000, kInvalid, 0, nullptr},
    // Port texts that are no port.
    {"http://localhost:0", "", -1, kInvalid, 0, nullptr},
    {"http://localhost:65536", "", -1, kInvalid, 0, nullptr},
    {"http://localhost:-5", "", -1, kInvalid, 0, nullptr},
    {"http://localhost:", "", -1, kInvalid, 0, nullptr},
    {"http://localhost:/custom", "", -1, kInvalid, 0, nullptr},
    {"http://localhost:abc", "", -1, kInvalid, 0, nullptr},
    // A ':' in the path is taken for the port separator.
    {"http://localhost/a:b", "", -1, kInvalid, 0, nullptr},
    {"http://localhost/a:82", "", -1, "localhost", 82, "/a:82"},
    // A lone '/' is cut from the host and the path keeps its default.
    {"http://localhost/", "/status", -1, "localhost", 2010, "/agent/status"},
    {"http://localhost:81/", "", -1, "localhost", 81, "/agent"},
};

const std::string kInvalidPortDocument =
    "<?xml version=\"1.0\"?><transaction id=\"0\"><header><method>Agent</method>"
    "<subclass>ERROR</subclass></header><data><errorcode>INVALID_PORT</errorcode>"
    "<errortext>Invalid Port Number.</errortext><errordetail>The port number must be an "
    "Integer between 1 and 65535.</errordetail></data></transaction>\n";

TEST(Endpoint, UriOpen) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.uri ? c.uri : "(no uri)") + " " + c.suffix + " " +
                 std::to_string(c.configured_port));
    std::size_t before = memory_allocated;
    set_exit_code(kExitOk);
    testing::internal::CaptureStderr();
    {
      std::optional<Endpoint> endpoint = uri_open(c.uri, c.suffix, c.configured_port);
      if (c.host == kInvalid) {
        EXPECT_FALSE(endpoint.has_value());
      } else {
        EXPECT_TRUE(endpoint.has_value());
        if (endpoint) {
          EXPECT_EQ(endpoint->host, c.host);
          EXPECT_EQ(endpoint->port, c.port);
          EXPECT_EQ(endpoint->path, c.path);
        }
      }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.host == kInvalid ? kInvalidPortDocument : "");
    EXPECT_EQ(get_exit_code(), kExitOk);
    EXPECT_EQ(memory_allocated, before);
  }
}

}  // namespace
}  // namespace zv
