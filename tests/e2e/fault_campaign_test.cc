// A campaign against an agent that fails a quarter of its connections:
// resets before and after reading, closes without a reply, answers that
// trickle in.  A submit-file run and then the ordinary recovery runs must
// bring every message to the agent; a duplicate is allowed, a loss is not.
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv::test {
namespace {

constexpr int kMessages = 240;
constexpr int kMostRecoveries = 12;

TEST(FaultCampaign, EveryMessageArrives) {
  ClientFixture client;
  std::string lines;
  std::set<std::string> sent;
  for (int i = 0; i < kMessages; ++i) {
    // ZVXML and Classic messages alike; they take different log forms.
    std::string message =
        i % 2 ? "<m>" + std::to_string(i) + "</m>" : "classic " + std::to_string(i);
    sent.insert(message);
    lines += message + "\n";
  }
  client.write("messages.txt", lines);
  const std::string accepted = client.dir() + "/accepted";
  StandInAgent agent(client.dir(), {"--faults",
                                    "20261206:reset-before-read=3,reset-after-read=7,"
                                    "close-after-read=7,trickle=7",
                                    "--accepted", accepted});
  RunResult first = client.run({"--submit-file", "messages.txt"});
  EXPECT_EQ(first.status, 10) << "a quarter of the connections fail";
  int recoveries = 0;
  while (client.exists("logs/ZVClient.log") && recoveries++ < kMostRecoveries) {
    client.run({"--recover-file", "logs/ZVClient.log"});
  }
  EXPECT_FALSE(client.exists("logs/ZVClient.log"));
  agent.stop();

  // The record holds the form text of each submission the agent took whole.
  std::set<std::string> arrived;
  std::istringstream record(file_contents(accepted));
  for (std::string line; std::getline(record, line);) arrived.insert(line);
  std::set<std::string> lost;
  for (const std::string& message : sent) {
    if (!arrived.count("message=" + url_encode(message))) lost.insert(message);
  }
  EXPECT_TRUE(lost.empty()) << lost.size() << " lost, first: " << *lost.begin();
}

}  // namespace
}  // namespace zv::test
