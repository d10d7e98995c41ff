// A run told to stop (SIGTERM, as systemd or timeout do) keeps everything it
// had not delivered, in order and once, and then ends by that signal.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv::test {
namespace {

// Starts the client with `words` in the background, waits until the agent
// has recorded request `n`, sends SIGTERM and prints the run's status.
RunResult stopped_at_request(const ClientFixture& client, const std::string& words, int n) {
  const std::string script = "exec '" + client.program() + "' " + words +
                             " & pid=$!\n"
                             "for i in $(seq 400); do [ -e request." +
                             std::to_string(n) +
                             " ] && break; sleep 0.025; done\n"
                             "kill -TERM $pid; wait $pid; echo \"status=$?\"\n";
  RunOptions options;
  options.cwd = client.dir();
  return run_program("/bin/bash", {"-c", script}, options);
}

// The agent's options to answer `answered` requests and then never again.
std::vector<std::string> answering(int answered) {
  std::vector<std::string> options;
  for (int i = 0; i < answered; ++i) options.insert(options.end(), {"--reply", "agent"});
  options.insert(options.end(), {"--reply", "never-answer"});
  return options;
}

TEST(Signal, MessageInFlightIsKept) {
  ClientFixture client;
  StandInAgent agent(client.dir(), answering(0));
  RunResult r = stopped_at_request(client, "'<a>x</a>'", 1);
  EXPECT_EQ(r.out, "status=143\n") << r.err;
  EXPECT_EQ(r.err, comm_failure("The run was told to stop before the agent replied."));
  EXPECT_EQ(client.read("logs/ZVClient.log"), "<a>x</a>\n");
}

TEST(Signal, SubmitFileKeepsWhatItHadNotSent) {
  constexpr int kLines = 2000, kHeld = 11;
  ClientFixture client;
  client.write("lines.txt", message_lines(0, kLines));
  StandInAgent agent(client.dir(), answering(kHeld - 1));
  RunResult r = stopped_at_request(client, "--submit-file lines.txt", kHeld);
  EXPECT_EQ(r.out, "status=143\n");
  EXPECT_EQ(agent.request_count(), kHeld);
  // The one in flight and every line after it, in order, each once.
  EXPECT_EQ(client.read("logs/ZVClient.log"), message_lines(kHeld - 1, kLines - kHeld + 1));
}

TEST(Signal, RecoveryLeavesTheRestForTheNextOne) {
  constexpr int kLines = 50, kHeld = 5;
  ClientFixture client;
  std::filesystem::create_directories(client.dir() + "/logs");
  client.write("logs/ZVClient.log", message_lines(0, kLines));
  {
    StandInAgent agent(client.dir(), answering(kHeld - 1));
    RunResult r = stopped_at_request(client, "--recover-file logs/ZVClient.log", kHeld);
    EXPECT_EQ(r.out, "status=143\n");
  }
  // The line in flight went to a fresh log; the rest waits behind the mark.
  EXPECT_EQ(client.read("logs/ZVClient.log"), message_lines(kHeld - 1, 1));
  for (int i = 1; i <= kHeld; ++i)
    std::filesystem::remove(client.dir() + "/request." + std::to_string(i));
  StandInAgent agent(client.dir(), {});
  RunResult r = client.run({"--recover-file", "logs/ZVClient.log"});
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(agent.request_count(), kLines - kHeld + 1);
  EXPECT_EQ(request_form(agent.request(1)), "message=" + url_encode("<m>5</m>"));
  EXPECT_EQ(request_form(agent.request(kLines - kHeld + 1)), "message=" + url_encode("<m>4</m>"));
}

}  // namespace
}  // namespace zv::test
