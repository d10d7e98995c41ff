// End-to-end fixture: the stand-in agent on a free loopback port, a working
// directory whose etc/.runtime.xml names that port, and runs of the built
// client "installed" in that directory (argv[0] points there).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "program_runner.h"

namespace zv::test {

/// Variables added to (or replacing those of) a run's environment.
using Env = std::vector<std::pair<std::string, std::string>>;

/// The stand-in agent as a child process; stopped when the object goes.
class StandInAgent {
 public:
  /// Starts the agent with `options`, writing its runtime configuration to
  /// `dir` and recording each request to `dir`/request.N.
  StandInAgent(const std::string& dir, const std::vector<std::string>& options);
  ~StandInAgent();
  StandInAgent(const StandInAgent&) = delete;
  StandInAgent& operator=(const StandInAgent&) = delete;

  int port() const { return port_; }
  /// Request number n (from 1) as the agent received it; empty if none.
  std::string request(int n) const;
  /// Number of requests recorded so far.
  int request_count() const;
  /// Stops the agent (SIGTERM) and waits for it to end, so that every file
  /// it writes (the --accepted record too) is complete.  Later calls do nothing.
  void stop();

 private:
  std::string dir_;
  pid_t pid_ = -1;
  int port_ = -1;
};

/// A temporary working directory with the client's configuration beside it.
class ClientFixture {
 public:
  /// The program is copied into dir() (it finds its configuration beside
  /// the running program file, links resolved).
  ClientFixture();
  /// dir()/ZVClient, the copy every run starts.
  std::string program() const { return dir() + "/ZVClient"; }
  const std::string& dir() const { return dir_.path(); }
  /// Runs the client with `args` in dir(), argv[0] = dir()/ZVClient, with
  /// `env` added to its environment; killed once `kill_when` returns true.
  RunResult run(const std::vector<std::string>& args, const Env& env = {},
                std::function<bool()> kill_when = {}) const;
  /// Runs the client through bash in dir(), as `ZVClient WORDS` where WORDS
  /// is shell text (redirections and pipes included), after the shell text
  /// `before` (a ulimit, say).
  RunResult shell(const std::string& words, const std::string& before = "") const;
  /// Writes etc/.runtime.xml naming `port`.
  void configure_port(int port) const;
  /// The contents of a file below dir(); empty if it does not exist.
  std::string read(const std::string& name) const;
  void write(const std::string& name, const std::string& content) const;
  bool exists(const std::string& name) const;

 private:
  TempDir dir_;
};

/// Lines "<m>N</m>" for N from `first`, `count` of them, each with its LF.
std::string message_lines(int first, int count);

/// Whether `text` holds `part`; a failure shows the text.
testing::AssertionResult holds(const std::string& text, const std::string& part);

/// The contents of the file at `path`; empty if it cannot be read.
std::string file_contents(const std::string& path);

/// A socket bound to 127.0.0.1 on a port the system chose (set in `port`),
/// listening when asked.  The caller closes it.
int loopback_socket(int& port, bool listening);

/// A socket connected to 127.0.0.1:`port`, or -1.  The caller closes it.
int loopback_connect(int port);

/// A loopback port on which nothing listens (bound, then released).
int unused_port();

/// Makes a fresh temporary directory the working directory while it lives.
struct ScopedWorkDir {
  TempDir dir;
  std::filesystem::path previous = std::filesystem::current_path();
  ScopedWorkDir() { std::filesystem::current_path(dir.path()); }
  ~ScopedWorkDir() { std::filesystem::current_path(previous); }
};

/// Whether `request` matches `expected` with its "Date: " line replaced by
/// the marker line "Date: <ctime>\n", checking the ctime form; a failure
/// shows the request.
testing::AssertionResult matches_request(const std::string& request, const std::string& expected);

/// The POST to /agent that carries `form`, as the client writes it, with the
/// "Date: <ctime>" marker line that matches_request expects.
std::string form_request(int port, const std::string& form);

/// The GET of `target` (path and query) from the agent at host:port, as
/// the client writes it, with the "Date: <ctime>" marker line.
std::string get_request(const std::string& host, int port, const std::string& target);

/// The body (form text) of a recorded POST request.
std::string request_form(const std::string& request);

/// The form encoding, spelled out independently of the client's: letters,
/// digits and '-' stay, a blank is '+', every other byte is %XX.
std::string url_encode(const std::string& text);

/// A ZVXML transaction as the mapping-file builder writes it.
std::string transaction_document(const std::string& method, const std::string& subclass,
                                 const std::string& data);

/// The error document that the client writes to standard error.
std::string error_document(const std::string& code, const std::string& text,
                           const std::string& detail);

/// The COMMUNICATIONS_FAILURE document with `detail`.
std::string comm_failure(const std::string& detail);

}  // namespace zv::test
