// Recovery end to end: what a run could not deliver is sent again, byte for
// byte, by a later --recover-file run.
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
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(agent.request_count(), 3);
  EXPECT_EQ(request_form(agent.request(1)), "message=%3Ca%3Emsg%3C%2Fa%3E");
  EXPECT_EQ(request_form(agent.request(2)), "transactionid=12&mapdata=cust7&mapdata=a+b");
  EXPECT_EQ(request_form(agent.request(3)), "message=%3Ca%3Eend%3C%2Fa%3E");
  EXPECT_NE(r.err.find("<errorcode>INVALID_MAP_DATA</errorcode>"), std::string::npos);
  EXPECT_NE(r.err.find("<![CDATA[hello world]]>"), std::string::npos);
  // The mark is a control character: shown as "?".
  EXPECT_NE(r.err.find("<![CDATA[?Mbad q escape]]>"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace zv::test
