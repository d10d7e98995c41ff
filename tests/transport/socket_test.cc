#include "transport/socket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "agent_fixture.h"
#include "base/error.h"
#include "transport/endpoint.h"

namespace zv {
namespace {

struct Listener {
  int port = 0;
  int fd = test::loopback_socket(port, true);
  ~Listener() { ::close(fd); }
  int accept_one() const { return ::accept(fd, nullptr, nullptr); }  // after a connect only
};

// Names never resolve; the loopback fallback does as told.
struct FakeResolver : Resolver {
  bool loopback_ok = true;
  int code = kHostNotFound;
  bool by_name(const char*, in_addr&, int& h_error) override { return h_error = code, false; }
  bool loopback(in_addr& address, int& h_error) override {
    address.s_addr = htonl(INADDR_LOOPBACK);
    return h_error = code, loopback_ok;
  }
};

// Opens host:port: "connected", or why not.  Nothing is reported: that is
// the operations' business.
std::string open(const char* host, int port, const TimeLimits& limits = {}) {
  testing::internal::CaptureStderr();
  std::string_view failure;
  const bool connected = socket_open(host, port, limits, failure).has_value();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  return connected ? "connected" : std::string(failure);
}

// A port above 65535 keeps its low 16 bits.  A name that does not resolve
// falls back to the loopback address; when that fails too, the resolver's
// code is reported.  (Refusal, reads and writes show in every exchange of
// the end-to-end tests.)
TEST(Socket, OpensThroughTheResolver) {
  Listener listener;
  EXPECT_EQ(open(kLoopbackHost, listener.port + 65536), "connected");
  FakeResolver resolver;
  socket_set_resolver(&resolver);
  EXPECT_EQ(open(kLoopbackHost, listener.port), "connected");
  resolver.loopback_ok = false;
  resolver.code = kTryAgain;
  EXPECT_EQ(open(kLoopbackHost, listener.port), "A temporary server error ocurred.  Try later.");
  socket_set_resolver(nullptr);
}

// A listener whose queue is full drops further connection requests, so a
// connect neither succeeds nor fails until its limit ends it.
TEST(Socket, ConnectGivesUpAtItsLimit) {
  int port = 0;
  const int fd = test::loopback_socket(port, false);
  ASSERT_EQ(::listen(fd, 0), 0);
  std::string result = "connected";
  for (int i = 0; i < 16 && result == "connected"; ++i) {
    result = open("127.0.0.1", port, TimeLimits{200, 0});
  }
  ::close(fd);
  EXPECT_EQ(result, "Timeout while attemping to connect.");
}

volatile std::sig_atomic_t alarms = 0;

TEST(Socket, WriteDeliversEveryByteThroughSignalsAndShortSends) {
  Listener listener;
  std::string_view failure;
  std::optional<Connection> connection = socket_open("127.0.0.1", listener.port, {}, failure);
  ASSERT_TRUE(connection.has_value());
  const int peer = listener.accept_one();
  std::string sent(16 << 20, 'a');
  for (std::size_t i = 0; i < sent.size(); i += 4093) sent[i] = static_cast<char>(i % 251);
  std::string received;
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    char buffer[65536];
    for (ssize_t n; (n = ::recv(peer, buffer, sizeof buffer, 0)) != 0;) {
      if (n < 0 && errno != EINTR) break;
      if (n > 0) received.append(buffer, n);
    }
    ::close(peer);
  });
  // Without SA_RESTART the timer's signal interrupts the blocked send, which
  // then returns a short count or EINTR.
  struct sigaction action {
  }, previous{};
  action.sa_handler = [](int) { alarms = alarms + 1; };
  ::sigaction(SIGALRM, &action, &previous);
  itimerval every_ms{{0, 1000}, {0, 1000}}, off{};
  ::setitimer(ITIMER_REAL, &every_ms, nullptr);
  int result = socket_write(*connection, sent);
  ::setitimer(ITIMER_REAL, &off, nullptr);
  ::sigaction(SIGALRM, &previous, nullptr);
  connection.reset();
  reader.join();
  EXPECT_EQ(result, 0);
  EXPECT_GT(alarms, 0);
  EXPECT_TRUE(received == sent) << received.size() << " of " << sent.size() << " bytes";
}

}  // namespace
}  // namespace zv
