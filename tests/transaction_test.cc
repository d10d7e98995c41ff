// The transaction builder line by line, and the mapping-file operation in
// process against a port where nothing listens: an undelivered submission
// lands in the recovery log exactly as it would have been sent.
#include "message/transaction.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "agent_fixture.h"
#include "cli/error.h"
#include "cli/mapping.h"
#include "cli/session.h"
#include "files/file.h"
#include "program_runner.h"
#include "transport/endpoint.h"

namespace zv {
namespace {

std::string str(const Text& text) { return std::string(text.data(), text.size()); }

std::string document(const std::string& method, const std::string& subclass,
                     const std::string& data) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><transaction><header><method>" + method +
         "</method><subclass>" + subclass + "</subclass></header><data>" + data +
         "</data></transaction>";
}

const char* const kWords[] = {"/opt/zv/ZVClient", "--submit-mapping-file", "map.txt", "w1",
                              "\"quoted w2\"",    "",                      "\"\"",    "last"};

Arguments mapping_arguments() {
  Arguments arguments;
  arguments.mapping_path = "map.txt";
  arguments.mapping_words = Words(kWords);
  arguments.mapping_last_index = 7;
  return arguments;
}

std::string build(const std::vector<std::string>& lines) {
  Arguments arguments = mapping_arguments();
  SubmitData record = submit_data_initialize();
  for (const std::string& line : lines) submit_data_process_config_line(record, arguments, line);
  return str(submit_data_generate_message(record));
}

// Variables the table reads; set for the test's duration only.
struct Environment {
  Environment() {
    ::setenv("ZV_MAP_TEST_SET", "\"set value\"", 1);
    ::setenv("ZV_MAP_TEST_EMPTY", "", 1);
    ::setenv("ZV_MAP_TEST_QUOTES", "\"\"", 1);
    ::unsetenv("ZV_MAP_TEST_UNSET");
  }
  ~Environment() {
    ::unsetenv("ZV_MAP_TEST_SET");
    ::unsetenv("ZV_MAP_TEST_EMPTY");
    ::unsetenv("ZV_MAP_TEST_QUOTES");
  }
};

const std::string kBadVariable = "Environment Variable specified is INVALID.";
const std::string kBadArgument = "Argument specified is INVALID.";

TEST(SubmitData, MappingLinesToDocument) {
  Environment environment;
  struct Case {
    std::vector<std::string> lines;
    std::string expected;
  } cases[] = {
      {{}, document("Add", "Action", "")},
      {{"zvagent_subclass=Alert", "host=db1", "msg=disk <90%>"},
       document("Add", "Alert", "<host>db1</host><msg>disk &lt;90%&gt;</msg>")},
      {{"zvagent_method=Delete", "x=1", "zvagent_method=Update", "zvagent_subclass=A",
        "zvagent_subclass=B"},
       document("Update", "B", "<x>1</x>")},
      {{"zvagent_method = Add"}, document("Add", "Action", "<zvagent_method > Add</zvagent_method >")},
      {{"ZVAGENT_METHOD=x", "zvagent_methods=y"},
       document("Add", "Action", "<ZVAGENT_METHOD>x</ZVAGENT_METHOD><zvagent_methods>y</zvagent_methods>")},
      {{"=x"}, document("Add", "Action", "<>x</>")},
      {{"a=b=c"}, document("Add", "Action", "<a>b=c</a>")},
      {{"n=", "t=trailing  "}, document("Add", "Action", "<n></n><t>trailing  </t>")},
      {{"zvagent_method=", "zvagent_subclass="}, document("", "", "")},
      {{"no equals sign", "x=1", "%ZV_MAP_TEST_SET%"}, document("Add", "Action", "<x>1</x>")},
      // Argument references: word 0 is the program as invoked.
      {{"p=#0", "a=#3", "b=#4", "c=#7", "d=#3#", "e=# 3"},
       document("Add", "Action",
                "<p>/opt/zv/ZVClient</p><a>w1</a><b>quoted w2</b><c>last</c><d>w1</d><e>w1</e>")},
      {{"a=#8", "b=#-1", "c=#x", "d=#", "e=##"},
       document("Add", "Action",
                "<a>" + kBadArgument + "</a><b>" + kBadArgument + "</b><c>" + kBadArgument +
                    "</c><d>" + kBadArgument + "</d><e>" + kBadArgument + "</e>")},
      {{"empty=#5", "quotes=#6", "zvagent_method=#5"}, document("Add", "Action", "")},
      // Environment references.
      {{"a=%ZV_MAP_TEST_UNSET%", "b=%%", "c=%", "d=%ZV_MAP_TEST_SET%", "e=%%ZV_MAP_TEST_SET"},
       document("Add", "Action",
                "<a>" + kBadVariable + "</a><b>" + kBadVariable + "</b><c>" + kBadVariable +
                    "</c><d>set value</d><e>set value</e>")},
      {{"a=%ZV_MAP_TEST_EMPTY%", "b=%ZV_MAP_TEST_QUOTES%"}, document("Add", "Action", "")},
      {{"zvagent_subclass=%ZV_MAP_TEST_UNSET%"}, document("Add", kBadVariable, "")},
      {{"a=x%ZV_MAP_TEST_SET%", "b=50%"},
       document("Add", "Action", "<a>x%ZV_MAP_TEST_SET%</a><b>50%</b>")},
      // Quoted text.
      {{"a=\"\"", "b=\"a b\"", "c=\"\"x\"y\"\"", "zvagent_method=\"\""},
       document("Add", "Action", "<b>a b</b><c>x&quot;y</c>")},
      // Escaping applies to elements only.
      {{"zvagent_method=<&>", "zvagent_subclass='\"'", "a&b=<\"'>"},
       document("<&>", "'\"'", "<a&amp;b>&lt;&quot;&apos;&gt;</a&amp;b>")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(build(c.lines), c.expected) << testing::PrintToString(c.lines);
  }
}

TEST(SubmitData, EveryElementLineIsKeptInOrder) {
  std::vector<std::string> lines;
  std::string data;
  for (int i = 0; i < 600; ++i) {
    lines.push_back("e" + std::to_string(i) + "=" + std::to_string(i * 7));
    data += "<e" + std::to_string(i) + ">" + std::to_string(i * 7) + "</e" + std::to_string(i) + ">";
  }
  lines.push_back("zvagent_method=Bulk");
  EXPECT_EQ(build(lines), document("Bulk", "Action", data));
}

// Runs in a directory of its own: an undelivered message is logged below
// the working directory.
class MappingFile : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_NE(::getcwd(saved_, sizeof saved_), nullptr);
    ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
    endpoint_.host = "127.0.0.1";
    endpoint_.port = test::unused_port();
    endpoint_.path = "/agent";
    arguments_ = mapping_arguments();
    arguments_.output = &output_;
    set_exit_code(kExitOk);
  }
  void TearDown() override {
    ASSERT_EQ(::chdir(saved_), 0);
    set_exit_code(kExitOk);
  }

