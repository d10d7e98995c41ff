// When a submission counts as delivered: only once the agent's status line
// has arrived.  Whatever the agent does short of that, the run reports it
// and the submission is kept in the recovery log.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv::test {
namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

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
      // The agent's words cannot add to the document.
      {"status=400 reason=\"</errordetail><x>&\"", 50, "&lt;/errordetail&gt;&lt;x&gt;&amp;", false},
      {"raw=\"garbage\\r\\n\\r\\n<a>x</a>\"", 50, "Unable to access message queues.", false},
      // The reason comes from the status line only, even an empty one.
      {"raw=\"\\r\\nContent-Type: text/xml\\r\\n\\r\\n<a>x</a>\"", 50,
       "Unable to access message queues.", false},
      // It could not take it now: reported and kept.
      {"status-line=\"HTTP/1.1 500\"", 50, "The cause of this error is unknown.", true},
      {"status=503 reason=\"Busy\"", 50, "Busy", true},
      // No status line: not delivered.
      {"close", 10, kClosed, true},
      {"reset", 10, kBroken, true},
      {"cut=7", 10, kClosed, true},
      {"cut=7 hold", 10, kSilent, true},
      {"never-answer", 10, kSilent, true},
      {"never-read", 10, kSilent, true},
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
  };
  for (const Case& c : cases) expect_case(c, {"--get-status"}, false);
}

// A request too large for the socket's buffers that the agent does not
// take: what could not be written whole was not delivered, so it is kept.
TEST(Delivery, RequestNotTakenWholeIsKept) {
  const std::string message = "<m>" + std::string(16 << 20, 'm') + "</m>";
  const struct {
    const char* script;
    std::string detail;
    Env env;
  } cases[] = {
      {"refuse", "The cause of this error is unknown.", {}},  // connection dropped unread
      {"never-read", "Timeout while sending the request to the agent.", kShortLimits},
  };
  for (const auto& [script, detail, env] : cases) {
    ClientFixture fixture;
    StandInAgent agent(fixture.dir(), {"--reply", script});
    fixture.write("big.txt", message + "\n");
    RunResult r = fixture.run({"--submit-file", "big.txt"}, env);
    EXPECT_EQ(r.status, 10) << script;
    EXPECT_EQ(r.err, comm_failure(detail)) << script;
    EXPECT_TRUE(fixture.read("logs/ZVClient.log") == message + "\n") << script;
  }
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
