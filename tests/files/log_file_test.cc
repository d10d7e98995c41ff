// The log file layer: which places are trusted, records never glued or
// left half written, each record synced, and a log renamed away between
// open and lock.
#include "files/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"
#include "base/error.h"
#include "files/safe_file.h"
#include "message/recovery_log.h"

namespace zv {
namespace {

namespace fs = std::filesystem;

void put(const std::string& path, const std::string& content, mode_t mode = 0600) {
  std::ofstream(path, std::ios::binary) << content;
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

// Ways to make a place unusable; the one at `path` must never be written.
const char* const kSpoilers[] = {"symlink to own file", "fifo",           "directory",
                                 "foreign owner",       "world-writable", "group-writable",
                                 "second link"};

// Makes `path` unusable the way `how` says; false when that cannot be
// arranged (a foreign owner needs root).
bool spoil(const std::string& how, const std::string& path) {
  if (how == "fifo") return mkfifo(path.c_str(), 0600) == 0;
  if (how == "directory") return mkdir(path.c_str(), 0700) == 0;
  if (how == "symlink to own file") {
    put(path + ".victim", "old\n");
    return symlink((path + ".victim").c_str(), path.c_str()) == 0;
  }
  put(path, "old\n", how == "world-writable" ? 0666 : how == "group-writable" ? 0620 : 0600);
  if (how == "foreign owner") return chown(path.c_str(), 65534, 65534) == 0;
  return how != "second link" || link(path.c_str(), (path + ".link").c_str()) == 0;
}

// Every regular file below `dir` still holds what it was given.
void expect_untouched(const std::string& dir, const char* name) {
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) {
      EXPECT_EQ(test::file_contents(entry.path()), "old\n") << name;
    }
  }
}

TEST(LogFile, UnusablePlacesArePassedOver) {
  for (const char* name : kSpoilers) {
    test::TempDir bad, good;
    std::string bad_path = bad.path() + "/ZVClient.log", good_path = good.path() + "/ZVClient.log";
    if (!spoil(name, bad_path)) continue;
    const LogPlace places[] = {{nullptr, bad_path.c_str()},
                               {good.path().c_str(), good_path.c_str()}};
    EXPECT_TRUE(log_write("rec", places)) << name;
    EXPECT_EQ(test::file_contents(good_path), "rec\n") << name;
    expect_untouched(bad.path(), name);
  }
}

// The rule itself, as the recovery meets it: read-only opens refuse the
// same files, a FIFO without blocking, and an acceptable file gives its
// identity.
TEST(SafeOpen, RefusesWhatTheLogRefuses) {
  for (const char* name : kSpoilers) {
    test::TempDir dir;
    std::string path = dir.path() + "/f";
    if (!spoil(name, path)) continue;
    EXPECT_FALSE(safe_open(path.c_str(), O_RDONLY)) << name;
  }
  test::TempDir dir;
  std::string path = dir.path() + "/f";
  put(path, "old\n", 0644);
  FileId id;
  Descriptor fd = safe_open(path.c_str(), O_RDONLY, &id);
  ASSERT_TRUE(fd);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(id, (FileId{info.st_dev, info.st_ino}));
  EXPECT_EQ(fcntl(fd.get(), F_GETFL) & O_NONBLOCK, 0);
  EXPECT_NE(fcntl(fd.get(), F_GETFD) & FD_CLOEXEC, 0);
}

// A log's directory that someone else controls (owns, or may write without
// the sticky bit), or a link to a directory, is passed over: whoever
// controls it could move the record away after the run called it kept.
TEST(LogFile, DirectoriesOthersControlArePassedOver) {
  const auto spoil_directory = [](const std::string& how, const std::string& d) {
    if (how == "link to own directory")
      return mkdir((d + ".real").c_str(), 0700) == 0 &&
             symlink((d + ".real").c_str(), d.c_str()) == 0;
    const mode_t mode = how == "world-writable" ? 0777 : how == "group-writable" ? 0770 : 0755;
    return mkdir(d.c_str(), mode) == 0 && chmod(d.c_str(), mode) == 0 &&
           (how != "another user's" || chown(d.c_str(), 65534, 65534) == 0);
  };
  for (const char* name :
       {"world-writable", "group-writable", "link to own directory", "another user's"}) {
    test::TempDir dir;
    const std::string logs = dir.path() + "/logs", bad = logs + "/ZVClient.log",
                      good = dir.path() + "/ZVClient.log";
    if (!spoil_directory(name, logs)) continue;  // another user's needs root
    const LogPlace places[] = {{logs.c_str(), bad.c_str()}, {nullptr, good.c_str()}};
    EXPECT_TRUE(log_write("rec", places)) << name;
    EXPECT_FALSE(fs::exists(bad)) << name;
    EXPECT_EQ(test::file_contents(good), "rec\n") << name;
  }
  // A sticky directory others may write (as /tmp) is a place all the same.
  test::TempDir dir;
  const std::string shared = dir.path() + "/shared", path = shared + "/ZVClient.log";
  ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  const LogPlace sticky[] = {{shared.c_str(), path.c_str()}};
  EXPECT_TRUE(log_write("rec", sticky));
  EXPECT_EQ(test::file_contents(path), "rec\n");
}

TEST(LogFile, NoUsablePlaceIsReported) {
  test::TempDir dir;
  std::vector<std::string> paths;
  for (const char* name : kSpoilers) {
    paths.push_back(dir.path() + "/" + std::to_string(paths.size()));
    if (!spoil(name, paths.back())) paths.pop_back();
  }
  std::vector<LogPlace> places;
  for (const std::string& path : paths) places.push_back({nullptr, path.c_str()});
  set_exit_code(kExitCommunication);
  testing::internal::CaptureStderr();
  log_submission(message_submission("<a>kept?</a>"), places);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR  Recovery log could not be written.\n");
  EXPECT_EQ(get_exit_code(), kExitFile);
  reset_exit_code();
  expect_untouched(dir.path(), "all places");
}

// Passes the calls through, except the faults it is armed with (each once).
struct FaultyCalls : LogFileCalls {
  std::size_t per_call = SIZE_MAX;  // most bytes one write takes
  long fail_after = -1;             // bytes written before a write fails
  bool interrupt = false, fail_sync = false;
  std::function<void()> before_lock;
  int locks = 0, syncs = 0;
  std::size_t written = 0, written_at_sync = 0;

