#include "transport/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "cli/arguments.h"
#include "cli/error.h"

namespace zv {
namespace {

// A listening socket on 127.0.0.1 with a port chosen by the system.
class Listener {
 public:
  Listener() {
    descriptor_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(descriptor_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(descriptor_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { close(descriptor_); }
  int port() const { return port_; }
  void listen_now() { ASSERT_EQ(listen(descriptor_, 4), 0); }
  // Only called after a connect succeeded, so it does not block for long.
  int accept_one() { return accept(descriptor_, nullptr, nullptr); }

 private:
  int descriptor_;
  int port_;
};

struct FakeResolver : Resolver {
  bool loopback_ok = true;
  int code = kHostNotFound;
  int loopback_calls = 0;
  bool by_name(const char*, in_addr&, int& h_error) override {
    h_error = code;
    return false;
  }
  bool loopback(in_addr& address, int& h_error) override {
    ++loopback_calls;
    address.s_addr = htonl(INADDR_LOOPBACK);
    h_error = code;
    return loopback_ok;
  }
};

struct ResolverScope {
  explicit ResolverScope(Resolver* resolver) { socket_set_resolver(resolver); }
  ~ResolverScope() { socket_set_resolver(nullptr); }
};

std::string comm_document(std::string_view detail) {
  return "<?xml version=\"1.0\"?><transaction id=\"0\"><header><method>Agent</method>"
         "<subclass>ERROR</subclass></header><data><errorcode>COMMUNICATIONS_FAILURE</errorcode>"
         "<errortext>Failed to perform communication request.</errortext><errordetail>" +
         std::string(detail) + "</errordetail></data></transaction>\n";
}

// Opens, expecting failure; returns what went to standard error.
std::string failed_open(const char* host, int port) {
  set_exit_code(kExitOk);
  testing::internal::CaptureStderr();
  std::optional<Connection> connection = socket_open(host, port);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(connection.has_value());
  EXPECT_EQ(get_exit_code(), kExitCommunication);
  set_exit_code(kExitOk);
  return err;
}

void expect_round_trip(Connection& connection, int peer) {
  ASSERT_EQ(socket_write(connection, "ping"), 0);
  char buffer[8] = {};
  ASSERT_EQ(recv(peer, buffer, 4, MSG_WAITALL), 4);
  EXPECT_EQ(std::string(buffer, 4), "ping");
  ASSERT_EQ(send(peer, "pong", 4, 0), 4);
  close(peer);
  std::string got;
  for (ssize_t n; (n = socket_read(connection, buffer, sizeof buffer)) > 0;) got.append(buffer, n);
  EXPECT_EQ(got, "pong");
}

TEST(Socket, CommErrorTable) {
  struct Case {
    int code;
    const char* text;
  } cases[] = {
      {1, "Host not found."},
      {2, "A temporary server error ocurred.  Try later."},
      {3, "A non-recoverable name server error occurred."},
      {4, "No address found."},
      {EBADF, "The file descriptor is invalid."},
      {EAGAIN, "No more free local ports.  Try again later."},
      {EFAULT, "The socket structure address is invalid."},
      {ENETUNREACH, "The network is unreachable."},
      {ETIMEDOUT, "Timeout while attemping to connect."},
      {ECONNREFUSED, "No server is listening at the remote address."},
      {EACCES, "The cause of this error is unknown."},
      {0, "The cause of this error is unknown."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(comm_error_text(c.code), c.text) << c.code;
    testing::internal::CaptureStderr();
    show_comm_error(c.code);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), comm_document(c.text));
  }
}

TEST(Socket, OpensUsableConnection) {
  Listener listener;
  listener.listen_now();
  // A port above 65535 keeps its low 16 bits.
  int ports[] = {listener.port(), listener.port() + 65536};
  for (const char* host : {"127.0.0.1", kLoopbackHost}) {
    for (int port : ports) {
      set_exit_code(kExitOk);
      std::optional<Connection> connection = socket_open(host, port);
      ASSERT_TRUE(connection.has_value()) << host << ':' << port;
      expect_round_trip(*connection, listener.accept_one());
      EXPECT_EQ(get_exit_code(), kExitOk);
    }
  }
}

TEST(Socket, RefusedPortReportsAndRecordsTen) {
  int port;
  {
    Listener bound_then_closed;
    port = bound_then_closed.port();
  }
  EXPECT_EQ(failed_open("127.0.0.1", port),
            comm_document("No server is listening at the remote address."));
}

TEST(Socket, UnresolvedNameFallsBackToLoopback) {
  Listener listener;
  listener.listen_now();
  FakeResolver resolver;
  ResolverScope scope(&resolver);
  set_exit_code(kExitOk);
  testing::internal::CaptureStderr();
  std::optional<Connection> connection = socket_open(kLoopbackHost, listener.port());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_TRUE(connection.has_value());
  EXPECT_EQ(resolver.loopback_calls, 1);
  expect_round_trip(*connection, listener.accept_one());
  EXPECT_EQ(get_exit_code(), kExitOk);
}

TEST(Socket, NameAndLoopbackUnresolvedReportResolverCode) {
  FakeResolver resolver;
  resolver.loopback_ok = false;
  ResolverScope scope(&resolver);
  for (int code : {kHostNotFound, kTryAgain, kNoRecovery, kNoAddress}) {
    resolver.code = code;
    EXPECT_EQ(failed_open(kLoopbackHost, 2010), comm_document(comm_error_text(code)));
  }
}

TEST(Socket, SystemResolverFindsLoopbackWithoutNameServer) {
  Resolver& resolver = socket_resolver();
  in_addr address{};
  int h_error = 0;
  ASSERT_TRUE(resolver.loopback(address, h_error));
  EXPECT_EQ(ntohl(address.s_addr), INADDR_LOOPBACK);
  for (const char* host : {"127.0.0.1", kLoopbackHost}) {
    address = {};
    ASSERT_TRUE(resolver.by_name(host, address, h_error)) << host;
    EXPECT_EQ(ntohl(address.s_addr), INADDR_LOOPBACK) << host;
  }
}

bool is_open(int descriptor) { return fcntl(descriptor, F_GETFD) != -1; }

TEST(Socket, ConnectionClosesOnceAndMovesLeaveMinusOne) {
  int first = socket(AF_INET, SOCK_STREAM, 0);
  int second = socket(AF_INET, SOCK_STREAM, 0);
  {
    Connection a(first);
    Connection b(std::move(a));
    EXPECT_EQ(a.descriptor(), -1);
    EXPECT_EQ(b.descriptor(), first);
    Connection c(second);
    c = std::move(b);  // closes `second`
    EXPECT_EQ(b.descriptor(), -1);
    EXPECT_EQ(c.descriptor(), first);
    EXPECT_FALSE(is_open(second));
    EXPECT_TRUE(is_open(first));
  }
  EXPECT_FALSE(is_open(first));
}

volatile std::sig_atomic_t alarms = 0;
void count_alarm(int) { alarms = alarms + 1; }

TEST(Socket, WriteDeliversEveryByteThroughSignalsAndShortSends) {
  Listener listener;
  listener.listen_now();
  std::optional<Connection> connection = socket_open("127.0.0.1", listener.port());
  ASSERT_TRUE(connection.has_value());
  int peer = listener.accept_one();

  std::string sent(16 << 20, '\0');
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7 % 251);
  std::string received;
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    char buffer[65536];
    for (;;) {
      ssize_t n = recv(peer, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      received.append(buffer, n);
    }
    close(peer);
  });

