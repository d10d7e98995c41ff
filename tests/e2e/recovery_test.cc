// Recovery end to end: what a run could not deliver is sent again, byte for
// byte, by a later --recover-file run.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv::test {
namespace {

const std::vector<std::vector<std::string>> kSubmissions = {
    {"<transaction><data><a>1</a></data></transaction>"},
    {"disk full on db1"},
    {"<a>two\nlines\r\nand a CR</a>"},
    {"back\\slash \\n caf\xc3\xa9 \xff"},
    {""},
    {"--map-data", "cust7", "a b", "say \"hi\"", "c:\\", "", "'"},
    {"--map-data-transaction-id", "T-9", "--map-data", "cust8", "x"},
    {"--map-data", "42", "line\nbreak"},
    {"--map-data"},
};

TEST(Recovery, EverySubmissionIsReplayedAsSent) {
  // What the agent receives when each submission goes through at once.
  ClientFixture direct;
  std::vector<std::string> expected;
  {
    StandInAgent agent(direct.dir(), {});
    for (const auto& args : kSubmissions) direct.run(args);
    ASSERT_EQ(agent.request_count(), static_cast<int>(kSubmissions.size()));
    for (int i = 1; i <= agent.request_count(); ++i)
      expected.push_back(request_form(agent.request(i)));
  }

  // The same submissions while the agent is down, then recovered.
  ClientFixture later;
  later.configure_port(unused_port());
  for (const auto& args : kSubmissions) EXPECT_EQ(later.run(args).status, 10);
  StandInAgent agent(later.dir(), {});
  RunResult r = later.run({"--recover-file", "logs/ZVClient.log"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(agent.request_count(), static_cast<int>(kSubmissions.size()));
  for (int i = 1; i <= agent.request_count(); ++i) {
    EXPECT_EQ(request_form(agent.request(i)), expected[i - 1]) << "submission " << i;
  }
  EXPECT_FALSE(later.exists("logs/ZVClient.log"));
  EXPECT_TRUE(later.exists("logs/ZVClient.log.recover"));
}

TEST(Recovery, FailingAgainStartsAFreshLog) {
  ClientFixture client;
  client.configure_port(unused_port());
  client.run({"<a>1</a>"});
  client.run({"--map-data", "c", "x"});
  std::string first_log = client.read("logs/ZVClient.log");
  client.write("logs/ZVClient.log.recover", "stale");
  RunResult r = client.run({"--recover-file", "logs/ZVClient.log"});
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(client.read("logs/ZVClient.log.recover"), first_log);
  EXPECT_EQ(client.read("logs/ZVClient.log"), first_log);
}

// A log in the plain form, as older clients wrote it, is read the old way;
// so is a marked line this client cannot have written.  A line that is no
// submission is reported with its words, and the lines after it still go.
TEST(Recovery, PlainLinesAreReadAsBefore) {
  ClientFixture client;
  StandInAgent agent(client.dir(), {});
  client.write("old.log",
               "<a>msg</a>\n12 \"cust7\" \"a b\"\nhello world\n\036Mbad \\q escape\n<a>end</a>\n");
  RunResult r = client.run({"--recover-file", "old.log"});
  EXPECT_EQ(r.status, 40);
  ASSERT_EQ(agent.request_count(), 3);
  EXPECT_EQ(request_form(agent.request(1)), "message=%3Ca%3Emsg%3C%2Fa%3E");
  EXPECT_EQ(request_form(agent.request(2)), "transactionid=12&mapdata=cust7&mapdata=a+b");
  EXPECT_EQ(request_form(agent.request(3)), "message=%3Ca%3Eend%3C%2Fa%3E");
  EXPECT_TRUE(holds(r.err, "<errorcode>INVALID_MAP_DATA</errorcode>"));
  EXPECT_TRUE(holds(r.err, "<![CDATA[hello world]]>"));
  // The mark is a control character: shown as "?".
  EXPECT_TRUE(holds(r.err, "<![CDATA[?Mbad q escape]]>"));
  // What is no submission is kept aside, as it was, and said so.
  EXPECT_EQ(client.read("old.log.setaside"), "hello world\n\036Mbad \\q escape\n");
  EXPECT_TRUE(
      holds(r.err, "ERROR  A line that is no submission was set aside in old.log.setaside.\n"));
}

// A last line without its LF is a record a killed writer left half
// written: never sent, set aside whole; a mark that cannot be read sends
// the recover file again from its start; a line no log place takes stops
// the recovery before it, and the next run goes on from there.
TEST(Recovery, TornUnreadableAndUnkeptLinesAreNeverLost) {
  ClientFixture client;
  std::filesystem::create_directories(client.dir() + "/logs");
  client.write("logs/ZVClient.log.recover", "<a>0</a>\n<a>1</a>\n");
  client.write("logs/ZVClient.log.recover.offset", "");
  client.write("logs/ZVClient.log", "<a>2</a>\n<a>torn");
  {
    StandInAgent agent(client.dir(), {});
    RunResult r = client.run({"--recover-file", "logs/ZVClient.log"});
    EXPECT_EQ(r.status, 40) << r.err;
    ASSERT_EQ(agent.request_count(), 3);
    EXPECT_EQ(request_form(agent.request(1)), "message=%3Ca%3E0%3C%2Fa%3E");
    EXPECT_EQ(request_form(agent.request(3)), "message=%3Ca%3E2%3C%2Fa%3E");
    EXPECT_EQ(client.read("logs/ZVClient.log.setaside"), "<a>torn\n");
  }
  // Every write beyond 1 KiB fails (a full disk, everywhere): the agent is
  // down, so the long lines can be kept nowhere.
  const std::string long_line = "<a>" + std::string(3000, 'x') + "</a>";
  client.write("logs/ZVClient.log", "<a>3</a>\n" + long_line + "\n<a>5</a>\n");
  client.configure_port(unused_port());
  RunResult full = client.shell("--recover-file logs/ZVClient.log", "ulimit -f 1;");
  EXPECT_EQ(full.status, 40);
  EXPECT_TRUE(holds(full.err, "ERROR  Recovery stopped at a line"));
  EXPECT_TRUE(client.exists("logs/ZVClient.log.recover.offset"));
  EXPECT_FALSE(client.exists("ZVClient.log"));  // a place that took nothing is left as it was
  // Stopped again where it stood: the fresh log is not renamed over it.
  RunResult still_full = client.shell("--recover-file logs/ZVClient.log", "ulimit -f 1;");
  EXPECT_EQ(still_full.status, 40);
  StandInAgent agent(client.dir(), {});
  RunResult again = client.run({"--recover-file", "logs/ZVClient.log"});
  EXPECT_EQ(again.status, 0) << again.err;
  // From the mark on, then the line that was kept in a fresh log.
  ASSERT_EQ(agent.request_count(), 3);
  EXPECT_EQ(request_form(agent.request(1)), "message=" + url_encode(long_line));
  EXPECT_EQ(request_form(agent.request(2)), "message=%3Ca%3E5%3C%2Fa%3E");
  EXPECT_EQ(request_form(agent.request(3)), "message=%3Ca%3E3%3C%2Fa%3E");
  EXPECT_FALSE(client.exists("logs/ZVClient.log.recover.offset"));
}

// Under a memory limit a line too long to hold is never cut into pieces
// that go out as lines of their own: a submit file skips it whole (exit 30)
// and goes on; a recovery stops before it, and a later one without the
// limit delivers it.  Address-space limits and the sanitizers' shadow
// memory do not go together, so a sanitizer build skips this.
TEST(Recovery, LineTooLongForTheMemoryIsNeverCut) {
#if defined(__SANITIZE_ADDRESS__) || defined(ZV_SANITIZED)
  GTEST_SKIP() << "address-space limits do not go with the sanitizers";
#endif
  ClientFixture client;
  const std::string long_line = "<m>" + std::string(80 << 20, 'm') + "</m>";
  const std::string lines = "<a>1</a>\n" + long_line + "\n<a>3</a>\n";
  client.write("lines.txt", lines);
  {
    StandInAgent agent(client.dir(), {});
    RunResult r = client.shell("--submit-file lines.txt", "ulimit -v 60000;");
    EXPECT_EQ(r.status, 30);
    ASSERT_EQ(agent.request_count(), 2);
    EXPECT_EQ(request_form(agent.request(2)), "message=%3Ca%3E3%3C%2Fa%3E");
  }
  // Each agent below counts its own requests.
  const auto forget_requests = [&] {
    for (int i = 1; i <= 3; ++i)
      std::filesystem::remove(client.dir() + "/request." + std::to_string(i));
  };
  forget_requests();
  std::filesystem::create_directories(client.dir() + "/logs");
  client.write("logs/ZVClient.log", lines);
  {
    StandInAgent agent(client.dir(), {});
    RunResult r = client.shell("--recover-file logs/ZVClient.log", "ulimit -v 60000;");
    EXPECT_EQ(r.status, 30);
    EXPECT_EQ(agent.request_count(), 1);
    EXPECT_TRUE(holds(r.err, "ERROR  Recovery stopped at a line"));
  }
  forget_requests();
  StandInAgent agent(client.dir(), {});
  RunResult r = client.run({"--recover-file", "logs/ZVClient.log"});
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 300);
  EXPECT_EQ(agent.request_count(), 2);
  EXPECT_EQ(request_form(agent.request(2)), "message=%3Ca%3E3%3C%2Fa%3E");
}

}  // namespace
}  // namespace zv::test