  int lock(int fd) override {
    if (locks++ == 0 && before_lock) before_lock();
    return LogFileCalls::lock(fd);
  }
  ssize_t write(int fd, const iovec* parts, int count) override {
    if (std::exchange(interrupt, false)) return errno = EINTR, -1;
    if (fail_after == 0) return fail_after = -1, errno = ENOSPC, -1;
    std::size_t room = fail_after > 0 ? std::min(per_call, std::size_t(fail_after)) : per_call;
    std::vector<iovec> cut;
    for (int i = 0; i < count && room > 0; ++i) {
      cut.push_back({parts[i].iov_base, std::min(room, parts[i].iov_len)});
      room -= cut.back().iov_len;
    }
    ssize_t done = LogFileCalls::write(fd, cut.data(), int(cut.size()));
    if (done > 0 && fail_after > 0) fail_after -= done;
    if (done > 0) written += std::size_t(done);
    return done;
  }
  int sync(int fd) override {
    ++syncs;
    written_at_sync = written;
    if (std::exchange(fail_sync, false)) return errno = EIO, -1;
    return LogFileCalls::sync(fd);
  }
};

// A record written in pieces lands whole; one that fails part way, or is
// not made durable, is cut off again and goes to the next place.
TEST(LogFile, FailedRecordLeavesNoPartialLine) {
  const struct {
    const char* name;
    std::function<void(FaultyCalls&)> arm;
    std::string first, second;
    int syncs;
  } cases[] = {
      {"whole", [](FaultyCalls&) {}, "kept\nrecord\n", "", 1},
      {"byte by byte", [](FaultyCalls& c) { c.per_call = 1; }, "kept\nrecord\n", "", 1},
      {"interrupted", [](FaultyCalls& c) { c.interrupt = true; }, "kept\nrecord\n", "", 1},
      {"disk full midway", [](FaultyCalls& c) { c.fail_after = 3; }, "kept\n", "record\n", 1},
      {"disk full at once", [](FaultyCalls& c) { c.fail_after = 0; }, "kept\n", "record\n", 1},
      {"sync fails", [](FaultyCalls& c) { c.fail_sync = true; }, "kept\n", "record\n", 2},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    std::string first = dir.path() + "/first.log", second = dir.path() + "/second.log";
    // A record before, and the tail a killed writer left: set aside, never
    // completed by the next record.
    put(first, "kept\ntorn");
    const LogPlace places[] = {{nullptr, first.c_str()}, {nullptr, second.c_str()}};
    FaultyCalls calls;
    c.arm(calls);
    EXPECT_TRUE(log_write("record", places, calls)) << c.name;
    EXPECT_EQ(test::file_contents(first), c.first) << c.name;
    EXPECT_EQ(test::file_contents(second), c.second) << c.name;
    EXPECT_EQ(test::file_contents(first + ".setaside"), "torn\n") << c.name;
    EXPECT_EQ(calls.syncs, c.syncs) << c.name;
    EXPECT_EQ(calls.written_at_sync, calls.written)
        << c.name << ": synced before the record was written";
  }
}

// A recovery renames the log while a writer waits for the lock: the record
// goes to the fresh log, never into the file the recovery is reading.
TEST(LogFile, LogRenamedBeforeTheLockIsReopened) {
  test::TempDir dir;
  std::string path = dir.path() + "/ZVClient.log", renamed = path + ".recover";
  put(path, "old\n");
  FaultyCalls calls;
  calls.before_lock = [&] { ASSERT_EQ(rename(path.c_str(), renamed.c_str()), 0); };
  const LogPlace place[] = {{nullptr, path.c_str()}};
  ASSERT_TRUE(log_write("rec", place, calls));
  EXPECT_EQ(test::file_contents(renamed), "old\n");
  EXPECT_EQ(test::file_contents(path), "rec\n");
  EXPECT_EQ(calls.locks, 2);
}

}  // namespace
}  // namespace zv
