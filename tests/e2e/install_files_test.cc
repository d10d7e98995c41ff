// The files installed beside the program: the manual page and the bash
// completion must know every option the program has, and the runtime
// configuration template must give the agent's port.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"
#include "xml/config.h"

namespace zv::test {
namespace {

// The operation that the help text leaves out.
constexpr const char* kUnlistedOption = "--submit-mapping-file";

std::set<std::string> program_options() {
  RunResult help = run_program(ZV_CLIENT_PATH, {"--help"});
  std::set<std::string> options{kUnlistedOption};
  static const std::regex kOption("--[a-z][a-z-]*[a-z]");
  for (std::sregex_iterator it(help.out.begin(), help.out.end(), kOption), end; it != end; ++it) {
    options.insert(it->str());
  }
  return options;
}

// The page without font changes and with plain hyphens and backslashes.
std::string plain_roff(std::string text) {
  text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
  text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
  return std::regex_replace(text, std::regex(R"(\\e)"), "\\");
}

// The first word of every item heading (the line after .TP or .TQ), with the
// section it stands in.
std::map<std::string, std::string> man_headings() {
  std::istringstream page(plain_roff(file_contents(ZV_MAN_PAGE_PATH)));
  std::map<std::string, std::string> headings;
  std::string line, section;
  bool heading_next = false;
  while (std::getline(page, line)) {
    if (line.starts_with(".SH ")) section = line.substr(4);
    if (heading_next) {
      std::istringstream words(line);
      std::string word;
      words >> word;
      if (word.starts_with(".")) words >> word;  // a font macro such as .B
      headings.emplace(word, section);
    }
    heading_next = line == ".TP" || line == ".TQ";
  }
  return headings;
}

// Every option under OPERATIONS or OPTIONS, and the entries of the other
// sections a reader looks up.
TEST(InstalledFiles, ManPageHasItsEntries) {
  const auto headings = man_headings();
  const auto options = program_options();
  ASSERT_GT(options.size(), 10u);
  for (const auto& option : options) {
    auto found = headings.find(option);
    ASSERT_NE(found, headings.end()) << option << " has no entry";
    EXPECT_TRUE(found->second == "OPERATIONS" || found->second == "OPTIONS") << option;
  }
  const std::pair<const char*, std::vector<const char*>> sections[] = {
      {"EXIT STATUS", {"0", "10", "20", "30", "40", "50"}},
      {"ENVIRONMENT", {"ZVCLIENT_CONNECT_TIMEOUT", "ZVCLIENT_IO_TIMEOUT"}},
      {"FILES", {"etc/.runtime.xml", "logs/ZVClient.log"}},
      {"RECOVERY LOG FORMAT", {"Plain", "Marked"}}};
  for (const auto& [section, entries] : sections) {
    for (const char* heading : entries) {
      auto found = headings.find(heading);
      ASSERT_NE(found, headings.end()) << heading;
      EXPECT_EQ(found->second, section) << heading;
    }
  }
}

// What the completion offers for a command line whose last word is being
// typed, one candidate a line, sorted.
std::string complete(const std::vector<std::string>& words, const std::string& cwd) {
  std::vector<std::string> args = {
      "-c",
      "source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _zvclient;"
      " for w in \"${COMPREPLY[@]}\"; do echo \"$w\"; done | LC_ALL=C sort",
      "bash", ZV_SOURCE_DIR "/packaging/ZVClient.bash-completion"};
  args.insert(args.end(), words.begin(), words.end());
  RunOptions options;
  options.cwd = cwd;
  RunResult result = run_program("/bin/bash", args, options);
  EXPECT_EQ(result.status, 0) << result.err;
  return result.out;
}

TEST(InstalledFiles, BashCompletion) {
  std::string every_option;
  for (const auto& option : program_options()) every_option += option + "\n";
  const struct {
    std::vector<std::string> words;
    std::string offered;
  } cases[] = {
      {{"ZVClient", "--"}, every_option},
      {{"ZVClient", "--get-status", "--v"}, "--version\n"},
      {{"ZVClient", "--submit-file", "mes"}, "messages.txt\n"},
      {{"ZVClient", "--post-file", "--recover-file", "m"}, "messages.txt\n"},
      {{"ZVClient", "--get-response", ""}, ""},
      {{"ZVClient", "--http-post", ""}, "http://localhost:\n"},
      // Everything after --map-data is data, and words after a mapping
      // file are the file's.
      {{"ZVClient", "--map-data", "cust7", "--"}, ""},
      {{"ZVClient", "--submit-mapping-file", "alert.map", "--"}, ""},
      {{"ZVClient", "disk"}, ""},
  };
  TempDir dir;
  { std::ofstream(dir.path() + "/messages.txt") << "hi\n"; }
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.words));
    EXPECT_EQ(complete(c.words, dir.path()), c.offered);
  }
}

