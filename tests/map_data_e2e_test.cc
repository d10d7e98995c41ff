// Data-map submissions of the built client against the stand-in agent: the
// form text on the wire, the rejected lines, a missing file and the
// recovery log of an undeliverable submission.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent_fixture.h"

namespace zv::test {
namespace {

std::string post_request(int port, const std::string& form) {
  return "POST /agent HTTP/1.0\nAccept: */*\nUser-Agent: ZVClient/2.2.1.3\n"
         "Content-Type: application/x-www-form-urlencoded\nDate: <ctime>\n"
         "Host: localhost:" +
         std::to_string(port) + "\nConnection: Keep-Alive\nContent-Length: " +
         std::to_string(form.size()) + "\n\n" + form + "\n";
}

std::string invalid_map_data(const std::string& words) {
  return "<?xml version=\"1.0\"?><transaction id=\"0\"><header><method>Agent</method>"
         "<subclass>ERROR</subclass></header><data><errorcode>INVALID_MAP_DATA</errorcode>"
         "<errortext>Invalid Transaction ID</errortext><errordetail>Transaction ID must be a "
         "positive Integer</errordetail><incoming_message><![CDATA[" +
         words + "]]></incoming_message></data></transaction>\n";
}

struct MapDataE2e : testing::Test {
  ClientFixture client;
};

TEST_F(MapDataE2e, CommandLineWordsBecomeTheForm) {
  struct Case {
    std::vector<std::string> args;
    std::string form;
  } cases[] = {
      {{"--map-data", "cust7", "disk", "full"},
       "transactionid=1&mapdata=cust7&mapdata=disk&mapdata=full"},
      {{"--map-data-transaction-id", "42", "--map-data", "cust7", "x"},
       "transactionid=42&mapdata=cust7&mapdata=x"},
      {{"--map-data"}, "transactionid=1"},
      {{"--map-data", "7cust", "x"}, "transactionid=7cust&mapdata=x"},
      {{"--map-data", "cust 7", "--help", "a&b"},
       "transactionid=1&mapdata=cust+7&mapdata=--help&mapdata=a%26b"},
  };
  for (const Case& c : cases) {
    ClientFixture fixture;
    StandInAgent agent(fixture.dir(), {});
    RunResult r = fixture.run(c.args);
    EXPECT_EQ(r.status, 0) << c.form << r.err;
    EXPECT_EQ(r.err, "") << c.form;
    ASSERT_EQ(agent.request_count(), 1) << c.form;
    EXPECT_TRUE(matches_request(agent.request(1), post_request(agent.port(), c.form)))
        << agent.request(1);
    EXPECT_FALSE(fixture.exists("logs/ZVClient.log"));
  }
}

TEST_F(MapDataE2e, FileLinesAreSentOneByOne) {
  StandInAgent agent(client.dir(), {});
  client.write("map.txt",
               "12 cust7 disk full\n"
               "13 \"cust 7\" 'd e'\tx\\ y\r\n"
               "\n"
               "cust7 \"not sent\"\n"
               "  14 \"a\"b\n");
  RunResult r = client.run({"--map-data-file", "map.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, invalid_map_data("cust7 not sent"));
  ASSERT_EQ(agent.request_count(), 3);
  const std::string forms[] = {
      "transactionid=12&mapdata=cust7&mapdata=disk&mapdata=full",
      "transactionid=13&mapdata=cust+7&mapdata=d+e&mapdata=x+y",
      "transactionid=14&mapdata=a&mapdata=b",
  };
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(matches_request(agent.request(i + 1), post_request(agent.port(), forms[i])))
        << agent.request(i + 1);
  }
}

TEST_F(MapDataE2e, MissingFileIsReported) {
  StandInAgent agent(client.dir(), {});
  RunResult r = client.run({"--map-data-file", "absent.txt"});
  EXPECT_EQ(r.status, 40);
  EXPECT_EQ(r.err, "ERROR  Map data file could not be opened.\n");
  EXPECT_EQ(agent.request_count(), 0);
}

TEST_F(MapDataE2e, AgentDownLogsTheSubmission) {
  client.configure_port(unused_port());
  RunResult r = client.run({"--map-data", "cust7", "disk"});
  EXPECT_EQ(r.status, 10);
  RunResult file_run = [&] {
    client.write("map.txt", "12 \"a b\" c:\\\\d\n");
    return client.run({"--map-data-file", "map.txt"});
  }();
  EXPECT_EQ(file_run.status, 10);
  EXPECT_EQ(client.read("logs/ZVClient.log"), "1 \"cust7\" \"disk\"\n12 \"a b\" \"c:\\\\d\"\n");
}

}  // namespace
}  // namespace zv::test