  void write_map(const std::string& content) {
    std::ofstream("map.txt", std::ios::binary | std::ios::trunc) << content;
  }
  static std::string logged() {
    std::ifstream in("logs/ZVClient.log", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Runs the operation; returns what it wrote to standard error.
  std::string submit_map() {
    std::filesystem::remove_all("logs");
    Parser parser;
    Session session{arguments_, parser};
    testing::internal::CaptureStderr();
    submit_mapping_file(session, endpoint_);
    EXPECT_EQ(arguments_.message, nullptr);
    return testing::internal::GetCapturedStderr();
  }

  test::TempDir dir_;
  char saved_[4096] = {};
  Arguments arguments_;
  File output_ = std::move(*file_open_write(nullptr, stdout));
  Endpoint endpoint_;
};

TEST_F(MappingFile, WholeFileGivesOneTransaction) {
  const std::pair<std::string, std::string> cases[] = {
      {"", document("Add", "Action", "")},
      {"\n\n   \r\n", document("Add", "Action", "")},
      {"a=1\nb=2", document("Add", "Action", "<a>1</a><b>2</b>")},
      {"  a=1 \r\n\r\nzvagent_method=Set\rb=2\r", document("Set", "Action", "<a>1 </a><b>2</b>")},
      {std::string(40000, 'k') + "=v\nz=1\n",
       document("Add", "Action",
                "<" + std::string(40000, 'k') + ">v</" + std::string(40000, 'k') + "><z>1</z>")},
  };
  for (const auto& [content, expected] : cases) {
    write_map(content);
    std::string err = submit_map();
    EXPECT_NE(err.find("COMMUNICATIONS_FAILURE"), std::string::npos) << err;
    EXPECT_EQ(get_exit_code(), kExitCommunication);
    std::string log = logged();
    EXPECT_TRUE(log == expected + "\n") << content.substr(0, 40) << " logged " << log.substr(0, 200);
  }
}

TEST_F(MappingFile, MissingFileSendsNothing) {
  std::filesystem::remove("map.txt");
  EXPECT_EQ(submit_map(), "ERROR  Submit mapping file could not be opened.\n");
  EXPECT_EQ(get_exit_code(), kExitFile);
  EXPECT_FALSE(std::filesystem::exists("logs"));
}

// An allocation that fails while the file is read or the document built
// stops the submission and leaks nothing; a failure after that may only
// lose the whole message, never send part of it.
TEST_F(MappingFile, AllocationFailureWhileBuildingSendsNothing) {
  Environment environment;
  const std::string name(33000, 'h');
  write_map("zvagent_subclass=%ZV_MAP_TEST_SET%\nzvagent_method=\"Update\"\n" + name +
            "=db1\nmsg=disk <90%>\nw=#3");
  const std::string expected = document(
      "Update", "set value",
      "<" + name + ">db1</" + name + "><msg>disk &lt;90%&gt;</msg><w>w1</w>");
  const std::size_t before = memory_allocated;
  int silent = 0;
  bool delivered_to_log = false;
  for (long n = 0; n < 200 && !delivered_to_log; ++n) {
    set_exit_code(kExitOk);
    memory_fail_after(n);
    std::string err = submit_map();
    memory_fail_after(-1);
    EXPECT_EQ(memory_allocated, before) << "failing allocation " << n;
    if (err.find("COMMUNICATIONS_FAILURE") == std::string::npos) {
      ++silent;
      EXPECT_EQ(get_exit_code(), kExitMemory) << n;
      EXPECT_FALSE(std::filesystem::exists("logs/ZVClient.log")) << n;
      continue;
    }
    std::string log = logged();
    if (!log.empty()) {
      // Compared whole, without printing some 66 KB on a mismatch.
      EXPECT_TRUE(log == expected + "\n") << "failing allocation " << n << ": partial document";
    }
    delivered_to_log = get_exit_code() == kExitCommunication && !log.empty();
  }
  EXPECT_TRUE(delivered_to_log);
  // At least: the line buffer and its growth for the long line, the two
  // longer elements, the element list and the document (short texts need
  // no block of their own).
  EXPECT_GE(silent, 6);
}

}  // namespace
}  // namespace zv
