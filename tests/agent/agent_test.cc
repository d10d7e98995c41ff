// The stand-in agent that every end-to-end test talks to: it starts, names
// its port, records requests, answers for itself, follows a script, and
// misbehaves on purpose in the ways the client must survive.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv::test {
namespace {

const std::string kPost = "POST /agent HTTP/1.0\nContent-Length: 9\n\nmessage=x\n";

std::string post_of(const std::string& form) {
  return "POST /agent HTTP/1.0\nContent-Length: " + std::to_string(form.size()) + "\n\n" + form +
         "\n";
}

const std::string kAcceptedBody =
    transaction_document("Agent", "Status", "<status>Message accepted.</status>");
const std::string kAccepted = "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                              std::to_string(kAcceptedBody.size()) +
                              "\r\nConnection: close\r\n\r\n" + kAcceptedBody;

// A plain loopback client: what the agent sends, and how the connection ended.
class Peer {
 public:
  enum class End { eof, reset, quiet };

  explicit Peer(int port) : fd_(loopback_connect(port)) {}
  ~Peer() { ::close(fd_); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  void send(const std::string& data) { ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL); }

  /// Reads until the agent ends the connection or nothing comes for `quiet_ms`.
  End read(int quiet_ms = 10000) {
    char block[65536];
    for (pollfd p{fd_, POLLIN, 0}; ::poll(&p, 1, quiet_ms) > 0;) {
      ssize_t n = ::recv(fd_, block, sizeof block, 0);
      if (n <= 0) return n == 0 ? End::eof : errno == ECONNRESET ? End::reset : End::quiet;
      received.append(block, static_cast<std::size_t>(n));
    }
    return End::quiet;
  }

  std::string received;

 private:
  int fd_;
};

using End = Peer::End;

// One request, then everything until the agent ends the connection.
std::string exchange(int port, const std::string& request) {
  Peer peer(port);
  peer.send(request);
  peer.read();
  return peer.received;
}

// The status counts the responses still waiting: each message naming a
// client and each data-map submission leaves one, each retrieval that finds
// one takes it.
TEST(Agent, StatusCountsTheResponsesStillWaiting) {
  TempDir dir;
  StandInAgent agent(dir.path(), {});
  const std::string naming = post_of("message=%3Cclient%3Ec1%3C%2Fclient%3E");
  const std::string take = "GET /agent?client=c1 HTTP/1.0\n\n";
  const std::pair<std::string, std::string> steps[] = {
      {naming, "1"}, {naming, "2"}, {post_of("transactionid=4&mapdata=c2"), "3"}, {take, "2"},
      {take, "1"},   {take, "1"},   {"GET /agent?client=c2 HTTP/1.0\n\n", "0"}};
  for (const auto& [request, waiting] : steps) {
    exchange(agent.port(), request);
    std::string status = exchange(agent.port(), "GET /agent/status? HTTP/1.0\n\n");
    EXPECT_TRUE(holds(status, "<responses>" + waiting + "</responses>")) << request;
  }
}

// What each of `count` POSTs met under a fault mix: B reset before the
// request was read, A reset after, C closed without a reply, R the whole reply.
std::string fault_sequence(const std::string& mix, int count) {
  TempDir dir;
  StandInAgent agent(dir.path(), {"--faults", mix});
  std::string sequence;
  for (int i = 1; i <= count; ++i) {
    Peer peer(agent.port());
    peer.send(kPost);
    End end = peer.read();
    // The agent records every request it reads, so only B leaves none.
    bool recorded = !agent.request(i).empty();
    if (!recorded)
      sequence += peer.received.empty() ? 'B' : '?';
    else if (peer.received.empty())
      sequence += end == End::reset ? 'A' : end == End::eof ? 'C' : '?';
    else
      sequence += end == End::eof && peer.received == kAccepted ? 'R' : '?';
  }
  return sequence;
}

TEST(Agent, FaultMixFollowsItsSeed) {
  const std::string mix =
      ":reset-before-read=20,reset-after-read=20,close-after-read=20,trickle=20";
  std::string first = fault_sequence("7" + mix, 40);
  EXPECT_EQ(fault_sequence("7" + mix, 40), first);
  EXPECT_NE(fault_sequence("8" + mix, 40), first) << first;
  for (char kind : std::string("ABCR")) EXPECT_TRUE(holds(first, std::string(1, kind)));
  EXPECT_EQ(fault_sequence("7:", 5), "RRRRR");
  // A trickled answer is whole, only in pieces.
  EXPECT_EQ(fault_sequence("3:trickle=100", 3), "RRR");
}

TEST(Agent, AcceptedRecordHoldsWholeAnswersWithStatus200) {
  TempDir dir;
  std::string record = dir.path() + "/accepted";
  StandInAgent agent(dir.path(),
                     {"--accepted", record,       "--reply", "status=500",
                      "--reply",    "status=201", "--reply", "close",
                      "--reply",    "cut=body+1", "--reply", "length=999",
                      "--reply",    "never-read", "--reply", "trickle=16 pause=0",
                      "--reply",    "agent",      "--reply", "status=200 extra=Z hold"});
  for (std::string form :
       {"message=refused", "message=created", "message=closed", "message=cut", "message=lied",
        "message=unread", "message=a+b%26c", "message=whole", "message=held"}) {
    Peer peer(agent.port());
    peer.send(post_of(form));
    peer.read(form == "message=unread" || form == "message=held" ? 100 : 10000);
  }
  exchange(agent.port(), "GET /agent/status? HTTP/1.0\n\n");
  agent.stop();
  EXPECT_EQ(file_contents(record), "message=a+b%26c\nmessage=whole\nmessage=held\n");
}

}  // namespace
}  // namespace zv::test
