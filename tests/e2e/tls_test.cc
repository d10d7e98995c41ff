// https end to end: the stand-in agent takes TLS itself (--tls) with
// certificates the openssl command makes for this run (a throwaway CA, a
// server certificate for 127.0.0.1 and localhost, an expired one, one for
// another name, a self-signed one, a client certificate); socat and
// openssl s_server are TLS servers nobody here wrote.  Skipped where the
// openssl command is missing.
#include "transport/tls.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"
#include "server_process.h"
#include "transport/socket.h"

namespace zv::test {
namespace {

constexpr const char* kSocat = "/usr/bin/socat";
constexpr const char* kOpenssl = "/usr/bin/openssl";
constexpr const char* kNginx = "/usr/sbin/nginx";

// The certificates, made once for all tests of this file.
class Certificates {
 public:
  static const Certificates& get() {
    static const Certificates made;
    return made;
  }
  std::string path(const std::string& name) const { return dir_.path() + "/" + name; }
  bool ok() const { return ok_; }

 private:
  Certificates() {
    const std::string script =
        "set -e; cd " + dir_.path() +
        "\n"
        "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 "
        "-subj /CN=zvtest-ca\n"
        "sign() { openssl req -newkey rsa:2048 -nodes -keyout $1.key -out $1.csr -subj /CN=$2;"
        " printf 'subjectAltName=%s\\n' \"$3\" >$1.ext;"
        " openssl x509 -req -in $1.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out $1.pem"
        " -days $4 -extfile $1.ext; cat $1.pem $1.key >$1.both; chmod 600 $1.key $1.both; }\n"
        "sign server localhost DNS:localhost,IP:127.0.0.1 2\n"
        "sign expired localhost DNS:localhost,IP:127.0.0.1 -1\n"
        "sign other other DNS:other.zelvane.example 2\n"
        "sign client zvclient DNS:zvclient 2\n"
        "openssl req -x509 -newkey rsa:2048 -nodes -keyout self.key -out self.pem -days 2"
        " -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1\n"
        "cat self.pem self.key >self.both; chmod 600 self.key self.both\n";
    ok_ = run_program("/bin/sh", {"-c", script}).status == 0;
  }
  TempDir dir_;
  bool ok_ = false;
};

// The stand-in agent's options to take TLS with `certificate` (chain and key
// in one file); with `client_ca`, it asks for a client certificate signed by it.
std::vector<std::string> tls(const std::string& certificate, const std::string& client_ca = "",
                             std::vector<std::string> options = {}) {
  options.insert(options.end(), {"--tls", certificate});
  if (!client_ca.empty()) options.insert(options.end(), {"--tls-client-ca", client_ca});
  return options;
}

std::string https(const std::string& host, int port) {
  return "https://" + host + ":" + std::to_string(port) + "/agent";
}

class Tls : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kOpenssl, X_OK) != 0) GTEST_SKIP() << "openssl is not installed";
    ASSERT_TRUE(certs().ok()) << "the openssl command could not make the certificates";
  }
  static const Certificates& certs() { return Certificates::get(); }
  static Env trust_ca() { return {{"ZVCLIENT_CA_FILE", certs().path("ca.pem")}}; }
  static Env with_client_certificate() {
    return {{"ZVCLIENT_CA_FILE", certs().path("ca.pem")},
            {"ZVCLIENT_CERT_FILE", certs().path("client.pem")},
            {"ZVCLIENT_KEY_FILE", certs().path("client.key")}};
  }
};

TEST_F(Tls, MessagesFilesStatusAndResponsesGoThrough) {
  ClientFixture client;
  StandInAgent agent(client.dir(),
                     tls(certs().path("server.both"), "", {"--queue-response", "ops", "<r>1</r>"}));
  const int port = agent.port();
  client.write("lines.txt", message_lines(1, 20));
  struct Case {
    std::vector<std::string> args;
    std::string out;  // a text the output holds
  };
  const Case cases[] = {
      {{"--http-post", https("127.0.0.1", port), "<m>0</m>"}, ""},
      {{"--http-post", https("localhost", port), "--submit-file", "lines.txt"}, ""},
      {{"--http-get", https("localhost", port), "--get-status"}, "<messages>21</messages>"},
      {{"--http-get", https("localhost", port), "--get-response", "ops"}, "<r>1</r>"},
  };
  for (const Case& c : cases) {
    RunResult r = client.run(c.args, trust_ca());
    EXPECT_EQ(r.status, 0) << c.args[2] << ": " << r.err;
    EXPECT_TRUE(holds(r.out, c.out)) << c.args[2];
  }
  EXPECT_EQ(agent.request_count(), 23);
  EXPECT_FALSE(client.exists("logs/ZVClient.log"));
}