  // Without SA_RESTART the timer's signal interrupts the blocked send, which
  // then returns a short count or EINTR.
  struct sigaction action {}, previous{};
  action.sa_handler = count_alarm;
  sigaction(SIGALRM, &action, &previous);
  itimerval every_ms{{0, 1000}, {0, 1000}}, off{};
  setitimer(ITIMER_REAL, &every_ms, nullptr);
  int result = socket_write(*connection, sent);
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &previous, nullptr);

  connection.reset();
  reader.join();
  EXPECT_EQ(result, 0);
  EXPECT_GT(alarms, 0);
  EXPECT_TRUE(received == sent) << received.size() << " of " << sent.size() << " bytes";
}

TEST(Socket, WriteToClosedPeerReturnsErrnoWithoutSigpipe) {
  auto old_handler = std::signal(SIGPIPE, SIG_DFL);
  Listener listener;
  listener.listen_now();
  std::optional<Connection> connection = socket_open("127.0.0.1", listener.port());
  ASSERT_TRUE(connection.has_value());
  close(listener.accept_one());
  int result = 0;
  // The first send may still be taken before the peer's reset arrives.
  for (int attempt = 0; attempt < 200 && result == 0; ++attempt) {
    result = socket_write(*connection, "x");
    if (result == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(result == EPIPE || result == ECONNRESET) << result;
  std::signal(SIGPIPE, old_handler);
}

}  // namespace
}  // namespace zv
