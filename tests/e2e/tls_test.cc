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

// The stand-in agent taking TLS with `certificate` (chain and key in one
// file); with `client_ca`, it asks for a client certificate signed by it.
class TlsAgent : public StandInAgent {
 public:
  TlsAgent(const ClientFixture& client, const std::string& certificate,
           const std::string& client_ca = "", std::vector<std::string> options = {})
      : StandInAgent(client.dir(), with_tls(certificate, client_ca, std::move(options))) {}
  std::string uri(const std::string& host) const {
    return "https://" + host + ":" + std::to_string(port()) + "/agent";
  }

 private:
  static std::vector<std::string> with_tls(const std::string& certificate,
                                           const std::string& client_ca,
                                           std::vector<std::string> options) {
    options.insert(options.end(), {"--tls", certificate});
    if (!client_ca.empty()) options.insert(options.end(), {"--tls-client-ca", client_ca});
    return options;
  }
};

class Tls : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kOpenssl, X_OK) != 0) GTEST_SKIP() << "openssl is not installed";
    ASSERT_TRUE(certs().ok()) << "the openssl command could not make the certificates";
  }
  static const Certificates& certs() { return Certificates::get(); }
  std::vector<std::pair<std::string, std::string>> trust_ca() const {
    return {{"ZVCLIENT_CA_FILE", certs().path("ca.pem")}};
  }
};

TEST_F(Tls, MessagesFilesStatusAndResponsesGoThrough) {
  ClientFixture client;
  TlsAgent agent(client, certs().path("server.both"), "", {"--queue-response", "ops", "<r>1</r>"});
  client.write("lines.txt", message_lines(1, 20));
  struct Case {
    std::vector<std::string> args;
    std::string out;  // a text the output holds
  };
  const Case cases[] = {
      {{"--http-post", agent.uri("127.0.0.1"), "<m>0</m>"}, ""},
      {{"--http-post", agent.uri("localhost"), "--submit-file", "lines.txt"}, ""},
      {{"--http-get", agent.uri("localhost"), "--get-status"}, "<messages>21</messages>"},
      {{"--http-get", agent.uri("localhost"), "--get-response", "ops"}, "<r>1</r>"},
  };
  for (const Case& c : cases) {
    RunResult r = client.run(c.args, trust_ca());
    EXPECT_EQ(r.status, 0) << c.args[2] << ": " << r.err;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << c.args[2] << ": " << r.out;
  }
  EXPECT_EQ(agent.request_count(), 23);
  EXPECT_FALSE(client.exists("logs/ZVClient.log"));
}

// Each failure is a communication failure that says what failed, and the
// POST is kept for a recovery.
TEST_F(Tls, FailuresSayWhatFailedAndKeepThePost) {
  struct Case {
    const char* name;
    const char* certificate;
    const char* host;
    bool ask_client_certificate;
    std::vector<std::pair<std::string, std::string>> env;
    const char* detail;
  };
  const std::string ca = certs().path("ca.pem");
  std::filesystem::copy_file(certs().path("client.key"), certs().path("loose.key"),
                             std::filesystem::copy_options::overwrite_existing);
  ::chmod(certs().path("loose.key").c_str(), 0644);
  const Case cases[] = {
      {"not trusted", "server.both", "localhost", false, {}, "was not accepted: unable to get"},
      {"self-signed", "self.both", "localhost", false, {}, "was not accepted: self-signed"},
      {"expired",
       "expired.both",
       "localhost",
       false,
       {{"ZVCLIENT_CA_FILE", ca}},
       "was not accepted: certificate has expired"},
      {"another name",
       "other.both",
       "127.0.0.1",
       false,
       {{"ZVCLIENT_CA_FILE", ca}},
       "is not for 127.0.0.1"},
      {"no client certificate",
       "server.both",
       "localhost",
       true,
       {{"ZVCLIENT_CA_FILE", ca}},
       "The TLS connection with the agent failed: "},
      {"loose key",
       "server.both",
       "localhost",
       true,
       {{"ZVCLIENT_CA_FILE", ca},
        {"ZVCLIENT_CERT_FILE", certs().path("client.pem")},
        {"ZVCLIENT_KEY_FILE", certs().path("loose.key")}},
       "other users may read or write it"},
      {"no library",
       "server.both",
       "localhost",
       false,
       {{"ZVCLIENT_CA_FILE", ca}, {"ZVCLIENT_TLS_LIBRARY", "libzv-absent.so.0"}},
       "TLS is not available on this system"},
  };
  for (const Case& c : cases) {
    ClientFixture client;
    TlsAgent agent(client, certs().path(c.certificate), c.ask_client_certificate ? ca : "");
    RunResult r = client.run({"--http-post", agent.uri(c.host), "<m>kept</m>"}, c.env);
    EXPECT_EQ(r.status, 10) << c.name;
    EXPECT_NE(r.err.find("COMMUNICATIONS_FAILURE"), std::string::npos) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find(c.detail), std::string::npos) << c.name << ": " << r.err;
    EXPECT_NE(client.read("logs/ZVClient.log").find("<m>kept</m>"), std::string::npos) << c.name;
    EXPECT_EQ(agent.request_count(), 0) << c.name;
  }
}

