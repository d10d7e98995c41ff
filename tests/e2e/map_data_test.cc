// Data-map submissions of the built client against the stand-in agent: the
// form text on the wire, the rejected lines, a missing file and the
// recovery log of an undeliverable submission.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv::test {
namespace {

TEST(MapDataE2e, CommandLineWordsBecomeTheForm) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--map-data", "cust7", "disk", "full"},
       "transactionid=1&mapdata=cust7&mapdata=disk&mapdata=full"},
      {{"--map-data-transaction-id", "42", "--map-data", "cust7", "x"},
       "transactionid=42&mapdata=cust7&mapdata=x"},
      {{"--map-data"}, "transactionid=1"},
      {{"--map-data", "7cust", "x"}, "transactionid=7cust&mapdata=x"},
      {{"--map-data", "cust 7", "--help", "a&b"},
       "transactionid=1&mapdata=cust+7&mapdata=--help&mapdata=a%26b"},
  };
  ClientFixture client;
  StandInAgent agent(client.dir(), {});
  int sent = 0;
  for (const auto& [args, form] : cases) {
    RunResult r = client.run(args);
    EXPECT_EQ(r.status, 0) << form;
    EXPECT_EQ(r.out + r.err, "") << form;
    ASSERT_EQ(agent.request_count(), ++sent) << form;
    EXPECT_TRUE(matches_request(agent.request(sent), form_request(agent.port(), form)));
  }
  EXPECT_FALSE(client.exists("logs/ZVClient.log"));
}

// A line whose first word is no number is rejected (exit 20: nothing of it
// was sent), unless the command line gives a transaction id.
TEST(MapDataE2e, FileLinesAreSentOneByOne) {
  ClientFixture client;
  StandInAgent agent(client.dir(), {});
  client.write(
      "map.txt",
      "12 cust7 disk full\n13 \"cust 7\" 'd e'\tx\\ y\r\n\ncust7 \"disk full\"\n  14 \"a\"b\n");
  RunResult r = client.run({"--map-data-file", "map.txt"});
  EXPECT_EQ(r.status, 20);
  EXPECT_EQ(r.err,
            "<?xml version=\"1.0\"?><transaction id=\"0\"><header><method>Agent</method>"
            "<subclass>ERROR</subclass></header><data><errorcode>INVALID_MAP_DATA</errorcode>"
            "<errortext>Invalid Transaction ID</errortext><errordetail>Transaction ID must be a "
            "positive Integer</errordetail><incoming_message><![CDATA[cust7 disk full]]>"
            "</incoming_message></data></transaction>\n");
  client.write("map.txt", "cust7 \"disk full\"\n");
  EXPECT_EQ(client.run({"--map-data-transaction-id", "7", "--map-data-file", "map.txt"}).err, "");
  const std::string forms[] = {
      "transactionid=12&mapdata=cust7&mapdata=disk&mapdata=full",
      "transactionid=13&mapdata=cust+7&mapdata=d+e&mapdata=x+y",
      "transactionid=14&mapdata=a&mapdata=b",
      "transactionid=7&mapdata=cust7&mapdata=disk+full",
  };
  ASSERT_EQ(agent.request_count(), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(matches_request(agent.request(i + 1), form_request(agent.port(), forms[i])));
  }
}

TEST(MapDataE2e, AgentDownLogsTheSubmission) {
  ClientFixture client;
  client.configure_port(unused_port());
  EXPECT_EQ(client.run({"--map-data", "cust7", "disk"}).status, 10);
  client.write("map.txt", "12 \"a b\" c:\\\\d\n");
  EXPECT_EQ(client.run({"--map-data-file", "map.txt"}).status, 10);
  EXPECT_EQ(client.run({"--map-data"}).status, 10);
  EXPECT_EQ(client.read("logs/ZVClient.log"), "1 \"cust7\" \"disk\"\n12 \"a b\" \"c:\\\\d\"\n1 \n");
}

}  // namespace
}  // namespace zv::test
