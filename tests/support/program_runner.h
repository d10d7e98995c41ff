// Runs a program as a child process for end-to-end tests: given argv, working
// directory and environment additions, with standard input at its end, it
// collects the exit status and everything written to standard output and
// standard error.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zv::test {

struct RunResult {
  /// The exit status; -1 when a signal (or the time limit) ended the program.
  int status = -1;
  std::string out;
  std::string err;
  /// The program's peak resident memory in KiB.
  long peak_kib = 0;
};

struct RunOptions {
  /// Working directory of the child; empty keeps the test's own.
  std::string cwd;
  /// argv[0] as the child sees it; defaults to the program path.  The client
  /// locates its runtime configuration from argv[0], so tests can point it
  /// at a directory of their own without copying the program.
  std::optional<std::string> argv0;
  /// Variables set (or replaced) in the child's environment.
  std::vector<std::pair<std::string, std::string>> env;
  /// The child is killed (SIGKILL) when it runs longer than this.
  std::chrono::milliseconds timeout{30000};
  /// Asked every few milliseconds while the child runs; the child is killed
  /// (SIGKILL) as soon as it returns true.
  std::function<bool()> kill_when;
};

/// Starts `path` with `args` (the words after argv[0]) and waits for it.
/// Safe to call from several threads at once.
RunResult run_program(const std::string& path, const std::vector<std::string>& args,
                      const RunOptions& options = {});

/// For a child between fork and exec: it is killed when the test binary
/// ends, so that a binary killed at its time limit leaves no program running
/// (holding files, ports and locks).  The fork must come from a thread that
/// lives as long as the child.
void die_with_the_test();

/// A fresh directory below the temporary directory, removed with its
/// contents when the object goes.  Throws when it cannot be made.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace zv::test
