// The stand-in agent that every end-to-end test talks to: it starts, names
// its port, records requests, answers for itself, follows a script, and
// misbehaves on purpose in the ways the client must survive.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>
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

std::string reply_head(const std::string& status_line, std::size_t length) {
  return "HTTP/1.0 " + status_line +
         "\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(length) +
         "\r\nConnection: close\r\n\r\n";
}

std::string status_reply(const std::string& status_line, const std::string& data) {
  std::string body = transaction_document("Agent", "Status", data);
  return reply_head(status_line, body.size()) + body;
}

const std::string kAccepted = status_reply("200 OK", "<status>Message accepted.</status>");

// A plain loopback client: what the agent sends, and how the connection ended.
class Peer {
 public:
  enum class End { eof, reset, enough, quiet };

  explicit Peer(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Peer() { ::close(fd_); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  /// False when the agent reset the connection before the request went out.
  bool send(const std::string& data) {
    return connected_ &&
           ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(data.size());
  }

  /// Reads until `want` bytes arrived in all, the agent ends the connection,
  /// or nothing comes for `quiet_ms`.
  End read(std::size_t want = std::string::npos, int quiet_ms = 10000) {
    char block[65536];
    while (received.size() < want) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, quiet_ms) == 0) return End::quiet;
      ssize_t n = ::recv(fd_, block, std::min(sizeof block, want - received.size()), 0);
      if (n == 0) return End::eof;
      if (n < 0) return errno == ECONNRESET ? End::reset : End::quiet;
      received.append(block, static_cast<std::size_t>(n));
      ++reads;
    }
    return End::enough;
  }

  std::string received;
  int reads = 0;

 private:
  int fd_;
  bool connected_ = false;
};

using End = Peer::End;

void PrintTo(End end, std::ostream* out) {
  static const char* const kNames[] = {"eof", "reset", "enough", "quiet"};
  *out << kNames[static_cast<int>(end)];
}

// The agent following a one-line script, in a directory of its own.
struct ScriptedAgent {
  TempDir dir;
  StandInAgent agent;
  explicit ScriptedAgent(const std::string& script) : agent(dir.path(), {"--reply", script}) {}
  int port() const { return agent.port(); }
};

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
    EXPECT_NE(status.find("<responses>" + waiting + "</responses>"), std::string::npos)
        << request << status;
  }
}

// One scripted reply: all that arrives until the agent ends the connection
// (eof, reset), falls silent (quiet) or has sent 2 MiB of an endless reply
// (enough; then only the start of it is compared).  The agent then serves
// the next client.
TEST(Agent, ScriptedRepliesCutShortLyingEndlessOrHeld) {
  constexpr std::size_t kEnough = 2 << 20;
  const std::string body136(136, 'b');
  struct Case {
    std::string script;
    End end;
    std::string received;
    int min_reads = 0;
    bool read = true;  // the agent took the request
  } cases[] = {
      {"status=200 cut=12", End::eof, "HTTP/1.0 200"},
      {"cut=0 reset", End::reset, ""},
      {"body=abcdef cut=body+3 reset", End::reset, reply_head("200 OK", 6) + "abc"},
      {"length=67108864 body=" + body136, End::eof, reply_head("200 OK", 67108864) + body136},
      {"body=abc extra=XYZ", End::eof, reply_head("200 OK", 3) + "abcXYZ"},
      {"trickle=1", End::eof, kAccepted, 2},
      {"body=abcdef trickle=3 pause=0 cut=body+4", End::eof, reply_head("200 OK", 6) + "abcd"},
      {"never-answer", End::quiet, ""},
      {"never-read", End::quiet, "", 0, false},
      {"status=200 cut=4 hold", End::quiet, "HTTP"},
      {"body=abc extra=XYZ hold", End::quiet, reply_head("200 OK", 3) + "abcXYZ"},
      {"endless-header", End::enough, "HTTP/1.0 200 OK\r\n"},
      {"status=500 endless-body", End::enough, "HTTP/1.0 500 Internal Server Error\r\n"},
      {"endless-body trickle=4096 pause=0", End::enough, "HTTP/1.0 200 OK\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    ScriptedAgent agent(c.script);
    {
      Peer peer(agent.port());
      ASSERT_TRUE(peer.send(kPost));
      if (c.end == End::quiet) {
        ASSERT_EQ(peer.read(c.received.size()), End::enough);
        EXPECT_EQ(peer.read(std::string::npos, 100), End::quiet);
      } else {
        EXPECT_EQ(peer.read(c.end == End::enough ? kEnough : std::string::npos), c.end);
      }
      EXPECT_GE(peer.reads, c.min_reads);
      if (c.end != End::enough) {
        EXPECT_EQ(peer.received, c.received);
      } else {
        EXPECT_TRUE(peer.received.starts_with(c.received));
        const std::size_t head = peer.received.find("\r\n\r\n");
        EXPECT_EQ(head == std::string::npos, c.script == "endless-header");
        EXPECT_EQ(peer.received.substr(0, head).find("Content-Length"), std::string::npos);
      }
    }
    EXPECT_EQ(exchange(agent.port(), kPost), kAccepted);
    EXPECT_EQ(agent.agent.request(1).empty(), !c.read);
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
  for (char kind : std::string("ABCR")) EXPECT_NE(first.find(kind), std::string::npos) << first;
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
    peer.read(std::string::npos, form == "message=unread" || form == "message=held" ? 100 : 10000);
  }
  exchange(agent.port(), "GET /agent/status? HTTP/1.0\n\n");
  agent.stop();
  EXPECT_EQ(file_contents(record), "message=a+b%26c\nmessage=whole\nmessage=held\n");
}

}  // namespace
}  // namespace zv::test
