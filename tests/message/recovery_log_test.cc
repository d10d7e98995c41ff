#include "message/recovery_log.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv {
namespace {

namespace fs = std::filesystem;

// The log is private to its owner; where "logs" cannot be a directory, the
// log is written in the working directory instead.
TEST(RecoveryLog, PrivateFileAndFallbackWhenLogsIsAFile) {
  test::ScopedWorkDir work;  // the log lands below it
  mode_t old_mask = umask(0);
  ASSERT_TRUE(log_write("first"));
  umask(old_mask);
  struct stat info {};
  ASSERT_EQ(stat("logs/ZVClient.log", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  fs::remove_all("logs");
  std::ofstream("logs") << "not a directory";
  ASSERT_TRUE(log_write("second"));
  ASSERT_TRUE(log_write("third"));
  EXPECT_EQ(test::file_contents("ZVClient.log"), "second\nthird\n");
  EXPECT_EQ(test::file_contents("logs"), "not a directory");
}

// "<child> <sequence> " and filler; some records far larger than a pipe buffer.
std::string concurrent_record(int child, int sequence) {
  std::size_t length = sequence % 50 == 7 ? 100000 : (sequence * 37 + child * 11) % 3000;
  return std::to_string(child) + " " + std::to_string(sequence) + " " +
         std::string(length, 'a' + child);
}

TEST(RecoveryLog, ConcurrentClientsNeverInterleave) {
  constexpr int kChildren = 8, kRecords = 200;
  test::ScopedWorkDir work;  // the log lands below it
  std::vector<pid_t> children;
  for (int child = 0; child < kChildren; ++child) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok = true;
      for (int sequence = 0; sequence < kRecords; ++sequence)
        ok &= log_write(concurrent_record(child, sequence));
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::istringstream log(test::file_contents("logs/ZVClient.log"));
  std::vector<int> next(kChildren, 0);  // each child's records arrive in its order
  int lines = 0;
  for (std::string line; std::getline(log, line); ++lines) {
    int child = -1, sequence = -1;
    std::istringstream(line) >> child >> sequence;
    ASSERT_TRUE(child >= 0 && child < kChildren) << "line " << lines;
    ASSERT_EQ(sequence, next[child]++) << "line " << lines;
    ASSERT_EQ(line, concurrent_record(child, sequence)) << "line " << lines;
  }
  EXPECT_EQ(lines, kChildren * kRecords);
}

}  // namespace
}  // namespace zv
