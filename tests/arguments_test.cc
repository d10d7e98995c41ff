#include "cli/arguments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zv {
namespace {

constexpr const char* kProgram = "/opt/zv/bin/ZVClient";
constexpr const char* kInvalid = "ERROR  Invalid/Unsupported command line argument.\n";
constexpr const char* kRecover = "ERROR  Recovery file could not be opened.\n";
constexpr const char* kOnlyOne =
    "ERROR  Only one of the following can be used:\n"
    "  --get-response, --get-status, --submit-file, --map-data, --map-data-file,\n"
    "  --recover-file, or an ZVXML/Classic message.\n";

enum class Shown { kNothing, kHelp, kVersion };

/// One command line and everything arguments_open should make of it.  Text
/// fields are nullptr when the record must leave them unset.
struct Case {
  const char* name;
  std::vector<const char*> words;  // after the program path
  bool accepted = false;
  int exit_code = 0;
  Shown shown = Shown::kNothing;
  const char* error = "";
  const char* message = nullptr;
  const char* submit_path = nullptr;
  const char* map_data_path = nullptr;
  const char* recover_path = nullptr;
  const char* post_path = nullptr;
  const char* mapping_path = nullptr;
  const char* response_client = nullptr;
  const char* custom_uri = nullptr;
  const char* transaction_id = nullptr;
  bool status_query = false;
  int response_max = 1;
  int map_data_index = -1;
  int mapping_last_index = 0;
};

std::string captured(void (*show)()) {
  testing::internal::CaptureStdout();
  show();
  return testing::internal::GetCapturedStdout();
}

void expect_text(const char* field, const char* actual, const char* expected) {
  if (expected == nullptr) {
    EXPECT_EQ(actual, nullptr) << field << " is \"" << actual << "\"";
  } else {
    ASSERT_NE(actual, nullptr) << field;
    EXPECT_STREQ(actual, expected) << field;
  }
}

const Case kCases[] = {
    {.name = "one word is the message", .words = {"hello"}, .accepted = true, .message = "hello"},
    {.name = "only the last plain word is the message",
     .words = {"first", "second", "third"},
     .accepted = true,
     .message = "third"},
    {.name = "post file and message",
     .words = {"--post-file", "out.xml", "<msg/>"},
     .accepted = true,
     .message = "<msg/>",
     .post_path = "out.xml"},
    {.name = "post file as last word: no file, and the option word is the message",
     .words = {"--post-file"},
     .accepted = true,
     .message = "--post-file"},
    {.name = "the value of an option is scanned as a word",
     .words = {"--post-file", "--bogus", "msg"},
     .exit_code = 20,
     .error = kInvalid},
    {.name = "status query ignores a plain word",
     .words = {"--get-status", "plain"},
     .accepted = true,
     .status_query = true},
    {.name = "status query twice", .words = {"--get-status", "--get-status"}, .exit_code = 20,
     .error = kOnlyOne},
    {.name = "status query with a submit file",
     .words = {"--get-status", "--submit-file", "messages.txt"},
     .exit_code = 20,
     .error = kOnlyOne},
    {.name = "submit file named --get-status counts twice",
     .words = {"--submit-file", "--get-status"},
     .exit_code = 20,
     .error = kOnlyOne},
    {.name = "submit file named --help shows help",
     .words = {"--submit-file", "--help"},
     .shown = Shown::kHelp},
    {.name = "submit file", .words = {"--submit-file", "messages.txt"}, .accepted = true,
     .submit_path = "messages.txt"},
    {.name = "submit file as last word is also the message",
     .words = {"--submit-file"},
     .exit_code = 20,
     .error = kOnlyOne},
    {.name = "map data file as last word is also the message",
     .words = {"--map-data-file"},
     .exit_code = 20,
     .error = kOnlyOne},
    {.name = "map data file", .words = {"--map-data-file", "data.txt"}, .accepted = true,
     .map_data_path = "data.txt"},
    {.name = "everything after --map-data is data",
     .words = {"--map-data", "client7", "d1", "--help", "--bogus"},
     .accepted = true,
     .transaction_id = "1",
     .map_data_index = 2},
    {.name = "transaction id before --map-data",
     .words = {"--map-data-transaction-id", "42", "--map-data", "client7", "d1"},
     .accepted = true,
     .transaction_id = "42",
     .map_data_index = 4},
    {.name = "transaction id after --map-data is data",
     .words = {"--map-data", "client7", "--map-data-transaction-id", "42"},
     .accepted = true,
     .transaction_id = "1",
     .map_data_index = 2},
    {.name = "--map-data as last word", .words = {"--map-data"}, .accepted = true,
     .transaction_id = "1", .map_data_index = 2},
    {.name = "map data after another operation",
     .words = {"--get-status", "--map-data", "client7"},
     .exit_code = 20,
     .error = kOnlyOne},
    {.name = "http-get then http-post: the later wins",
     .words = {"--http-get", "http://127.0.0.1:1/a", "--http-post", "http://127.0.0.1:2/b", "msg"},
     .accepted = true,
     .message = "msg",
     .custom_uri = "http://127.0.0.1:2/b"},
    {.name = "http-post then http-get: the later wins",
     .words = {"--http-post", "http://127.0.0.1:2/b", "--http-get", "http://127.0.0.1:1/a",
               "--get-status"},
     .accepted = true,
     .custom_uri = "http://127.0.0.1:1/a",
     .status_query = true},
    {.name = "a URI as last word becomes the message",
     .words = {"--http-get", "http://127.0.0.1:1/a"},
     .accepted = true,
     .message = "http://127.0.0.1:1/a",
     .custom_uri = "http://127.0.0.1:1/a"},
    {.name = "single dash word is passed over", .words = {"-x", "msg"}, .accepted = true,
     .message = "msg"},
    {.name = "single dash word last is the message", .words = {"msg", "-x"}, .accepted = true,
     .message = "-x"},
    {.name = "mapping file ends the scan",
     .words = {"--submit-mapping-file", "map.txt", "a", "--help", "--bogus"},
     .accepted = true,
     .mapping_path = "map.txt",
     .mapping_last_index = 5},
    {.name = "mapping file as last word is also a message",
     .words = {"word", "--submit-mapping-file"},
     .exit_code = 20,
     .error = kOnlyOne},
    {.name = "response max", .words = {"--get-response", "c1", "--get-response-max", "3"},
     .accepted = true, .response_client = "c1", .response_max = 3},
    {.name = "response max without get-response is accepted",
     .words = {"--get-response-max", "3"},
     .accepted = true,
     .message = "3",
     .response_max = 3},
    {.name = "response max 0",
     .words = {"--get-response", "c1", "--get-response-max", "0"},
     .shown = Shown::kHelp},
    {.name = "response max -1",
     .words = {"--get-response", "c1", "--get-response-max", "-1"},
     .shown = Shown::kHelp},
    {.name = "response max letters",
     .words = {"--get-response", "c1", "--get-response-max", "many"},
     .shown = Shown::kHelp},
    {.name = "response max last word",
     .words = {"--get-response", "c1", "--get-response-max"},
     .shown = Shown::kHelp},
    {.name = "get-response last word", .words = {"--get-response"}, .shown = Shown::kHelp},
    {.name = "plain words after an operation are no message",
     .words = {"--get-response", "c1", "extra"},
     .accepted = true,
     .response_client = "c1"},
    {.name = "two operations", .words = {"--get-response", "c1", "--recover-file", "log"},
     .exit_code = 20, .error = kOnlyOne},
    {.name = "recover file", .words = {"--recover-file", "ZVClient.log"}, .accepted = true,
     .recover_path = "ZVClient.log"},
    {.name = "recover file last word", .words = {"--recover-file"}, .exit_code = 20,
     .error = kRecover},
    {.name = "recover file last word after another operation",
     .words = {"--get-status", "--recover-file"},
     .exit_code = 20,
     .error = kRecover},
    {.name = "double dash alone", .words = {"--"}, .exit_code = 20, .error = kInvalid},
    {.name = "unknown option", .words = {"--bogus", "msg"}, .exit_code = 20, .error = kInvalid},
    {.name = "options are case-sensitive", .words = {"--HELP"}, .exit_code = 20,
     .error = kInvalid},
    {.name = "an option prefix is no option", .words = {"--help-me"}, .exit_code = 20,
     .error = kInvalid},
    {.name = "the first word that ends the run decides: invalid",
     .words = {"--bogus", "--help"},
     .exit_code = 20,
     .error = kInvalid},
    {.name = "the first word that ends the run decides: help",
     .words = {"--help", "--bogus"},
     .shown = Shown::kHelp},
    {.name = "help", .words = {"--help"}, .shown = Shown::kHelp},
    {.name = "version", .words = {"--version", "--help"}, .shown = Shown::kVersion},
    {.name = "no word", .words = {}, .exit_code = 20, .shown = Shown::kHelp},
};

TEST(Arguments, CommandLines) {
  const std::string help = captured(show_help);
  const std::string version = captured(show_version);

  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<char*> argv{const_cast<char*>(kProgram)};
    for (const char* word : c.words) argv.push_back(const_cast<char*>(word));
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);

