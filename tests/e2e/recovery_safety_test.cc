// Recovery that loses nothing: runs killed with SIGKILL, the files a crash
// leaves behind, recoveries of one log started together, a rename that
// fails, and a run that appends to the file it reads.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv::test {
namespace {

const std::vector<std::string> kRecover = {"--recover-file", "logs/ZVClient.log"};

std::string message(int i) { return "<m>" + std::to_string(i) + "</m>"; }

using Arrivals = std::map<std::string, int>;

// Adds what the agent received to `arrivals` (form text -> times), leaving
// out the last `unanswered` requests, and removes its records, so that a
// later agent in the same directory starts counting afresh.
void collect(const StandInAgent& agent, const std::string& dir, Arrivals& arrivals,
             int unanswered = 0) {
  const int count = agent.request_count();
  for (int i = 1; i <= count; ++i) {
    if (i <= count - unanswered) ++arrivals[request_form(agent.request(i))];
    std::filesystem::remove(dir + "/request." + std::to_string(i));
  }
}

Arrivals expected_arrivals(const std::vector<int>& numbers) {
  Arrivals arrivals;
  for (int i : numbers) ++arrivals["message=" + url_encode(message(i))];
  return arrivals;
}

std::vector<int> range(int first, int count) {
  std::vector<int> numbers;
  for (int i = first; i < first + count; ++i) numbers.push_back(i);
  return numbers;
}

// Every run but the last is killed (SIGKILL) while the agent holds its k-th
// request unanswered.  Then the ordinary recovery command finishes the job:
// every line is answered exactly once, the one in flight at a kill by a
// later run (a line counts as handled only once its answer came).
TEST(RecoverySafety, KilledRecoveriesLoseNothing) {
  constexpr int kLines = 300;
  const int kill_at[] = {1, 60, 200};
  ClientFixture client;
  std::filesystem::create_directories(client.dir() + "/logs");
  client.write("logs/ZVClient.log", message_lines(0, kLines));
  Arrivals arrivals;
  for (int k : kill_at) {
    std::string script;
    for (int i = 1; i < k; ++i) script += "agent\n";
    client.write("script", script + "stall=60000\n");
    StandInAgent agent(client.dir(), {"--script", client.dir() + "/script"});
    RunResult r = client.run(kRecover, {}, [&agent, k] { return agent.request_count() >= k; });
    EXPECT_EQ(r.status, -1) << "not killed at " << k << ": " << r.err;
    collect(agent, client.dir(), arrivals, 1);
  }
  StandInAgent agent(client.dir(), {});
  RunResult r = client.run(kRecover);
  EXPECT_EQ(r.status, 0) << r.err;  // the pending recovery, P gone: no error
  EXPECT_EQ(r.err, "");
  collect(agent, client.dir(), arrivals);

  EXPECT_EQ(arrivals, expected_arrivals(range(0, kLines)));
  EXPECT_FALSE(client.exists("logs/ZVClient.log.recover.offset"));
  EXPECT_TRUE(client.exists("logs/ZVClient.log.recover"));
}

// The progress record of a recovery of `file` (below the client's
// directory) at `offset`, as a killed run leaves it.
std::string progress_of(const ClientFixture& client, const std::string& file, std::size_t offset) {
  struct stat status {};
  EXPECT_EQ(::stat((client.dir() + "/" + file).c_str(), &status), 0) << file;
  char record[80];
  std::snprintf(record, sizeof record, "%020llu %020llu %020llu\n",
                static_cast<unsigned long long>(status.st_dev),
                static_cast<unsigned long long>(status.st_ino),
                static_cast<unsigned long long>(offset));
  return record;
}

// The states a crash can leave, each followed by one ordinary recovery.
TEST(RecoverySafety, CrashStatesAreFinished) {
  const std::string kP = "logs/ZVClient.log", kRecoverName = kP + ".recover",
                    kProgress = kRecoverName + ".offset";
  struct Case {
    const char* name;
    std::function<void(const ClientFixture&)> setup;
    std::vector<int> delivered;
  };
  const Case cases[] = {
      {"killed before the rename: the mark names P, not the old recover file",
       [&](const ClientFixture& c) {
         c.write(kP, message_lines(0, 3));
         c.write(kRecoverName, message_lines(100, 2));
         c.write(kProgress, progress_of(c, kP, 0));
       },
       range(0, 3)},
      {"killed after the rename, no new log",
       [&](const ClientFixture& c) {
         c.write(kRecoverName, message_lines(0, 5));
         c.write(kProgress, progress_of(c, kRecoverName, 2 * message(0).size() + 2));
       },
       range(2, 3)},
      {"killed after the rename, a new log since",
       [&](const ClientFixture& c) {
         c.write(kRecoverName, message_lines(0, 5));
         c.write(kProgress, progress_of(c, kRecoverName, 3 * message(0).size() + 3));
         c.write(kP, message_lines(10, 2));
       },
       {3, 4, 10, 11}},
      {"a mark that cannot be read is dropped",
       [&](const ClientFixture& c) {
         c.write(kP, message_lines(0, 2));
         c.write(kProgress, "12 34\n");
       },
       range(0, 2)},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    ClientFixture client;
    std::filesystem::create_directories(client.dir() + "/logs");
    test.setup(client);
    StandInAgent agent(client.dir(), {});
    RunResult r = client.run(kRecover);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    Arrivals arrivals;
    collect(agent, client.dir(), arrivals);
    EXPECT_EQ(arrivals, expected_arrivals(test.delivered));
    EXPECT_FALSE(client.exists(kProgress));
    EXPECT_FALSE(client.exists(kP));
  }
}

// A second recovery of the same log, started while the first waits for an
// answer half way, waits its turn: then it sends only what was logged since,
// and nothing of the first one's file.
TEST(RecoverySafety, ConcurrentRecoveriesSendEachLineOnce) {
  constexpr int kLines = 200, kSlowAnswer = 101;
  ClientFixture client;
  std::filesystem::create_directories(client.dir() + "/logs");
  client.write("logs/ZVClient.log", message_lines(0, kLines));
  std::string script;
  for (int i = 1; i < kSlowAnswer; ++i) script += "agent\n";
  client.write("script", script + "split=16 pause=3000\n");
  StandInAgent agent(client.dir(), {"--script", client.dir() + "/script"});
  RunResult first;
  std::thread running([&] { first = client.run(kRecover); });
  for (int i = 0; i < 2000 && agent.request_count() < kSlowAnswer; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  client.write("logs/ZVClient.log", message_lines(1000, 3));
  RunResult second = client.run(kRecover);
  running.join();
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(second.status, 0) << second.err;
  Arrivals arrivals;
  collect(agent, client.dir(), arrivals);
  std::vector<int> sent = range(0, kLines);
  sent.insert(sent.end(), {1000, 1001, 1002});
  EXPECT_EQ(arrivals, expected_arrivals(sent));
}

// The wait for another recovery is bounded: a scheduled run does not queue
// up behind one that takes hours.
TEST(RecoverySafety, WaitForAnotherRecoveryIsBounded) {
  ClientFixture client;
  std::filesystem::create_directories(client.dir() + "/logs");
  client.write("logs/ZVClient.log", message_lines(0, 20));
  client.write("script", "agent\nstall=3000\n");
  StandInAgent agent(client.dir(), {"--script", client.dir() + "/script"});
  RunResult first;
  std::thread running([&] { first = client.run(kRecover); });
  for (int i = 0; i < 2000 && agent.request_count() < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  RunResult second = client.run(kRecover, {{"ZVCLIENT_LOCK_TIMEOUT", "0.3"}});
  running.join();
  EXPECT_EQ(second.status, 40);
  EXPECT_EQ(second.err,
            "ERROR  Another recovery of this file is still running; this one ends without it.\n");
  EXPECT_EQ(agent.request_count(), 20);  // the first one's lines only, once each
}

TEST(RecoverySafety, FailedRenameDeletesNothing) {
  ClientFixture client;
  client.configure_port(unused_port());
  client.write("r.log", message_lines(0, 2));
  std::filesystem::create_directories(client.dir() + "/r.log.recover");
  client.write("r.log.recover/kept", "x");
  RunResult r = client.run({"--recover-file", "r.log"});
  EXPECT_EQ(r.status, 40);
  EXPECT_EQ(r.err, "ERROR  Recover file could not be modified.\n");
  EXPECT_EQ(client.read("r.log"), message_lines(0, 2));
  EXPECT_EQ(client.read("r.log.recover/kept"), "x");
  EXPECT_FALSE(client.exists("r.log.recover.offset"));
}

// With the agent down, every line read is appended again to the file being
// read; the run still ends, having read each original line once.
TEST(RecoverySafety, SubmitFileThatIsItsOwnLogEnds) {
  ClientFixture client;
  client.configure_port(unused_port());
  std::filesystem::create_directories(client.dir() + "/logs");
  client.write("logs/ZVClient.log", message_lines(0, 3));
  RunResult r = client.run({"--submit-file", "logs/ZVClient.log"});
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(client.read("logs/ZVClient.log"), message_lines(0, 3) + message_lines(0, 3));
}

}  // namespace
}  // namespace zv::test
