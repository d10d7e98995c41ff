// The data-map word splitter, its agreement with the recovery log's
// data-map record, and the record that a data-map line leaves behind.
#include "message/map_data.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "agent_fixture.h"
#include "cli/error.h"
#include "files/file.h"
#include "files/recovery_log.h"
#include "xml/xml_document.h"

namespace zv {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

Strings split(std::string line) {
  std::string storage = line;  // map_data_open writes into its line
  Strings words;
  for (const char* word : map_data_open(storage.data())) words.emplace_back(word);
  return words;
}

TEST(MapDataSplit, SplitsWordsByTheWalkRules) {
  struct Case {
    const char* line;
    Strings words;
  } cases[] = {
      {"12 cust7 disk full", {"12", "cust7", "disk", "full"}},
      {"12   cust7\t\tdisk \t full", {"12", "cust7", "disk", "full"}},
      {"12 \"cust 7\" x", {"12", "cust 7", "x"}},
      {"12 'd e' f", {"12", "d e", "f"}},
      {"\"a b\"c d", {"a b", "c", "d"}},
      {"\"a b\"\"c\"'d'", {"a b", "c", "d"}},
      {"ab\"cd ef\"", {"cd ef"}},
      {"x ab'c\"d' y", {"x", "c\"d", "y"}},
      {"a\\ b", {"a b"}},
      {"12 \"ends\\\\\" \"b\"", {"12", "ends\\", "b"}},
      {"12 \"say \\\"hi\\\"\"", {"12", "say \"hi\""}},
      {"12 \"\" x ''", {"12", "", "x", ""}},
      {"12 \"", {"12", ""}},
      {"12 \"open quote\t runs", {"12", "open quote\t runs"}},
      {"12 ab\\", {"12", "ab\\"}},
      {"12 \"ab\\", {"12", "ab\\"}},
      {"\\", {"\\"}},
      {"a\\\\ b", {"a\\", "b"}},
      {"\\\"q \\' r", {"\"q", "'", "r"}},
      {"12 \"tab\tinside\"\v\f\r\nz", {"12", "tab\tinside", "z"}},
      {"12 gr\xc3\xbc\xc3\x9f \"\xff\xfe x\"", {"12", "gr\xc3\xbc\xc3\x9f", "\xff\xfe x"}},
      {"12 trailing  ", {"12", "trailing"}},
      {"  12 x", {"12", "x"}},
      {"", {}},
      {" \t", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(split(c.line), c.words) << c.line;
}

// Whatever a failed submission leaves in the recovery log is read back as
// the same transaction id and the same items.
TEST(MapDataSplit, RecoveryLogRecordsRoundTrip) {
  const Strings lists[] = {
      {},
      {"cust7", "disk", "full"},
      {"a b", "c:\\d", "\"", "\\", "ends\\", "\\\\\"\\"},
      {"", "x", ""},
      {"it's", "'", "''", "say \"hi\" 'there'"},
      {"tab\there", " lead", "trail ", "  "},
      {"gr\xc3\xbc\xc3\x9f", "\xff", "\x80\"\\\xc0"},
  };
  for (const Strings& items : lists) {
    std::vector<const char*> pointers;
    for (const std::string& item : items) pointers.push_back(item.c_str());
    Text record = log_map_data_line("12", Words(pointers), 0);
    Strings expected = {"12"};
    expected.insert(expected.end(), items.begin(), items.end());
    EXPECT_EQ(split(std::string(record)), expected) << record;
  }
}

TEST(MapDataSplit, RefusedGrowthLeavesNothingBehind) {
  const std::string text = "12 a b c d e f g h i j k l m n o p q r s t u v w x y z";
  std::size_t start = memory_allocated;
  bool completed = false;
  for (long n = 0; n < 64 && !completed; ++n) {
    std::string line = text;
    testing::internal::CaptureStderr();
    memory_fail_after(n);
    try {
      Vec<const char*> words = map_data_open(line.data());
      completed = true;
      EXPECT_EQ(words.size(), 27u);
    } catch (const memory_exhausted&) {
    }
    memory_fail_after(-1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.empty(), completed) << n;
    EXPECT_EQ(memory_allocated, start) << n;
  }
  EXPECT_TRUE(completed);
  set_exit_code(kExitOk);
}

// Runs in a fresh working directory, where the recovery log then lands.
struct MapDataLine : testing::Test {
  fs::path previous = fs::current_path();
  fs::path dir = fs::path(testing::TempDir()) / ("zv_map_data_" + std::to_string(getpid()));
  Parser parser;
  Arguments arguments;
  Session session{arguments, parser};
  std::optional<File> output = file_open_write(nullptr, stdout);
  // Nothing listens there: every submission fails and is logged.
  Endpoint endpoint{Text("127.0.0.1"), test::unused_port(), Text("/agent")};

  void SetUp() override {
    fs::create_directories(dir);
    fs::current_path(dir);
    arguments.output = &*output;
    set_exit_code(kExitOk);
  }
  void TearDown() override {
    fs::current_path(previous);
    fs::remove_all(dir);
    set_exit_code(kExitOk);
  }

  std::string log() const {
    std::ostringstream all;
    all << std::ifstream(dir / "logs/ZVClient.log", std::ios::binary).rdbuf();
    return all.str();
  }

  void send(const char* text) {
    std::string line = text;
    map_data_line(session, endpoint, line.data());
    EXPECT_FALSE(arguments.map_data_words.has_value()) << text;
    EXPECT_EQ(arguments.map_data_index, -1) << text;
  }
};

TEST_F(MapDataLine, EachLineUsesItsOwnIdOrTheCommandLines) {
  struct Case {
    const char* command_line_id;
    std::vector<const char*> lines;
    std::string log;
    bool rejected;
  } cases[] = {
      {"7", {"12 a \"b c\"", "x y", "007 \"\""}, "12 \"a\" \"b c\"\n7 \"x\" \"y\"\n007 \"\"\n", false},
      {nullptr, {"12 a", "x y", "13"}, "12 \"a\"\n13\n", true},
      // An id that is no number is quoted in a marked record, to come back as the id.
      {"abc", {"-1 z"}, "\x1e" "D\"abc\" \"-1\" \"z\"\n", false},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir / "logs");
    arguments.map_data_transaction_id = c.command_line_id;
    testing::internal::CaptureStderr();
    for (const char* line : c.lines) send(line);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log(), c.log);
    EXPECT_EQ(arguments.map_data_transaction_id, c.command_line_id);
    EXPECT_EQ(err.find("<incoming_message><![CDATA[x y]]></incoming_message>") != std::string::npos,
              c.rejected)
        << err;
    EXPECT_EQ(get_exit_code(), kExitCommunication);
  }
}

TEST_F(MapDataLine, RejectedLineNamesItsWordsAndRecordsNoCode) {
  testing::internal::CaptureStderr();
  send("cust7 \"disk full\" x\\ y");
  send("");
  map_data_line(session, endpoint, nullptr);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
            "<?xml version=\"1.0\"?><transaction id=\"0\"><header><method>Agent</method>"
            "<subclass>ERROR</subclass></header><data><errorcode>INVALID_MAP_DATA</errorcode>"
            "<errortext>Invalid Transaction ID</errortext><errordetail>Transaction ID must be a "
            "positive Integer</errordetail><incoming_message><![CDATA[cust7 disk full x "
            "y]]></incoming_message></data></transaction>\n");
  EXPECT_EQ(get_exit_code(), kExitOk);
  EXPECT_FALSE(fs::exists(dir / "logs"));
}

TEST_F(MapDataLine, RefusedMemorySkipsTheLineAndLeavesNothingBehind) {
  arguments.map_data_transaction_id = "5";
  std::size_t start = memory_allocated;
  for (long n = 0; n < 64 && log().empty(); ++n) {
    testing::internal::CaptureStderr();
    memory_fail_after(n);
    send("12 a b");
    memory_fail_after(-1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(memory_allocated, start) << n;
    EXPECT_EQ(arguments.map_data_transaction_id, std::string_view("5")) << n;
    // A refusal before the request is built sends and logs nothing.
    if (n == 0) {
      EXPECT_EQ(log(), "");
    }
  }
  EXPECT_EQ(log(), "12 \"a\" \"b\"\n");
}

}  // namespace
}  // namespace zv
