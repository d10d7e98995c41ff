// The client against an HTTP server nobody here wrote: lighttpd with its
// default (strict) request parsing, which answers 400 to any request whose
// lines end with a bare LF.  Skipped where lighttpd is not installed.
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "agent_fixture.h"
#include "server_process.h"

namespace zv::test {
namespace {

constexpr const char* kLighttpd = "/usr/sbin/lighttpd";

// lighttpd in the foreground, serving the client's folder "root" on
// 127.0.0.1:`port`; stopped when the object goes.
ServerProcess lighttpd(const ClientFixture& client, int port) {
  client.write("lighttpd.conf",
               "server.document-root = \"" + client.dir() +
                   "/root\"\nserver.bind = \"127.0.0.1\"\nserver.port = " + std::to_string(port) +
                   "\nserver.errorlog = \"" + client.dir() + "/lighttpd.log\"\n");
  return ServerProcess(kLighttpd, {"-D", "-f", client.dir() + "/lighttpd.conf"}, port,
                       client.dir() + "/lighttpd.out");
}

TEST(RealServer, StrictServerTakesEveryRequest) {
  if (::access(kLighttpd, X_OK) != 0) GTEST_SKIP() << "lighttpd is not installed";
  ClientFixture client;
  std::filesystem::create_directories(client.dir() + "/root/agent");
  const std::string document = "<transaction><data><s>ok</s></data></transaction>";
  client.write("root/agent/status", document);
  const int port = unused_port();
  ServerProcess server = lighttpd(client, port);
  ASSERT_TRUE(server.listening());
  const std::string uri = "http://127.0.0.1:" + std::to_string(port) + "/agent";

  RunResult status = client.run({"--http-get", uri, "--get-status"});
  EXPECT_EQ(status.status, 0) << status.err;
  EXPECT_EQ(status.out, document);
  // A POST to the file is answered with the file: every line delivered.
  client.write("lines.txt", "one\ntwo\nthree\n");
  RunResult posted = client.run({"--http-post", uri + "/status", "--submit-file", "lines.txt"});
  EXPECT_EQ(posted.status, 0) << posted.err;
  EXPECT_EQ(posted.out, document + document + document);
  EXPECT_FALSE(client.exists("logs/ZVClient.log"));
}

}  // namespace
}  // namespace zv::test
