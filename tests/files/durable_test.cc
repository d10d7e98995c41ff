// What is made durable, and in which order: a recovery's mark before the
// rename it stands for, the directory after it, a new log and its
// directory entry before the run calls the record kept.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"
#include "files/log_file.h"
#include "files/recover_progress.h"
#include "files/safe_file.h"

namespace zv {
namespace {

// Records each sync: "file" for an open file, "dir PATH" for the
// directory holding PATH, and whether the recover name existed then.
struct RecordingCalls : DurableCalls {
  std::vector<std::string> calls;
  std::string watched;
  int sync(int fd) override {
    calls.push_back("file" + state());
    return DurableCalls::sync(fd);
  }
  int sync_directory_of(const char* path) override {
    calls.push_back(std::string("dir ") + path + state());
    return DurableCalls::sync_directory_of(path);
  }
  std::string state() const {
    struct stat info {};
    return watched.empty() ? "" : ::lstat(watched.c_str(), &info) == 0 ? " (renamed)" : "";
  }
};

TEST(Durable, MarkBeforeRenameDirectoryAfter) {
  test::ScopedWorkDir work;
  std::filesystem::create_directories("logs");
  std::ofstream("logs/ZVClient.log") << "<a/>\n";
  RecordingCalls calls;
  calls.watched = "logs/ZVClient.log.recover";
  durable_set_calls(&calls);
  RecoverNames names = recover_names("logs/ZVClient.log");
  std::optional<RenamedRecoverFile> renamed = rename_recover_file("logs/ZVClient.log", names);
  durable_set_calls(nullptr);
  ASSERT_TRUE(renamed);
  const std::vector<std::string> expected = {"file", "dir logs/ZVClient.log.recover.offset",
                                             "dir logs/ZVClient.log.recover (renamed)"};
  EXPECT_EQ(calls.calls, expected);
}

TEST(Durable, NewLogAndItsDirectoryBeforeTheRecordCounts) {
  test::ScopedWorkDir work;
  RecordingCalls calls;
  durable_set_calls(&calls);
  // A umask that would take the owner's own access away changes nothing.
  mode_t old_mask = ::umask(0277);
  ASSERT_TRUE(log_write("<a/>"));
  ASSERT_TRUE(log_write("<b/>"));
  ::umask(old_mask);
  durable_set_calls(nullptr);
  // The first record makes "logs" and the file: both entries are synced; the
  // second only syncs its record (through the log's own calls).
  const std::vector<std::string> expected = {"dir logs", "dir logs/ZVClient.log"};
  EXPECT_EQ(calls.calls, expected);
  struct stat info {};
  ASSERT_EQ(::stat("logs", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  ASSERT_EQ(::stat("logs/ZVClient.log", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(test::file_contents("logs/ZVClient.log"), "<a/>\n<b/>\n");
}

}  // namespace
}  // namespace zv
