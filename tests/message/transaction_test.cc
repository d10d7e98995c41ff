// The transaction builder line by line, and a mapping-file submission whose
// allocations fail in turn: it sends the whole document or nothing.
#include "message/transaction.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_fixture.h"
#include "base/error.h"
#include "files/output.h"
#include "operations/mapping.h"
#include "operations/session.h"
#include "transport/endpoint.h"

namespace zv {
namespace {

using test::transaction_document;

const char* const kWords[] = {"/opt/zv/ZVClient",
                              "--submit-mapping-file",
                              "map.txt",
                              "w1",
                              "\"quoted w2\"",
                              "",
                              "\"\"",
                              "last"};

Arguments mapping_arguments() {
  Arguments arguments;
  arguments.mapping_path = "map.txt";
  arguments.mapping_words = Words(kWords);
  arguments.mapping_last_index = 7;
  return arguments;
}

std::string build(const std::vector<std::string>& lines) {
  SubmitData record = submit_data_initialize();
  for (const std::string& line : lines)
    submit_data_process_config_line(record, Words(kWords), line);
  Text message = submit_data_generate_message(record);
  return std::string(message.data(), message.size());
}

// The variables the mapping lines read; the names are this test's own, so
// they are simply left set.
void set_environment() {
  ::setenv("ZV_MAP_TEST_SET", "\"set value\"", 1);
  ::setenv("ZV_MAP_TEST_EMPTY", "", 1);
  ::setenv("ZV_MAP_TEST_QUOTES", "\"\"", 1);
  ::unsetenv("ZV_MAP_TEST_UNSET");
}

const std::string kBadVariable = "Environment Variable specified is INVALID.";
const std::string kBadArgument = "Argument specified is INVALID.";

// Each element named in `names` with the same value.
std::string elements(const std::string& names, const std::string& value) {
  std::string data;
  for (char name : names) data += std::string("<") + name + ">" + value + "</" + name + ">";
  return data;
}

TEST(SubmitData, MappingLinesToDocument) {
  set_environment();
  const struct {
    std::vector<std::string> lines;
    std::string method, subclass, data;
  } cases[] = {
      {{}, "Add", "Action", ""},
      {{"zvagent_method=Delete", "x=1", "zvagent_method=Update", "zvagent_subclass=A",
        "zvagent_subclass=B"},
       "Update",
       "B",
       "<x>1</x>"},
      // Split at the first '=', nothing trimmed; header names match exactly.
      {{"zvagent_method = Add"}, "Add", "Action", "<zvagent_method > Add</zvagent_method >"},
      {{"ZVAGENT_METHOD=x", "zvagent_methods=y"},
       "Add",
       "Action",
       "<ZVAGENT_METHOD>x</ZVAGENT_METHOD><zvagent_methods>y</zvagent_methods>"},
      {{"=x", "a=b=c"}, "Add", "Action", "<>x</><a>b=c</a>"},
      {{"n=", "t=trailing  "}, "Add", "Action", "<n></n><t>trailing  </t>"},
      {{"zvagent_method=", "zvagent_subclass="}, "", "", ""},
      {{"no equals sign", "x=1", "%ZV_MAP_TEST_SET%"}, "Add", "Action", "<x>1</x>"},
      // Argument references: word 0 is the program as invoked.
      {{"p=#0", "a=#3", "b=#4", "c=#7", "d=#3#", "e=# 3"},
       "Add",
       "Action",
       "<p>/opt/zv/ZVClient</p><a>w1</a><b>quoted w2</b><c>last</c><d>w1</d><e>w1</e>"},
      {{"a=#8", "b=#-1", "c=#x", "d=#", "e=##"}, "Add", "Action", elements("abcde", kBadArgument)},
      {{"empty=#5", "quotes=#6", "zvagent_method=#5"}, "Add", "Action", ""},
      // Environment references.
      {{"a=%ZV_MAP_TEST_UNSET%", "b=%%", "c=%", "d=%ZV_MAP_TEST_SET%", "e=%%ZV_MAP_TEST_SET"},
       "Add",
       "Action",
       elements("abc", kBadVariable) + "<d>set value</d><e>set value</e>"},
      {{"a=%ZV_MAP_TEST_EMPTY%", "b=%ZV_MAP_TEST_QUOTES%"}, "Add", "Action", ""},
      {{"zvagent_subclass=%ZV_MAP_TEST_UNSET%"}, "Add", kBadVariable, ""},
      {{"a=x%ZV_MAP_TEST_SET%", "b=50%"}, "Add", "Action", "<a>x%ZV_MAP_TEST_SET%</a><b>50%</b>"},
      // Quoted text; an empty value leaves the element (or header) out.
      {{"a=\"\"", "b=\"a b\"", "c=\"\"x\"y\"\"", "zvagent_method=\"\""},
       "Add",
       "Action",
       "<b>a b</b><c>x&quot;y</c>"},
      // Escaping applies to elements only.
      {{"zvagent_method=<&>", "zvagent_subclass='\"'", "a&b=<\"'>"},
       "<&>",
       "'\"'",
       "<a&amp;b>&lt;&quot;&apos;&gt;</a&amp;b>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(build(c.lines), transaction_document(c.method, c.subclass, c.data))
        << testing::PrintToString(c.lines);
  }
}

// An allocation that fails while the file is read or the document built
// stops the submission and leaks nothing; a failure after that may only
// lose the whole message, never send part of it.  Nothing listens on the
// port, so what would have been sent lands in the recovery log.
TEST(MappingFile, AllocationFailureWhileBuildingSendsNothing) {
  set_environment();
  test::ScopedWorkDir work;  // the recovery log lands below it
  const std::string name(33000, 'h');
  std::ofstream("map.txt") << "zvagent_subclass=%ZV_MAP_TEST_SET%\nzvagent_method=\"Update\"\n"
                           << name << "=db1\nmsg=disk <90%>\nw=#3";
  const std::string expected =
      transaction_document("Update", "set value",
                           "<" + name + ">db1</" + name + "><msg>disk &lt;90%&gt;</msg><w>w1</w>");
  const Arguments arguments = mapping_arguments();
  Output output(STDOUT_FILENO, false);
  const Endpoint endpoint{Text("127.0.0.1"), test::unused_port(), Text("/agent"), false, {}, false};
  const std::size_t before = memory_allocated;
  int silent = 0;
  bool delivered_to_log = false;
  for (long n = 0; n < 200 && !delivered_to_log; ++n) {
    std::filesystem::remove_all("logs");
    reset_exit_code();
    Parser parser;
    Session session{arguments, parser, &output};
    testing::internal::CaptureStderr();
    memory_fail_after(n);
    submit_mapping_file(session, endpoint);
    memory_fail_after(-1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(memory_allocated, before) << "failing allocation " << n;
    const std::string log = test::file_contents("logs/ZVClient.log");
    const bool sent = err.find("COMMUNICATIONS_FAILURE") != std::string::npos;
    silent += sent ? 0 : 1;
    EXPECT_TRUE(sent || get_exit_code() == kExitMemory) << "failing allocation " << n;
    // Compared whole, without printing some 66 KB on a mismatch.
    EXPECT_TRUE(log.empty() || (sent && log == expected + "\n")) << "failing allocation " << n;
    delivered_to_log = sent && get_exit_code() == kExitCommunication && !log.empty();
  }
  reset_exit_code();
  EXPECT_TRUE(delivered_to_log);
  // At least: the line buffer and its growth for the long line, the two
  // longer elements, the element list and the document (short texts need
  // no block of their own).
  EXPECT_GE(silent, 6);
}

}  // namespace
}  // namespace zv
