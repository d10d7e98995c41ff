// The built client with --submit-mapping-file against the stand-in agent:
// the one transaction on the wire, and the missing file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent_fixture.h"

namespace zv::test {
namespace {

// The form encoding, spelled out independently of the client's.
std::string url_encode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-') {
      out.push_back(static_cast<char>(c));
    } else if (c == ' ') {
      out.push_back('+');
    } else {
      out += {'%', kHex[c >> 4], kHex[c & 15]};
    }
  }
  return out;
}

std::string post_request(int port, const std::string& form) {
  return "POST /agent HTTP/1.0\nAccept: */*\nUser-Agent: ZVClient/2.2.1.3\n"
         "Content-Type: application/x-www-form-urlencoded\nDate: <ctime>\n"
         "Host: localhost:" +
         std::to_string(port) + "\nConnection: Keep-Alive\nContent-Length: " +
         std::to_string(form.size()) + "\n\n" + form + "\n";
}

std::string document(const std::string& method, const std::string& subclass,
                     const std::string& data) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><transaction><header><method>" + method +
         "</method><subclass>" + subclass + "</subclass></header><data>" + data +
         "</data></transaction>";
}

struct MappingSubmission : testing::Test {
  ClientFixture client;

  RunResult run(const std::vector<std::string>& args,
                const std::vector<std::pair<std::string, std::string>>& env = {}) const {
    RunOptions options;
    options.cwd = client.dir();
    options.argv0 = client.dir() + "/ZVClient";
    options.env = env;
    options.timeout = std::chrono::milliseconds(30000);
    return run_program(ZV_CLIENT_PATH, args, options);
  }
};

TEST_F(MappingSubmission, FileBecomesOneTransaction) {
  StandInAgent agent(client.dir(), {});
  client.write("map.txt",
               "zvagent_subclass=Alert\n"
               "program=#0\n"
               "first=#3\n"
               "second=#4\n"
               "beyond=#5\n"
               "  home=%ZV_E2E_MAP_HOME%\n"
               "msg=disk <90%> & 'more'\r\n"
               "zvagent_method=Update");
  RunResult r = run({"--submit-mapping-file", "map.txt", "word1", "word two"},
                    {{"ZV_E2E_MAP_HOME", "\"/home/ops\""}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(agent.request_count(), 1);
  const std::string expected = document(
      "Update", "Alert",
      "<program>" + client.dir() + "/ZVClient</program><first>word1</first>"
      "<second>word two</second><beyond>Argument specified is INVALID.</beyond>"
      "<home>/home/ops</home><msg>disk &lt;90%&gt; &amp; &apos;more&apos;</msg>");
  EXPECT_TRUE(matches_request(agent.request(1),
                              post_request(agent.port(), "message=" + url_encode(expected))))
      << agent.request(1);
  EXPECT_FALSE(client.exists("logs/ZVClient.log"));
}

// Nothing listens: a submission would show as a communication failure and a
// logged line.
TEST_F(MappingSubmission, MissingFileIsReportedAndNothingSent) {
  client.configure_port(unused_port());
  RunResult r = run({"--submit-mapping-file", "absent.txt", "word1"});
  EXPECT_EQ(r.status, 40);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ERROR  Submit mapping file could not be opened.\n");
  EXPECT_FALSE(client.exists("logs/ZVClient.log"));
}

}  // namespace
}  // namespace zv::test
