#include "xml/config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/error.h"

namespace zv {
namespace {

namespace fs = std::filesystem;

TEST(Config, PathIsBesideTheProgram) {
  struct Row {
    const char* program;
    const char* path;
  };
  const std::vector<Row> rows = {
      {"/usr/local/bin/ZVClient", "/usr/local/bin/etc/.runtime.xml"},
      {"ZVClient", "etc/.runtime.xml"},
      {"./ZVClient", "./etc/.runtime.xml"},
      {"/ZVClient", "/etc/.runtime.xml"},
      {"bin/", "bin/etc/.runtime.xml"},
      {"", "etc/.runtime.xml"},
      {nullptr, "etc/.runtime.xml"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(get_config_path(row.program), row.path) << (row.program ? row.program : "(none)");
  }
}

// A directory with etc/.runtime.xml and a program path inside it.
class ConfigFile : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zvconfig.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directory(dir_ / "etc");
    program_ = (dir_ / "ZVClient").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const std::string& content) {
    std::ofstream out(dir_ / "etc" / ".runtime.xml", std::ios::binary | std::ios::trunc);
    out << content;
  }

  fs::path dir_;
  std::string program_;
};

TEST_F(ConfigFile, PortCases) {
  struct Row {
    const char* what;
    std::string content;
    std::int32_t port;
  };
  const std::vector<Row> rows = {
      {"three lines", "<runtime>\n<http port=\"2010\"/>\n</runtime>\n", 2010},
      {"no final line end", "<runtime>\n<http port=\"2010\"/>\n</runtime>", 2010},
      {"indented, blank lines, CR LF",
       "\r\n<runtime>\r\n\r\n    <http port=\"2011\"/>\r\n\t</runtime>\r\n", 2011},
      {"lone CR line ends", "<runtime>\r  <http port='2012'/>\r</runtime>", 2012},
      {"only the http tag", "<http port=\"2010\"/>\n", -1},
      {"http tag is the last markup", "<runtime>\n<http port=\"2010\"/>\n", -1},
      {"letters", "<r>\n<http port=\"abc\"/>\n</r>\n", -1},
      {"digits then letters", "<r>\n<http port=\"12ab\"/>\n</r>\n", 12},
      {"zero", "<r>\n<http port=\"0\"/>\n</r>\n", 0},
      {"no port attribute", "<r>\n<http host=\"x\"/>\n</r>\n", -1},
      {"attribute named p", "<r>\n<http p=\"99\"/>\n</r>\n", 99},
      {"an h tag comes first", "<r>\n<h port=\"7\"/>\n<http port=\"2010\"/>\n</r>\n", 7},
      {"processing instruction first",
       "<?xml version=\"1.0\"?>\n<runtime>\n<http port=\"2010\"/>\n</runtime>\n", 2010},
      {"comment on its own line",
       "<!-- runtime settings -->\n<runtime>\n<!-- agent port -->\n<http port=\"2010\"/>\n"
       "</runtime>\n",
       2010},
      {"comment over several lines",
       "<runtime>\n<!-- the agent\n     listens here\n-->\n<http port=\"2010\"/>\n</runtime>\n",
       2010},
      {"malformed before it", "<runtime>\n<a b>\n<http port=\"2010\"/>\n</runtime>\n", -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    write(row.content);
    std::size_t before = memory_allocated;
    EXPECT_EQ(read_config(program_.c_str()), row.port);
    EXPECT_EQ(memory_allocated, before);
  }
}

TEST_F(ConfigFile, MissingFileIsSilent) {
  set_exit_code(0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(read_config(program_.c_str()), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(get_exit_code(), kExitOk);
}

TEST_F(ConfigFile, MemoryShortageNeverThrows) {
  write("<runtime>\n<http port=\"2010\"/>\n</runtime>\n");
  std::size_t before = memory_allocated;
  testing::internal::CaptureStderr();
  for (long n = 0; n < 20; ++n) {
    memory_fail_after(n);
    std::int32_t port = read_config(program_.c_str());
    memory_fail_after(-1);
    EXPECT_TRUE(port == -1 || port == 2010) << n;
    EXPECT_EQ(memory_allocated, before);
  }
  testing::internal::GetCapturedStderr();
  set_exit_code(0);
}

}  // namespace
}  // namespace zv