// Each failure is a communication failure that says what failed, and the
// POST is kept for a recovery.
TEST_F(Tls, FailuresSayWhatFailedAndKeepThePost) {
  const std::string ca = certs().path("ca.pem");
  std::filesystem::copy_file(certs().path("client.key"), certs().path("loose.key"),
                             std::filesystem::copy_options::overwrite_existing);
  ::chmod(certs().path("loose.key").c_str(), 0644);
  Env loose = with_client_certificate();
  loose.back().second = certs().path("loose.key");
  const Env no_library = {{"ZVCLIENT_CA_FILE", ca}, {"ZVCLIENT_TLS_LIBRARY", "libzv-absent.so.0"}};
  const struct {
    const char *certificate, *host;
    bool ask_client_certificate;
    Env env;
    const char* detail;
  } cases[] = {
      {"server.both", "localhost", false, {}, "was not accepted: unable to get"},
      {"self.both", "localhost", false, {}, "was not accepted: self-signed"},
      {"expired.both", "localhost", false, trust_ca(), "was not accepted: certificate has expired"},
      {"other.both", "127.0.0.1", false, trust_ca(), "is not for 127.0.0.1"},
      {"server.both", "localhost", true, trust_ca(), "The TLS connection with the agent failed: "},
      {"server.both", "localhost", true, loose, "other users may read or write it"},
      {"server.both", "localhost", false, no_library, "TLS is not available on this system"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.detail);
    ClientFixture client;
    StandInAgent agent(client.dir(),
                       tls(certs().path(c.certificate), c.ask_client_certificate ? ca : ""));
    RunResult r = client.run({"--http-post", https(c.host, agent.port()), "<m>kept</m>"}, c.env);
    EXPECT_EQ(r.status, 10);
    EXPECT_TRUE(holds(r.err, "COMMUNICATIONS_FAILURE"));
    EXPECT_TRUE(holds(r.err, c.detail));
    EXPECT_TRUE(holds(client.read("logs/ZVClient.log"), "<m>kept</m>"));
    EXPECT_EQ(agent.request_count(), 0);
  }
}

TEST_F(Tls, ClientCertificateAskedForAndGiven) {
  ClientFixture client;
  StandInAgent agent(client.dir(), tls(certs().path("server.both"), certs().path("ca.pem")));
  const std::string uri = https("localhost", agent.port());
  RunResult r = client.run({"--http-post", uri, "<m>1</m>"}, with_client_certificate());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(agent.request_count(), 1);
  // Without it, a query (written in one piece, so the refusal comes with
  // the reply) says what the agent said.
  r = client.run({"--http-get", uri, "--get-status"}, trust_ca());
  EXPECT_EQ(r.status, 10);
  EXPECT_TRUE(holds(r.err, "The TLS connection with the agent failed: "));
  EXPECT_EQ(agent.request_count(), 1);
}

// A port that takes the connection and never speaks TLS ends the handshake
// at the I/O time limit.
TEST_F(Tls, SilentPortEndsTheHandshakeInTime) {
  ClientFixture client;
  int port = 0;
  int listener = loopback_socket(port, true);
  const auto start = std::chrono::steady_clock::now();
  RunResult r = client.run({"--http-post", https("127.0.0.1", port), "<m>1</m>"},
                           {{"ZVCLIENT_IO_TIMEOUT", "0.3"}});
  const auto took = std::chrono::steady_clock::now() - start;
  ::close(listener);
  EXPECT_EQ(r.status, 10);
  EXPECT_TRUE(holds(r.err, "Timeout during the TLS handshake"));
  EXPECT_LT(took, std::chrono::seconds(10));
  EXPECT_TRUE(holds(client.read("logs/ZVClient.log"), "<m>1</m>"));
}

// The connections of one run after the first resume its TLS session, and
// send without waiting to gather small writes.
TEST_F(Tls, LaterConnectionsResumeTheSession) {
  ClientFixture client;
  StandInAgent agent(client.dir(), tls(certs().path("server.both")));
  ::setenv("ZVCLIENT_CA_FILE", certs().path("ca.pem").c_str(), 1);
  std::vector<bool> resumed;
  for (int i = 0; i < 3; ++i) {
    std::string_view failure;
    std::optional<Connection> connection =
        socket_open("localhost", agent.port(), false, TimeLimits{}, failure, true);
    ASSERT_TRUE(connection) << failure;
    // Else the request waits behind the handshake's last record for the
    // peer's delayed acknowledgement.
    int nodelay = 0;
    socklen_t length = sizeof nodelay;
    ::getsockopt(connection->descriptor(), IPPROTO_TCP, TCP_NODELAY, &nodelay, &length);
    EXPECT_EQ(nodelay, 1);
    ASSERT_EQ(socket_write(*connection, "GET /agent/status? HTTP/1.0\r\n\r\n"), 0);
    char buffer[4096];
    while (socket_read(*connection, buffer, sizeof buffer) > 0) {
    }
    resumed.push_back(tls_last_resumed());
  }
  ::unsetenv("ZVCLIENT_CA_FILE");
  EXPECT_EQ(resumed, (std::vector<bool>{false, true, true}));
  EXPECT_EQ(agent.request_count(), 3);
}