TEST_F(Tls, ClientCertificateAskedForAndGiven) {
  ClientFixture client;
  TlsAgent agent(client, certs().path("server.both"), certs().path("ca.pem"));
  auto env = trust_ca();
  env.emplace_back("ZVCLIENT_CERT_FILE", certs().path("client.pem"));
  env.emplace_back("ZVCLIENT_KEY_FILE", certs().path("client.key"));
  RunResult r = client.run({"--http-post", agent.uri("localhost"), "<m>1</m>"}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(agent.request_count(), 1);
  // Without it, a query (written in one piece, so the refusal comes with
  // the reply) says what the agent said.
  r = client.run({"--http-get", agent.uri("localhost"), "--get-status"}, trust_ca());
  EXPECT_EQ(r.status, 10);
  EXPECT_NE(r.err.find("The TLS connection with the agent failed: "), std::string::npos) << r.err;
  EXPECT_EQ(agent.request_count(), 1);
}

// A port that takes the connection and never speaks TLS ends the handshake
// at the I/O time limit.
TEST_F(Tls, SilentPortEndsTheHandshakeInTime) {
  ClientFixture client;
  int port = 0;
  int listener = loopback_socket(port, true);
  const auto start = std::chrono::steady_clock::now();
  RunResult r = client.run(
      {"--http-post", "https://127.0.0.1:" + std::to_string(port) + "/agent", "<m>1</m>"},
      {{"ZVCLIENT_IO_TIMEOUT", "0.3"}});
  const auto took = std::chrono::steady_clock::now() - start;
  ::close(listener);
  EXPECT_EQ(r.status, 10);
  EXPECT_NE(r.err.find("Timeout during the TLS handshake"), std::string::npos) << r.err;
  EXPECT_LT(took, std::chrono::seconds(10));
  EXPECT_NE(client.read("logs/ZVClient.log").find("<m>1</m>"), std::string::npos);
}

// The connections of one run after the first resume its TLS session, and
// send without waiting to gather small writes.
TEST_F(Tls, LaterConnectionsResumeTheSession) {
  ClientFixture client;
  TlsAgent agent(client, certs().path("server.both"));
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
  const std::string uri = "https://localhost:" + std::to_string(port) + "/agent";
  auto with_certificate = trust_ca();
  with_certificate.emplace_back("ZVCLIENT_CERT_FILE", certs().path("client.pem"));
  with_certificate.emplace_back("ZVCLIENT_KEY_FILE", certs().path("client.key"));
  client.write("lines.txt", message_lines(1, 20));
  RunResult r = client.run({"--http-post", uri, "--submit-file", "lines.txt"}, with_certificate);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(agent.request_count(), 20);

  client.write("more.txt", message_lines(21, 3));
  r = client.run({"--http-post", uri, "--submit-file", "more.txt"}, trust_ca());
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("3 of 3 submissions were kept"), std::string::npos) << r.err;
  r = client.run({"--http-post", uri, "--recover-file", "logs/ZVClient.log"}, with_certificate);
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
    const std::string uri = "https://localhost:" + std::to_string(port) + "/agent";
    RunResult r = client.run({"--http-post", uri, "<m>1</m>"}, trust_ca());
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
  const std::string uri = "https://localhost:" + std::to_string(port) + "/agent";
  RunResult r = client.run({"--http-get", uri, "--get-status"},
                           {{"ZVCLIENT_CA_FILE", certs().path("self.pem")}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("s_server"), std::string::npos) << r.out;
  r = client.run({"--http-get", uri, "--get-status"}, trust_ca());
  EXPECT_EQ(r.status, 10);
  EXPECT_NE(r.err.find("was not accepted: self-signed"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace zv::test
