// The built program, run as a user runs it: help, version, rejected command
// lines and their exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "program_runner.h"

namespace zv::test {
namespace {

// The help text as users and scripts see it, every line and blank included.
constexpr const char* kHelpText = R"(ZVClient
     [--recover-file <file>] ||
     [--http-get <URI>] [--http-post <URI>] [--get-response || --get-status ||
     --post-file <file> || [[--map-data-transaction-id <number>] --map-data
     <client id> <data> [<data>]] || [--map-data-file <file>] ||
     [--submit-file <file>] || [ZVXML or Classic Message]] || [[--help] ||
     [--version]]

General Options:

--get-response <client id>
     Retrieves a response message for <client id> from the Zelvane Agent,
     writing it to standard output.
--get-response-max <number>
     Affects the maximum number of non-Agent Status messages that
     --get-response will retrieve before exiting ZVClient.
     The default is 1. Option must be used with --get-response.
--get-status
     Writes a status message from Zelvane Agent to standard output.
--map-data-transaction-id <number>
     Sets the message transaction id. Used only with --map-data.
--map-data <client id> <data> [data...]
     Submit data for use with the data map defined for <client id>.
     WARNING: Must be the last command-line option; subsequent items are
     considered data. This overrides the default message submission format of
     either ZVXML or Classic.
--map-data-file <file>
     Submit data for use with the data map defined for <client id>. Same as
     --submit-file where each line is a single message, but in this form:
     <transaction id> <client id> <data> [data...]. This overrides the default
     message submission format of either ZVXML or Classic.

File Options:

--post-file <file>
     Redirect standard output to a file.
--submit-file <file>
     Submit all messages in a file to Zelvane Agent, with one message per
     line. Each line must be in an appropriate format for the submission
     definition (default is Classic/ZVXML).
--recover-file <file>
     ZVClient saves messages not sent to ZVAgent due to communication failures
     in a file named ZVClient.log. Use this option to resubmit those messages
     once ZVAgent is ready.

HTTP Options:

--http-get <URI>
     Set the HTTP Get (message retrieval) URI to a custom URI (for custom
     servlets). URI prefix: http://localhost:<port>/. Default servlet:
     ZVXML/Classic Message Communications Servlet.
--http-post <URI>
     Set the HTTP Post (message submission) URI to a custom URI (for custom
     servlets). URI prefix: http://localhost:<port>/. If used with
     --submit-file, each line in the file is a message in the custom servlet
     format. This overrides the default message submission format of either
     ZVXML or Classic. Default servlet: ZVXML/Classic Message Communications
     Servlet.

Assistance Options:

--help
     Display usage information, then exit.
--version
     Display the version number, then exit.

)";

constexpr const char* kOnlyOne =
    "ERROR  Only one of the following can be used:\n"
    "  --get-response, --get-status, --submit-file, --map-data, --map-data-file,\n"
    "  --recover-file, or an ZVXML/Classic message.\n";

TEST(CliProgram, HelpTextHasSixtySixLines) {
  std::string text(kHelpText);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 66);
}

struct ProgramCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  const char* out;  // nullptr: checked separately
  const char* err;
};

TEST(CliProgram, HelpVersionAndRejectedLines) {
  const ProgramCase cases[] = {
      {"help", {"--help"}, 0, kHelpText, ""},
      {"no words", {}, 20, kHelpText, ""},
      {"get-response without client", {"--get-response"}, 0, kHelpText, ""},
      {"unknown option", {"--bogus"}, 20, "", "ERROR  Invalid/Unsupported command line argument.\n"},
      {"double dash alone", {"--"}, 20, "", "ERROR  Invalid/Unsupported command line argument.\n"},
      {"two operations", {"--get-status", "--recover-file", "ZVClient.log"}, 20, "", kOnlyOne},
      {"recover file without file", {"--recover-file"}, 20, "",
       "ERROR  Recovery file could not be opened.\n"},
      {"version", {"--version"}, 0, nullptr, ""},
  };
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  for (const ProgramCase& c : cases) {
    SCOPED_TRACE(c.name);
    RunResult result = run_program(ZV_CLIENT_PATH, c.args, dir.path());
    ASSERT_EQ(result.failure, "");
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, c.err);
    if (c.out != nullptr) {
      EXPECT_EQ(result.out, c.out);
    } else {
      EXPECT_TRUE(result.out.starts_with("ZVClient 2.2.1.3 (native)\n")) << result.out;
      EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 3) << result.out;
    }
  }
}

TEST(CliProgram, HelpRunNeedsNoConfigurationAndLeavesNoFiles) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  RunOptions options;
  options.cwd = dir.path();
  // argv[0] in an empty directory: no runtime configuration beside it.
  options.argv0 = dir.path() + "/ZVClient";
  RunResult result = run_program(ZV_CLIENT_PATH, {"--help"}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kHelpText);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// The runner itself, which the end-to-end tests of the other modules share.
TEST(ProgramRunner, StatusInputOutputAndWorkingDirectory) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());

  RunResult status = run_program("/bin/sh", {"-c", "echo out; echo err >&2; exit 3"}, dir.path());
  EXPECT_EQ(status.status, 3);
  EXPECT_EQ(status.out, "out\n");
  EXPECT_EQ(status.err, "err\n");

  RunResult cwd = run_program("/bin/sh", {"-c", "pwd -P"}, dir.path());
  EXPECT_EQ(cwd.out, std::filesystem::canonical(dir.path()).string() + "\n");

  // More than a pipe holds in each direction at once: input and output must
  // be served together.
  RunOptions echo;
  echo.input = std::string(1 << 20, 'x') + "\nend\n";
  RunResult big = run_program("/bin/cat", {}, echo);
  EXPECT_EQ(big.status, 0);
  EXPECT_EQ(big.out, *echo.input);

  RunOptions env;
  env.env = {{"ZV_RUNNER_PROBE", "a b"}, {"HOME", "/nowhere"}};
  env.argv0 = "renamed";
  RunResult vars = run_program("/bin/sh", {"-c", "echo \"$ZV_RUNNER_PROBE|$HOME|$0\""}, env);
  EXPECT_EQ(vars.out, "a b|/nowhere|renamed\n");

  RunResult closed = run_program("/bin/cat", {}, RunOptions{});
  EXPECT_EQ(closed.status, 0);
  EXPECT_EQ(closed.out, "");
}

TEST(ProgramRunner, FailuresAreReportedNotThrown) {
  RunOptions slow;
  slow.timeout = std::chrono::milliseconds(200);
  RunResult late = run_program("/bin/sleep", {"5"}, slow);
  EXPECT_TRUE(late.timed_out);
  EXPECT_EQ(late.signal, SIGKILL);
  EXPECT_EQ(late.status, -1);

  RunResult missing = run_program("/nonexistent/program", {}, RunOptions{});
  EXPECT_EQ(missing.status, 127);
  EXPECT_NE(missing.err.find("execve"), std::string::npos);

  RunResult signalled = run_program("/bin/sh", {"-c", "kill -TERM $$"}, RunOptions{});
  EXPECT_EQ(signalled.signal, SIGTERM);
  EXPECT_EQ(signalled.status, -1);
}

}  // namespace
}  // namespace zv::test
