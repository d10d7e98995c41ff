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
const std::string kHelpText = file_contents(ZV_SOURCE_DIR "/tests/data/help.txt");

// Runs without any configuration beside the program: none of these needs
// one, and none leaves a file behind, a file it could not open or modify
// included.  (The arguments test has the table of command lines; here the
// streams and exit status of the program itself.)
TEST(CliProgram, HelpVersionAndRejectedRuns) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;
  } cases[] = {
      {{"--help"}, 0, kHelpText, ""},
      {{}, 20, kHelpText, ""},
      {{"--bogus"}, 20, "", "ERROR  Invalid/Unsupported command line argument.\n"},
      {{"--submit-file", "absent.txt"}, 40, "", "ERROR  Submit file could not be opened.\n"},
      {{"--map-data-file", "absent.txt"}, 40, "", "ERROR  Map data file could not be opened.\n"},
      {{"--submit-mapping-file", "absent.txt", "w"},
       40,
       "",
       "ERROR  Submit mapping file could not be opened.\n"},
      {{"--recover-file", "absent.log"}, 40, "", "ERROR  Recover file could not be modified.\n"},
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
  // Nothing but the program itself: no log, no file of any kind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(client.dir()), {}), 1);
}

}  // namespace
}  // namespace zv::test
