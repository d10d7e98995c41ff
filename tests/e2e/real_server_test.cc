// The client against an HTTP server nobody here wrote: lighttpd with its
// default (strict) request parsing, which answers 400 to any request whose
// lines end with a bare LF.  Skipped where lighttpd is not installed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv::test {
namespace {

constexpr const char* kLighttpd = "/usr/sbin/lighttpd";

// lighttpd in the foreground, serving the client's folder "root" on
// 127.0.0.1; stopped when the object goes.
class Lighttpd {
 public:
  explicit Lighttpd(const ClientFixture& client) : port_(unused_port()) {
    const std::string config = client.dir() + "/lighttpd.conf";
    client.write("lighttpd.conf", "server.document-root = \"" + client.dir() +
                                      "/root\"\nserver.bind = \"127.0.0.1\"\nserver.port = " +
                                      std::to_string(port_) + "\nserver.errorlog = \"" +
                                      client.dir() + "/lighttpd.log\"\n");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl(kLighttpd, kLighttpd, "-D", "-f", config.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Ready once it takes a connection; bounded.
    for (int i = 0; i < 100 && !listening(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~Lighttpd() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  int port() const { return port_; }
  bool listening() const {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
  }

 private:
  int port_;
  pid_t pid_ = -1;
};

TEST(RealServer, StrictServerTakesEveryRequest) {
  if (::access(kLighttpd, X_OK) != 0) GTEST_SKIP() << "lighttpd is not installed";
  ClientFixture client;
  std::filesystem::create_directories(client.dir() + "/root/agent");
  const std::string document = "<transaction><data><s>ok</s></data></transaction>";
  client.write("root/agent/status", document);
  Lighttpd server(client);
  ASSERT_TRUE(server.listening());
  const std::string uri = "http://127.0.0.1:" + std::to_string(server.port()) + "/agent";

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