TEST(InstalledFiles, RuntimeConfigurationTemplateNamesThePort) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() + "/etc");
  std::filesystem::copy_file(ZV_SOURCE_DIR "/packaging/runtime.xml.in",
                             dir.path() + "/etc/.runtime.xml");
  EXPECT_EQ(read_config_file((dir.path() + "/etc/.runtime.xml").c_str()), 2010);
}

// However the program is started (full path, relative path, PATH, a link),
// it reads the configuration beside its own file, never one in the working
// directory.
TEST(InstalledFiles, ConfigurationIsFoundBesideTheProgramFile) {
  ClientFixture client;
  StandInAgent agent(client.dir(), {});  // writes client.dir()/etc/.runtime.xml
  std::filesystem::create_directories(client.dir() + "/bin/etc");
  std::filesystem::copy_file(client.program(), client.dir() + "/bin/ZVClient");
  std::filesystem::copy_file(client.dir() + "/etc/.runtime.xml",
                             client.dir() + "/bin/etc/.runtime.xml");
  std::filesystem::create_directories(client.dir() + "/work/etc");
  client.write("work/etc/.runtime.xml", "<runtime>\n<http port=\"1\"/>\n</runtime>\n");
  std::filesystem::create_symlink(client.dir() + "/bin/ZVClient", client.dir() + "/link");
  RunOptions in_work;
  in_work.cwd = client.dir() + "/work";
  in_work.env = {{"PATH", client.dir() + "/bin:/usr/bin:/bin"}};
  const std::pair<const char*, RunResult> runs[] = {
      {"full path", run_program(client.dir() + "/bin/ZVClient", {"--get-status"}, in_work)},
      {"relative path", run_program("/bin/sh", {"-c", "../bin/ZVClient --get-status"}, in_work)},
      {"PATH", run_program("/bin/sh", {"-c", "ZVClient --get-status"}, in_work)},
      {"link", run_program(client.dir() + "/link", {"--get-status"}, in_work)},
  };
  for (const auto& [how, r] : runs) {
    EXPECT_EQ(r.status, 0) << how << ": " << r.err;
    EXPECT_TRUE(holds(r.out, "<subclass>Status</subclass>")) << how;
  }
  EXPECT_EQ(agent.request_count(), 4);
}

// The script the scheduled recoveries run recovers each place a run may have
// kept records in, and is silent when there is nothing to recover.  The
// /tmp place is tried where the test may give itself a /tmp of its own (as
// root, in a mount namespace); elsewhere only the two working-directory
// places are.
TEST(InstalledFiles, RecoverAllRecoversEveryPlace) {
  ClientFixture client;
  std::filesystem::copy_file(ZV_SOURCE_DIR "/packaging/recover-all", client.dir() + "/recover-all");
  std::filesystem::create_directory(client.dir() + "/logs");
  client.write("logs/ZVClient.log", message_lines(1, 2));
  client.write("ZVClient.log", message_lines(3, 2));
  StandInAgent agent(client.dir(), {});
  RunOptions in_dir;
  in_dir.cwd = client.dir();
  const bool private_tmp =
      ::geteuid() == 0 &&
      run_program("/usr/bin/unshare", {"--mount", "mount", "-t", "tmpfs", "tmpfs", "/tmp"})
              .status == 0;
  const std::string tmp_record = message_lines(5, 2);
  const std::string recover =
      // The test's folder may be below /tmp: it is mounted again in the new
      // /tmp, by way of /mnt (all of it seen only in the namespace).
      private_tmp ? "exec unshare --mount sh -c 'mount --bind " + client.dir() +
                        " /mnt && mount -t tmpfs tmpfs /tmp && mkdir -p " + client.dir() +
                        " && mount --bind /mnt " + client.dir() + " && cd " + client.dir() +
                        " && printf \"" + std::regex_replace(tmp_record, std::regex("\n"), "\\n") +
                        "\" >/tmp/ZVClient.log && ./recover-all && ! test -s /tmp/ZVClient.log'"
                  : "exec ./recover-all";
  RunResult r = run_program("/bin/sh", {"-c", recover}, in_dir);
  EXPECT_EQ(r.status, 0) << r.err;
  const int records = private_tmp ? 6 : 4;
  ASSERT_EQ(agent.request_count(), records);
  std::set<std::string> sent;
  for (int i = 1; i <= records; ++i) sent.insert(request_form(agent.request(i)));
  EXPECT_EQ(sent.size(), static_cast<std::size_t>(records));
  EXPECT_FALSE(client.exists("logs/ZVClient.log"));
  EXPECT_FALSE(client.exists("ZVClient.log"));

  r = run_program("/bin/sh", {"-c", "exec ./recover-all"}, in_dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(agent.request_count(), records);
  if (!private_tmp) GTEST_SKIP() << "the /tmp place needs root and a mount namespace";
}

}  // namespace
}  // namespace zv::test
