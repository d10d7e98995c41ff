// When a submission counts as delivered: only once the agent's status line
// has arrived.  Whatever the agent does short of that, the run reports it
// and the submission is kept in the recovery log.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv::test {
namespace {

const Env kShortLimits = {{"ZVCLIENT_IO_TIMEOUT", "0.3"}};

struct Case {
  std::string script;  // the agent's reply to the one request
  int status;
  std::string detail;  // the COMMUNICATIONS_FAILURE detail; empty: no report
  bool logged;
  std::string out = "";
};

const std::string kClosed = "The agent closed the connection without replying.";
const std::string kBroken = "The connection to the agent was broken before it replied.";
const std::string kSilent = "Timeout while waiting for the agent to reply.";
const std::string kCut = "The reply of the agent ended before it was complete.";
const std::string kNotHttp = "The reply of the agent is not an HTTP reply.";

void expect_case(const Case& c, const std::vector<std::string>& args, bool loggable) {
  ClientFixture fixture;
  StandInAgent agent(fixture.dir(), {"--reply", c.script});
  RunResult r = fixture.run(args, kShortLimits);
  EXPECT_EQ(r.status, c.status) << c.script;
  EXPECT_EQ(r.err, c.detail.empty() ? "" : comm_failure(c.detail)) << c.script;
  EXPECT_EQ(r.out, c.out) << c.script;
  EXPECT_EQ(fixture.exists("logs/ZVClient.log"), loggable && c.logged) << c.script;
}

TEST(Delivery, SubmissionIsLoggedUnlessTheAgentTookOrRefusedIt) {
  const Case cases[] = {
      // The agent answered: delivered, or refused for good.
      {"agent", 0, "", false},
      {"status=404 reason=\"Not Found\"", 50, "Not Found", false},
      {"status=204 reason=\"No Content\"", 50, "No Content", false},
      // The agent's words cannot add to the document, nor reach a terminal.
      {"status=400 reason=\"</errordetail><x>&\"", 50, "&lt;/errordetail&gt;&lt;x&gt;&amp;", false},
      {"status=500 reason=\"\\x1b]0;owned\\x07\\x1b[2J reason\\xff\"", 50, "?]0;owned??[2J reason?",
       true},
      // It did not take it now: reported and kept.
      {"status-line=\"HTTP/1.1 500\"", 50, "The cause of this error is unknown.", true},
      {"status=503 reason=\"Busy\"", 50, "Busy", true},
      {"status=408 reason=\"Request Timeout\"", 50, "Request Timeout", true},
      {"status=429 reason=\"Too Many Requests\"", 50, "Too Many Requests", true},
      {"status=307 reason=\"Temporary Redirect\"", 50, "Temporary Redirect", true},
      // Interim replies are skipped; chunks are decoded.
      {"raw=\"HTTP/1.1 100 Continue\\r\\n\\r\\nHTTP/1.1 200 OK\\r\\nContent-Length: "
       "4\\r\\n\\r\\n<a/>\"",
       0, "", false, "<a/>"},
      {"raw=\"HTTP/1.1 200 OK\\r\\nTransfer-Encoding: "
       "chunked\\r\\n\\r\\n2\\r\\n<a\\r\\n2;x=y\\r\\n/>"
       "\\r\\n0\\r\\nX: y\\r\\n\\r\\n\"",
       0, "", false, "<a/>"},
      // No status line: not delivered.
      {"close", 10, kClosed, true},
      {"reset", 10, kBroken, true},
      {"cut=7", 10, kClosed, true},
      {"cut=7 hold", 10, kSilent, true},
      {"never-answer", 10, kSilent, true},
      {"never-read", 10, kSilent, true},
      {"raw=\"HTTP/1.1 100 Continue\\r\\n\\r\\n\"", 10, kClosed, true},
      // Whatever answers that is not an HTTP server: not delivered.
      {"raw=\"garbage\\r\\n\\r\\n<a>x</a>\"", 10, kNotHttp, true},
      {"raw=\"\\r\\nContent-Type: text/xml\\r\\n\\r\\n<a>x</a>\"", 10, kNotHttp, true},
      {"raw=\"\\n\\n\"", 10, kNotHttp, true},
      {"raw=\"SSH-2.0-OpenSSH_9.2\\r\\n\" hold", 10, kNotHttp, true},
      {"raw=\"220 mail.example ESMTP\\r\\n\" hold", 10, kNotHttp, true},
      {"raw=\"<html><body>It works</body></html>\"", 10, kNotHttp, true},
      {"raw=\"HTTP/1.0 5000 Big\\r\\n\\r\\n\"", 10, kNotHttp, true},
      {"raw=\"HTTP/1.0 -500 Minus\\r\\n\\r\\n\"", 10, kNotHttp, true},
      {"raw=\"HTTP/1.0 099 Low\\r\\n\\r\\n\"", 10, kNotHttp, true},
      {"raw=\"HTTP/1.0 200\\x00OK\\r\\n\\r\\n<a/>\"", 10, kNotHttp, true},
      // A status line and then too little: delivered, but nothing written.
      {"raw=\"HTTP/1.0 200 OK\\r\\nContent-Length: 50\\r\\n\\r\\n<a>\"", 10, kCut, false},
      {"raw=\"HTTP/1.0 200 OK\\r\\nContent-Type: text/xml\"", 10, kCut, false},
  };
  for (const Case& c : cases) expect_case(c, {"<a>x</a>"}, true);
}

TEST(Delivery, QueriesReportTheSameFailuresAndLogNothing) {
  const Case cases[] = {
      {"close", 10, kClosed, false},
      {"never-answer", 10, kSilent, false},
      {"cut=body+10 reset", 10, kCut, false},
      {"status=503 reason=\"Busy\"", 50, "Busy", false},
      {"raw=\"HTTP/1.0 200 OK\\r\\nContent-Length: 9\\r\\n\\r\\n<a>x</a>\"", 10, kCut, false},
      // The body ends at its length, however the name is written, and
      // whether or not the agent closes the connection after it.
      {"raw=\"HTTP/1.0 200 OK\\r\\ncontent-LENGTH: 4\\r\\n\\r\\n<a/>trailing\"", 0, "", false,
       "<a/>"},
      {"body=\"<a/>\" extra=trailing hold", 0, "", false, "<a/>"},
      // A chunk longer than its size said is broken framing: nothing written.
      {"raw=\"HTTP/1.1 200 OK\\r\\nTransfer-Encoding: "
       "chunked\\r\\n\\r\\n2\\r\\n<a/>\\r\\n0\\r\\n\\r\\n\"",
       10, kCut, false},
  };
  for (const Case& c : cases) expect_case(c, {"--get-status"}, false);
}

// A request too large for the socket's buffers: what could not be written
// whole was not delivered, so it is kept, unless the agent answered before
// it had read it all; then that answer decides, as any other does.
TEST(Delivery, RequestNotTakenWholeIsKeptUnlessAnswered) {
  // More than the socket buffers of both ends hold, so the write fails.
  const std::string message = "<m>" + std::string(32 << 20, 'm') + "</m>";
  const struct {
    const char* script;
    int status;
    std::string detail;  // empty: no report
    bool kept, short_limits = false;
  } cases[] = {
      // Connection dropped unread.
      {"refuse", 10, "The cause of this error is unknown.", true},
      {"never-read", 10, "Timeout while sending the request to the agent.", true, true},
      {"early", 0, "", false},
      {"early status=413 reason=\"Payload Too Large\"", 50, "Payload Too Large", false},
      {"early status=503 reason=\"Busy\"", 50, "Busy", true},
  };
  for (const auto& c : cases) {
    ClientFixture fixture;
    StandInAgent agent(fixture.dir(), {"--reply", c.script});
    fixture.write("big.txt", message + "\n");
    RunResult r = fixture.run({"--submit-file", "big.txt"}, c.short_limits ? kShortLimits : Env{});
    EXPECT_EQ(r.status, c.status) << c.script;
    // A file run that kept anything ends by saying so.
    const std::string summary =
        c.kept ? "ERROR  1 of 1 submissions were kept in logs/ZVClient.log for a later recovery.\n"
               : "";
    EXPECT_EQ(r.err, (c.detail.empty() ? "" : comm_failure(c.detail)) + summary) << c.script;
    EXPECT_TRUE(fixture.read("logs/ZVClient.log") == (c.kept ? message + "\n" : "")) << c.script;
  }
}

// A chunked reply is whole only with its last chunk and the empty line after
// the trailer: cut at any boundary of its framing, nothing is written.
TEST(Delivery, ChunkedReplyCutAtAnyBoundaryWritesNothing) {
  const std::string body = "<transaction><data><v>0123456789</v></data></transaction>";
  const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  char second_size[16];
  std::snprintf(second_size, sizeof second_size, "%zx\r\n", body.size() - 20);
  // The pieces of the framing and the body; a cut after each but the last.
  const std::string pieces[] = {
      "14\r\n", body.substr(0, 20), "\r\n", second_size, body.substr(20), "\r\n", "0\r\n", "\r\n"};
  std::string reply = head;
  std::vector<std::size_t> boundaries = {reply.size()};
  for (const std::string& piece : pieces) {
    reply += piece;
    boundaries.push_back(reply.size());
  }
  boundaries.pop_back();  // the whole reply
  std::string escaped;
  for (char c : reply) escaped += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  for (std::size_t cut : boundaries) {
    ClientFixture fixture;
    StandInAgent agent(fixture.dir(),
                       {"--reply", "raw=\"" + escaped + "\" cut=" + std::to_string(cut)});
    RunResult r = fixture.run({"--get-status"});
    EXPECT_EQ(r.status, 10) << cut;
    EXPECT_EQ(r.err, comm_failure(kCut)) << cut;
    EXPECT_EQ(r.out, "") << cut;
  }
  ClientFixture fixture;
  StandInAgent agent(fixture.dir(), {"--reply", "raw=\"" + escaped + "\" hold"});
  RunResult r = fixture.run({"--get-status"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, body);
}

// A reply that trickles in is not cut while bytes keep arriving, even when
// it takes longer in all than the limit allows for one wait.
TEST(Delivery, SlowRepliesAreNotCutWhileTheyProgress) {
  const std::string body = "<transaction><data><v>payload</v></data></transaction>";
  ClientFixture fixture;
  StandInAgent agent(fixture.dir(),
                     {"--reply", "body=\"" + body + "\" split=10,20,30,40,50,60,70,80 pause=100"});
  RunResult r = fixture.run({"--get-response", "c"}, {{"ZVCLIENT_IO_TIMEOUT", "0.5"}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, body);
}

// Each variable sets its own limit, and 0 waits for ever: a reply that
// stops for 0.8 s after its first byte is cut only by an I/O limit shorter
// than that.
TEST(Delivery, TimeLimitsComeFromTheirOwnVariables) {
  const struct {
    Env env;
    int status;
    std::string err;
  } cases[] = {
      {{{"ZVCLIENT_IO_TIMEOUT", "0"}}, 0, ""},
      {{{"ZVCLIENT_IO_TIMEOUT", "0.3"}}, 10, comm_failure(kSilent)},
      {{{"ZVCLIENT_CONNECT_TIMEOUT", "0.3"}}, 0, ""},
      // The whole exchange has its own deadline, however the bytes trickle.
      {{{"ZVCLIENT_EXCHANGE_TIMEOUT", "0.5"}}, 10, comm_failure(kSilent)},
      // A value that is no number of seconds is named, and its default used.
      {{{"ZVCLIENT_IO_TIMEOUT", "soon"}},
       0,
       "ERROR  ZVCLIENT_IO_TIMEOUT is not a number of seconds; its default is used.\n"},
  };
  for (const auto& c : cases) {
    ClientFixture fixture;
    StandInAgent agent(fixture.dir(), {"--reply", "split=1 pause=800"});
    RunResult r = fixture.run({"<a>x</a>"}, c.env);
    EXPECT_EQ(r.status, c.status) << c.env[0].first << "=" << c.env[0].second;
    EXPECT_EQ(r.err, c.err) << c.env[0].first << "=" << c.env[0].second;
  }
}

}  // namespace
}  // namespace zv::test
