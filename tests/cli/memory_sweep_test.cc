// Every allocation of a whole run, refused in turn: the run gives up only
// the task in hand, reports it, and winds down without leaking a block.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"
#include "base/error.h"
#include "cli/run.h"
#include "files/file.h"

namespace zv {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// True when `part` is `whole` with some lines left out, in the same order.
bool is_subsequence(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
  std::size_t at = 0;
  for (const std::string& line : part) {
    while (at < whole.size() && whole[at] != line) ++at;
    if (at++ >= whole.size()) return false;
  }
  return true;
}

TEST(MemorySweep, RecoveryGivesUpOnlyTheLineInHand) {
  const std::string log =
      "<a>message</a>\n12 \"cust7\" \"a b\"\n\x1eMClassic\\nmessage\n"
      "\x1e"
      "D\"T-1\" \"x\"\n";
  test::ScopedWorkDir work;
  ::mkdir("etc", 0755);
  std::ofstream("etc/.runtime.xml")
      << "<runtime>\n<http port=\"" << test::unused_port() << "\"/>\n</runtime>\n";

  bool completed = false;
  for (long n = 0; n < 2000 && !completed; ++n) {
    std::ofstream("r.log", std::ios::trunc) << log;
    ::unlink("logs/ZVClient.log");
    // A refusal before the renamed file is read leaves that recovery
    // pending; each refusal starts from the same files.
    ::unlink("r.log.recover.offset");
    reset_exit_code();
    std::size_t start = memory_allocated;
    Parser parser;
    Arguments arguments;
    arguments.program_path = "ZVClient";
    arguments.recover_path = "r.log";
    Session session{arguments, parser};

    testing::internal::CaptureStderr();
    memory_fail_after(n);
    run(session);
    memory_fail_after(-1);
    parser_clear(parser);
    std::string err = testing::internal::GetCapturedStderr();

    bool refused = err.find("<errorcode>OUT_OF_MEMORY</errorcode>") != std::string::npos;
    completed = !refused;
    EXPECT_EQ(memory_allocated, start) << "refusal " << n;
    std::vector<std::string> logged = lines_of(test::file_contents("logs/ZVClient.log"));
    EXPECT_TRUE(is_subsequence(logged, lines_of(log))) << "refusal " << n;
    if (completed) {
      EXPECT_EQ(logged, lines_of(log));
      EXPECT_EQ(get_exit_code(), kExitCommunication);
    }
  }
  EXPECT_TRUE(completed);
  reset_exit_code();
}

}  // namespace
}  // namespace zv
