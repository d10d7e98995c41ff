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
#include <vector>

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

PeerAddress address_of(int family, const char* literal) {
  PeerAddress peer;
  if (family == AF_INET6) {
    auto& in6 = reinterpret_cast<sockaddr_in6&>(peer.address);
    in6.sin6_family = AF_INET6;
    EXPECT_EQ(inet_pton(AF_INET6, literal, &in6.sin6_addr), 1);
    peer.length = sizeof in6;
  } else {
    auto& in4 = reinterpret_cast<sockaddr_in&>(peer.address);
    in4.sin_family = AF_INET;
    EXPECT_EQ(inet_pton(AF_INET, literal, &in4.sin_addr), 1);
    peer.length = sizeof in4;
  }
  return peer;
}

// Answers every name with `code`, or with `addresses` when code is 0.
struct FakeResolver : Resolver {
  int code = 0;
  std::vector<PeerAddress> addresses;
  int resolve(const char*, PeerAddresses& found) override {
    found.count = 0;
    for (const PeerAddress& peer : addresses) found.items[found.count++] = peer;
    return code;
  }
};

// Opens host:port: "connected", or why not.  Nothing is reported: that is
// the operations' business.
std::string open(const char* host, int port, const TimeLimits& limits = {},
                 bool loopback_fallback = false) {
  testing::internal::CaptureStderr();
  std::string_view failure;
  const bool connected = socket_open(host, port, loopback_fallback, limits, failure).has_value();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  return connected ? "connected" : std::string(failure);
}

// A port above 65535 keeps its low 16 bits.  Every address of a name is
// tried in turn.  A name that does not resolve falls back to the loopback
// address only where that is allowed (the default host); elsewhere the
// resolver's code is the failure.  (Refusal, reads and writes show in every
// exchange of the end-to-end tests.)
TEST(Socket, OpensThroughTheResolver) {
  Listener listener;
  EXPECT_EQ(open("127.0.0.1", listener.port + 65536), "connected");
  const struct {
    int code;
    std::vector<PeerAddress> addresses;
    bool fallback;
    std::string expected;
  } cases[] = {
      {0,
       {address_of(AF_INET6, "::1"), address_of(AF_INET, "127.0.0.2"),
        address_of(AF_INET, "127.0.0.1")},
       false,
       "connected"},
      {0,
       {address_of(AF_INET, "127.0.0.2")},
       false,
       "No server is listening at the remote address."},
      {kTryAgain, {}, true, "connected"},
      {kTryAgain, {}, false, "A temporary server error ocurred.  Try later."},
      {kHostNotFound, {}, false, "Host not found."},
      {kNoRecovery, {}, false, "A non-recoverable name server error occurred."},
  };
  FakeResolver resolver;
  socket_set_resolver(&resolver);
  for (const auto& c : cases) {
    resolver.code = c.code;
    resolver.addresses = c.addresses;
    EXPECT_EQ(open("agent.invalid", listener.port, {}, c.fallback), c.expected) << c.code;
  }
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
  std::optional<Connection> connection =
      socket_open("127.0.0.1", listener.port, false, {}, failure);
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