    set_exit_code(0);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::optional<Arguments> record = arguments_open(argc, argv.data());
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(record.has_value(), c.accepted);
    EXPECT_EQ(get_exit_code(), c.exit_code);
    EXPECT_EQ(err, c.error);
    switch (c.shown) {
      case Shown::kNothing: EXPECT_EQ(out, ""); break;
      case Shown::kHelp: EXPECT_EQ(out, help); break;
      case Shown::kVersion: EXPECT_EQ(out, version); break;
    }
    if (!record) continue;

    const Arguments& a = *record;
    EXPECT_EQ(a.program_path, kProgram);
    expect_text("message", a.message, c.message);
    expect_text("submit_path", a.submit_path, c.submit_path);
    expect_text("map_data_path", a.map_data_path, c.map_data_path);
    expect_text("recover_path", a.recover_path, c.recover_path);
    expect_text("post_path", a.post_path, c.post_path);
    expect_text("mapping_path", a.mapping_path, c.mapping_path);
    expect_text("response_client", a.response_client, c.response_client);
    expect_text("custom_uri", a.custom_uri, c.custom_uri);
    expect_text("map_data_transaction_id", a.map_data_transaction_id, c.transaction_id);
    EXPECT_EQ(a.status_query, c.status_query);
    EXPECT_EQ(a.response_max, c.response_max);
    EXPECT_EQ(a.map_data_index, c.map_data_index);
    EXPECT_EQ(a.mapping_last_index, c.mapping_last_index);
    EXPECT_EQ(a.output, nullptr);
    EXPECT_EQ(a.response_count, 0);

