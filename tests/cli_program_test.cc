// The built program, run as a user runs it: help, version, rejected command
// lines and their exit statuses.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"
#include "base/version.h"

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

// Runs without any configuration beside the program: none of these needs
// one, and none leaves a file behind.  (The arguments test has the table of
// command lines; here the streams and exit status of the program itself.)
TEST(CliProgram, HelpVersionAndRejectedLines) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } cases[] = {
      {{"--help"}, 0, kHelpText, ""},
      {{}, 20, kHelpText, ""},
      {{"--bogus"}, 20, "", "ERROR  Invalid/Unsupported command line argument.\n"},
  };
  ClientFixture client;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    RunResult result = client.run(c.args);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
  }
  // The version line, then the maker's two notice lines.
  RunResult version = client.run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.starts_with("ZVClient " ZV_PROGRAM_VERSION " (native)\n") &&
              version.out.find("\n\n") == std::string::npos &&
              std::count(version.out.begin(), version.out.end(), '\n') == 3)
      << version.out;
  EXPECT_TRUE(std::filesystem::is_empty(client.dir()));
}

}  // namespace
}  // namespace zv::test
