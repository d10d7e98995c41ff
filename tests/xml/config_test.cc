#include "xml/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "agent_fixture.h"
#include "base/error.h"

namespace zv {
namespace {

// A configuration that someone else could have planted, or that is no
// plain small file, is not used, and that is said.
TEST(Config, UnsafeFilesAreNotUsed) {
  test::ClientFixture client;
  std::filesystem::create_directory(client.dir() + "/etc");
  const std::string path = client.dir() + "/etc/.runtime.xml";
  const std::string good = "<runtime>\n<http port=\"2010\"/>\n</runtime>\n";
  const struct {
    const char* name;
    std::function<bool()> make;
  } cases[] = {
      {"world-writable",
       [&] {
         client.write("etc/.runtime.xml", good);
         return ::chmod(path.c_str(), 0666) == 0;
       }},
      {"fifo", [&] { return ::mkfifo(path.c_str(), 0600) == 0; }},
      {"link",
       [&] {
         client.write("target.xml", good);
         return ::symlink((client.dir() + "/target.xml").c_str(), path.c_str()) == 0;
       }},
      {"too large",
       [&] {
         client.write("etc/.runtime.xml", good + std::string(70000, ' '));
         return true;
       }},
      {"another user's",
       [&] {
         client.write("etc/.runtime.xml", good);
         return ::chown(path.c_str(), 65534, 65534) == 0;
       }},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(path);
    if (!c.make()) continue;  // another user's file needs root
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_config_file(path.c_str()), -1) << c.name;
    EXPECT_TRUE(test::holds(testing::internal::GetCapturedStderr(), "was not used")) << c.name;
  }
}

// Every case is silent, leaves the exit code alone and gives back every block.
TEST(Config, PortCases) {
  const std::pair<std::optional<std::string>, std::int32_t> rows[] = {
      {std::nullopt, -1},  // no file
      {"<runtime>\n<http port=\"2010\"/>\n</runtime>\n", 2010},
      {"<runtime>\n<http port=\"2010\"/>\n</runtime>", 2010},
      {"\r\n<runtime>\r\n\r\n    <http port=\"2011\"/>\r\n\t</runtime>\r\n", 2011},
      {"<runtime>\r  <http port='2012'/>\r</runtime>", 2012},
      // The http tag is read only once more markup follows it.
      {"<http port=\"2010\"/>\n", -1},
      {"<runtime>\n<http port=\"2010\"/>\n", -1},
      {"<r>\n<http port=\"abc\"/>\n</r>\n", -1},
      {"<r>\n<http port=\"12ab\"/>\n</r>\n", 12},
      {"<r>\n<http port=\"0\"/>\n</r>\n", 0},
      {"<r>\n<http host=\"x\"/>\n</r>\n", -1},
      {"<r>\n<http p=\"99\"/>\n</r>\n", 99},
      // The first tag, and in it the first attribute, whose name is a prefix
      // of the name looked for, case and all.
      {"<r>\n<h port=\"7\"/>\n<http port=\"2010\"/>\n</r>\n", 7},
      {"<r>\n<HTTP port=\"5\"/>\n<https port=\"6\"/>\n<http ports=\"1\" port=\"2\" "
       "p=\"3\"/>\n</r>\n",
       2},
      {"<?xml version=\"1.0\"?>\n<runtime>\n<http port=\"2010\"/>\n</runtime>\n", 2010},
      {"<!-- settings -->\n<runtime>\n<!-- agent port -->\n<http port=\"2010\"/>\n</runtime>\n",
       2010},
      {"<runtime>\n<!-- the agent\n     listens here\n-->\n<http port=\"2010\"/>\n</runtime>\n",
       2010},
      {"<runtime>\n<a b>\n<http port=\"2010\"/>\n</runtime>\n", -1},  // malformed before it
  };
  test::ClientFixture client;
  std::filesystem::create_directory(client.dir() + "/etc");
  const std::string path = client.dir() + "/etc/.runtime.xml";
  for (const auto& [content, port] : rows) {
    SCOPED_TRACE(content.value_or("(no file)"));
    std::filesystem::remove(client.dir() + "/etc/.runtime.xml");
    if (content) client.write("etc/.runtime.xml", *content);
    const std::size_t before = memory_allocated;
    reset_exit_code();
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_config_file(path.c_str()), port);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(get_exit_code(), kExitOk);
    EXPECT_EQ(memory_allocated, before);
  }
}

}  // namespace
}  // namespace zv
