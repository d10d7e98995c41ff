// An agent that is not there costs a run one time limit, not one per
// submission: the rest is kept without being sent, with a fresh attempt now
// and then, so that an agent that comes back gets the rest of the run.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv::test {
namespace {

TEST(Outage, SilentAgentIsAskedOnlyNowAndThen) {
  constexpr int kLines = 300;
  ClientFixture client;
  client.write("lines.txt", message_lines(0, kLines));
  std::vector<std::string> options;
  for (int i = 0; i < 40; ++i) options.insert(options.end(), {"--reply", "never-answer"});
  StandInAgent agent(client.dir(), options);
  auto started = std::chrono::steady_clock::now();
  RunResult r = client.run({"--submit-file", "lines.txt"}, {{"ZVCLIENT_IO_TIMEOUT", "0.2"}});
  auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(r.status, 10);
  EXPECT_LE(agent.request_count(), 12);
  EXPECT_LT(took, std::chrono::seconds(8));
  EXPECT_EQ(client.read("logs/ZVClient.log"), message_lines(0, kLines));
  EXPECT_NE(r.err.find("ERROR  300 of 300 submissions were kept in logs/ZVClient.log for a later "
                       "recovery.\n"),
            std::string::npos);
}

// Down for the first second: the lines that came while it was away are
// kept, in order; the rest are delivered by the same run.
TEST(Outage, AgentThatComesBackGetsTheRestOfTheRun) {
  constexpr int kLines = 2000;
  ClientFixture client;
  client.write("lines.txt", message_lines(0, kLines));
  const int port = unused_port();
  client.configure_port(port);
  RunResult r;
  std::thread run([&] { r = client.run({"--submit-file", "lines.txt"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  StandInAgent agent(client.dir(), {"--port", std::to_string(port)});
  run.join();
  int delivered = agent.request_count();
  EXPECT_GE(delivered, kLines * 9 / 10);
  EXPECT_EQ(client.read("logs/ZVClient.log"), message_lines(0, kLines - delivered));
  EXPECT_EQ(request_form(agent.request(1)),
            "message=" + url_encode("<m>" + std::to_string(kLines - delivered) + "</m>"));
}

}  // namespace
}  // namespace zv::test