// nginx in the foreground, taking TLS on a free port for the stand-in
// agent at `agent_port`, as a proxy in front of an agent on another machine
// does, and asking every client for a certificate signed by the test CA.
std::unique_ptr<ServerProcess> nginx_proxy(const ClientFixture& client, int port, int agent_port,
                                           const Certificates& certs) {
  const std::string dir = client.dir();
  std::string conf = "daemon off; master_process off; pid " + dir + "/nginx.pid;\n" + "error_log " +
                     dir + "/nginx.log;\nevents {}\nhttp {\n access_log off;\n";
  for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
    conf += std::string(" ") + temp + "_temp_path " + dir + "/" + temp + ";\n";
  conf += " server {\n  listen 127.0.0.1:" + std::to_string(port) + " ssl;\n" +
          "  ssl_certificate " + certs.path("server.pem") + ";\n  ssl_certificate_key " +
          certs.path("server.key") + ";\n  ssl_client_certificate " + certs.path("ca.pem") +
          ";\n  ssl_verify_client on;\n  location / { proxy_pass http://127.0.0.1:" +
          std::to_string(agent_port) + "; }\n }\n}\n";
  client.write("nginx.conf", conf);
  return std::make_unique<ServerProcess>(
      kNginx, std::vector<std::string>{"-e", dir + "/nginx.log", "-c", dir + "/nginx.conf"}, port,
      dir + "/nginx.out");
}

// Through nginx asking for a client certificate, the lines of a file that
// gives one are delivered (the connections after the first resuming the
// session).  Without one nginx answers 400 Bad Request: the connection was
// refused, not the submissions, so every line is kept, and a recovery that
// gives the certificate delivers them.
TEST_F(Tls, NginxFrontAskingForAClientCertificate) {
  if (::access(kNginx, X_OK) != 0) GTEST_SKIP() << "nginx is not installed";
  ClientFixture client;
  StandInAgent agent(client.dir(), {});
  const int port = unused_port();
  auto nginx = nginx_proxy(client, port, agent.port(), certs());
  if (!nginx->listening()) GTEST_SKIP() << "nginx could not listen: " << client.read("nginx.log");
  const std::string uri = https("localhost", port);
  client.write("lines.txt", message_lines(1, 20));
  RunResult r =
      client.run({"--http-post", uri, "--submit-file", "lines.txt"}, with_client_certificate());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(agent.request_count(), 20);

  client.write("more.txt", message_lines(21, 3));
  r = client.run({"--http-post", uri, "--submit-file", "more.txt"}, trust_ca());
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(holds(r.err, "3 of 3 submissions were kept"));
  r = client.run({"--http-post", uri, "--recover-file", "logs/ZVClient.log"},
                 with_client_certificate());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(agent.request_count(), 23);
  EXPECT_FALSE(client.exists("logs/ZVClient.log"));
}

// TLS servers nobody here wrote: socat taking TLS in front of the plain
// stand-in agent, and openssl s_server answering queries itself with a
// self-signed certificate, trusted through the CA file or not at all.
TEST_F(Tls, ServersNobodyHereWroteAreReached) {
  if (::access(kSocat, X_OK) == 0) {
    ClientFixture client;
    StandInAgent agent(client.dir(), {});
    const int port = unused_port();
    ServerProcess socat(
        kSocat,
        {"OPENSSL-LISTEN:" + std::to_string(port) +
             ",bind=127.0.0.1,reuseaddr,fork,verify=0,cert=" + certs().path("server.both"),
         "TCP:127.0.0.1:" + std::to_string(agent.port())},
        port, client.dir() + "/socat.log");
    RunResult r = client.run({"--http-post", https("localhost", port), "<m>1</m>"}, trust_ca());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(agent.request_count(), 1);
  }
  ClientFixture client;
  const int port = unused_port();
  ServerProcess s_server(
      kOpenssl,
      {"s_server", "-quiet", "-www", "-accept", "127.0.0.1:" + std::to_string(port), "-cert",
       certs().path("self.pem"), "-key", certs().path("self.key")},
      port, client.dir() + "/s_server.log");
  const std::string uri = https("localhost", port);
  RunResult r = client.run({"--http-get", uri, "--get-status"},
                           {{"ZVCLIENT_CA_FILE", certs().path("self.pem")}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(holds(r.out, "s_server"));
  r = client.run({"--http-get", uri, "--get-status"}, trust_ca());
  EXPECT_EQ(r.status, 10);
  EXPECT_TRUE(holds(r.err, "was not accepted: self-signed"));
}

}  // namespace
}  // namespace zv::test
