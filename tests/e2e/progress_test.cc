// A person watching a long file run on a terminal sees one progress line,
// redrawn in place and erased at the end; a pipe never gets it.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv::test {
namespace {

constexpr const char* kErase = "\r\033[K";

// Runs the client in `client`'s directory with standard error on a
// pseudo-terminal; returns what the terminal showed.
std::string on_terminal(const ClientFixture& client, const std::vector<std::string>& args,
                        const Env& env) {
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return "no pty";
  pid_t pid = ::fork();
  if (pid == 0) {
    die_with_the_test();
    ::dup2(slave, 2);
    ::close(master);
    if (::chdir(client.dir().c_str()) != 0) ::_exit(127);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<std::string> words = {client.program()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(slave);
  std::string shown;
  char block[4096];
  for (ssize_t n; (n = ::read(master, block, sizeof block)) > 0;) shown.append(block, n);
  ::close(master);
  ::waitpid(pid, nullptr, 0);
  return shown;
}

TEST(Progress, ShownOnATerminalOnly) {
  ClientFixture client;
  client.write("lines.txt", message_lines(0, 400));
  // The first answer never comes: after 1.2 s the rest is kept at once.
  StandInAgent agent(client.dir(), {"--reply", "never-answer"});
  const std::vector<std::string> args = {"--submit-file", "lines.txt"};
  std::string shown = on_terminal(client, args, {{"ZVCLIENT_IO_TIMEOUT", "1.2"}});
  std::size_t drawn = shown.find(std::string(kErase) + "1 handled");
  ASSERT_NE(drawn, std::string::npos) << shown;
  EXPECT_NE(shown.find("% of the file), ", drawn), std::string::npos) << shown;
  // Erased before the closing line.
  std::size_t closing = shown.find("ERROR  400 of 400 submissions were kept");
  ASSERT_NE(closing, std::string::npos) << shown;
  EXPECT_EQ(shown.rfind(kErase, closing), closing - std::string(kErase).size()) << shown;

  std::filesystem::remove(client.dir() + "/logs/ZVClient.log");
  StandInAgent again(client.dir(), {"--reply", "never-answer"});
  std::string off =
      on_terminal(client, args, {{"ZVCLIENT_IO_TIMEOUT", "1.2"}, {"ZVCLIENT_PROGRESS", "0"}});
  EXPECT_EQ(off.find(kErase), std::string::npos) << off;
  std::filesystem::remove(client.dir() + "/logs/ZVClient.log");
  StandInAgent third(client.dir(), {"--reply", "never-answer"});
  RunResult piped = client.run(args, {{"ZVCLIENT_IO_TIMEOUT", "1.2"}});
  EXPECT_EQ(piped.err.find(kErase), std::string::npos) << piped.err;
}

}  // namespace
}  // namespace zv::test
