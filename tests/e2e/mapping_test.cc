// The built client with --submit-mapping-file against the stand-in agent:
// the one transaction on the wire.
#include <string>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv::test {
namespace {

TEST(MappingSubmission, FileBecomesOneTransaction) {
  ClientFixture client;
  StandInAgent agent(client.dir(), {});
  client.write("map.txt",
               "zvagent_subclass=Alert\nprogram=#0\nfirst=#3\nsecond=#4\nbeyond=#5\n"
               "  home=%ZV_E2E_MAP_HOME%\nmsg=disk <90%> & 'more'\r\n\nzvagent_method=Update");
  RunResult r = client.run({"--submit-mapping-file", "map.txt", "word1", "word two"},
                           {{"ZV_E2E_MAP_HOME", "\"/home/ops\""}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  ASSERT_EQ(agent.request_count(), 1);
  const std::string expected = transaction_document(
      "Update", "Alert",
      "<program>" + client.dir() +
          "/ZVClient</program><first>word1</first>"
          "<second>word two</second><beyond>Argument specified is INVALID.</beyond>"
          "<home>/home/ops</home><msg>disk &lt;90%&gt; &amp; &apos;more&apos;</msg>");
  EXPECT_TRUE(matches_request(agent.request(1),
                              form_request(agent.port(), "message=" + url_encode(expected))));
  EXPECT_FALSE(client.exists("logs/ZVClient.log"));
}

}  // namespace
}  // namespace zv::test