    // Both word vectors are the command line as received, program path
    // included and the closing null left out.
    EXPECT_EQ(a.map_data_words.has_value(), c.map_data_index != -1);
    EXPECT_EQ(a.mapping_words.has_value(), c.mapping_path != nullptr);
    for (const std::optional<Words>& words : {a.map_data_words, a.mapping_words}) {
      if (!words) continue;
      EXPECT_EQ(words->data(), argv.data());
      EXPECT_EQ(words->size(), static_cast<std::size_t>(argc));
    }
  }
}

TEST(Arguments, HelpNamesTheLoopbackHost) {
  const std::string help = captured(show_help);
  const std::string prefix = std::string("URI prefix: http://") + kLoopbackHost + ":<port>/.";
  std::size_t first = help.find(prefix);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(help.find(prefix, first + 1), std::string::npos);
}

TEST(Arguments, VersionLineThenTwoNoticeLines) {
  const std::string version = captured(show_version);
  EXPECT_TRUE(version.starts_with("ZVClient 2.2.1.3 (native)\n")) << version;
  EXPECT_EQ(std::count(version.begin(), version.end(), '\n'), 3);
  EXPECT_TRUE(version.ends_with("\n"));
  EXPECT_EQ(version.find("\n\n"), std::string::npos);
}

}  // namespace
}  // namespace zv
