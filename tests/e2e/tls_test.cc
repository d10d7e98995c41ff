// https end to end: socat terminates TLS in front of the stand-in agent with
// certificates the openssl command makes for this run (a throwaway CA, a
// server certificate for 127.0.0.1 and localhost, an expired one, one for
// another name, a client certificate).  Skipped where socat or openssl is
// missing.
#include "transport/tls.h"

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
        "sign client zvclient DNS:zvclient 2\n";
    ok_ = run_program("/bin/sh", {"-c", script}).status == 0;
  }
  TempDir dir_;
  bool ok_ = false;
};

// socat on a free port, taking TLS with `certificate` (cert and key in one
// file) and passing the plain bytes on to the stand-in agent; with
// `client_ca`, it asks for a client certificate signed by it.
class TlsFront {
 public:
  TlsFront(const ClientFixture& client, int agent_port, const std::string& certificate,
           const std::string& client_ca = "")
      : port_(unused_port()) {
    std::string listen = "OPENSSL-LISTEN:" + std::to_string(port_) +
                         ",bind=127.0.0.1,reuseaddr,fork,cert=" + certificate;
    listen += client_ca.empty() ? ",verify=0" : ",verify=1,cafile=" + client_ca;
    server_ = std::make_unique<ServerProcess>(
        kSocat, std::vector<std::string>{listen, "TCP:127.0.0.1:" + std::to_string(agent_port)},
        port_, client.dir() + "/socat.log");
  }
  std::string uri(const std::string& host) const {
    return "https://" + host + ":" + std::to_string(port_) + "/agent";
  }

 private:
  int port_;
  std::unique_ptr<ServerProcess> server_;
};

class Tls : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kSocat, X_OK) != 0 || ::access(kOpenssl, X_OK) != 0)
      GTEST_SKIP() << "socat or openssl is not installed";
    ASSERT_TRUE(certs().ok()) << "the openssl command could not make the certificates";
  }
  static const Certificates& certs() { return Certificates::get(); }
  std::vector<std::pair<std::string, std::string>> trust_ca() const {
    return {{"ZVCLIENT_CA_FILE", certs().path("ca.pem")}};
  }
};

TEST_F(Tls, MessagesFilesStatusAndResponsesGoThrough) {
  ClientFixture client;
  StandInAgent agent(client.dir(), {"--queue-response", "ops", "<r>1</r>"});
  TlsFront front(client, agent.port(), certs().path("server.both"));
  client.write("lines.txt", message_lines(1, 20));
  struct Case {
    std::vector<std::string> args;
    std::string out;  // a text the output holds
  };
  const Case cases[] = {
      {{"--http-post", front.uri("127.0.0.1"), "<m>0</m>"}, ""},
      {{"--http-post", front.uri("localhost"), "--submit-file", "lines.txt"}, ""},
      {{"--http-get", front.uri("localhost"), "--get-status"}, "<messages>21</messages>"},
      {{"--http-get", front.uri("localhost"), "--get-response", "ops"}, "<r>1</r>"},
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
    StandInAgent agent(client.dir(), {});
    TlsFront front(client, agent.port(), certs().path(c.certificate),
                   c.ask_client_certificate ? ca : "");
    RunResult r = client.run({"--http-post", front.uri(c.host), "<m>kept</m>"}, c.env);
    EXPECT_EQ(r.status, 10) << c.name;
    EXPECT_NE(r.err.find("COMMUNICATIONS_FAILURE"), std::string::npos) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find(c.detail), std::string::npos) << c.name << ": " << r.err;
    EXPECT_NE(client.read("logs/ZVClient.log").find("<m>kept</m>"), std::string::npos) << c.name;
    EXPECT_EQ(agent.request_count(), 0) << c.name;
  }
}

TEST_F(Tls, ClientCertificateAskedForAndGiven) {
  ClientFixture client;
  StandInAgent agent(client.dir(), {});
  TlsFront front(client, agent.port(), certs().path("server.both"), certs().path("ca.pem"));
  auto env = trust_ca();
  env.emplace_back("ZVCLIENT_CERT_FILE", certs().path("client.pem"));
  env.emplace_back("ZVCLIENT_KEY_FILE", certs().path("client.key"));
  RunResult r = client.run({"--http-post", front.uri("localhost"), "<m>1</m>"}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(agent.request_count(), 1);
  // Without it, a query (written in one piece, so the refusal comes with
  // the reply) says what the agent said.
  r = client.run({"--http-get", front.uri("localhost"), "--get-status"}, trust_ca());
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

// The connections of one run after the first resume its TLS session.
TEST_F(Tls, LaterConnectionsResumeTheSession) {
  ClientFixture client;
  StandInAgent agent(client.dir(), {});
  TlsFront front(client, agent.port(), certs().path("server.both"));
  ::setenv("ZVCLIENT_CA_FILE", certs().path("ca.pem").c_str(), 1);
  const int port = std::stoi(front.uri("x").substr(front.uri("x").rfind(':') + 1));
  std::vector<bool> resumed;
  for (int i = 0; i < 3; ++i) {
    std::string_view failure;
    std::optional<Connection> connection =
        socket_open("localhost", port, false, TimeLimits{}, failure, true);
    ASSERT_TRUE(connection) << failure;
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

}  // namespace
}  // namespace zv::test
