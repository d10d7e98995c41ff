#include "cli/arguments.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zv {
namespace {

constexpr const char* kProgram = "/opt/zv/bin/ZVClient";

std::string captured(void (*show)()) {
  testing::internal::CaptureStdout();
  show();
  return testing::internal::GetCapturedStdout();
}

// What arguments_open makes of a command line, in one line: what the run
// showed ("help", "invalid", ...), a nonzero exit code, and the fields of the
// record that differ from a fresh one.
std::string outcome(const std::vector<const char*>& words) {
  std::vector<char*> argv{const_cast<char*>(kProgram)};
  for (const char* word : words) argv.push_back(const_cast<char*>(word));
  const int argc = static_cast<int>(argv.size());
  argv.push_back(nullptr);
  reset_exit_code();
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  std::optional<Arguments> record = arguments_open(argc, argv.data());
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();

  std::string result;
  auto add = [&](const std::string& part) { result += (result.empty() ? "" : " ") + part; };
  const std::pair<std::string, const char*> known[] = {
      {captured(show_help), "help"},
      {captured(show_version), "version"},
      {"ERROR  Invalid/Unsupported command line argument.\n", "invalid"},
      {"ERROR  Only one of the following can be used:\n  --get-response, --get-status, "
       "--submit-file, "
       "--map-data, --map-data-file,\n  --recover-file, or an ZVXML/Classic message.\n",
       "only one"},
      {"ERROR  Recovery file could not be opened.\n", "recover"}};
  for (const std::string& shown : {out, err}) {
    auto it =
        std::find_if(std::begin(known), std::end(known), [&](auto& k) { return k.first == shown; });
    if (!shown.empty()) add(it != std::end(known) ? it->second : "unexpected " + shown);
  }
  if (get_exit_code() != 0) add("exit " + std::to_string(get_exit_code()));
  if (!record) return result.empty() ? "nothing" : result;
  const Arguments& a = *record;
  EXPECT_EQ(a.program_path, kProgram);
  const std::pair<const char*, const char*> texts[] = {
      {"message", a.message},        {"submit", a.submit_path}, {"map-file", a.map_data_path},
      {"recover", a.recover_path},   {"post", a.post_path},     {"mapping", a.mapping_path},
      {"client", a.response_client}, {"uri", a.custom_uri},     {"id", a.map_data_transaction_id}};
  for (const auto& [name, text] : texts) {
    if (text != nullptr) add(std::string(name) + "=" + text);
  }
  if (a.status_query) add("status");
  if (a.response_max != 1) add("max=" + std::to_string(a.response_max));
  if (a.map_data_index != -1) add("data@" + std::to_string(a.map_data_index));
  if (a.mapping_last_index != 0) add("last@" + std::to_string(a.mapping_last_index));
  // The word vectors are the whole command line as received, program path included.
  auto whole = [&](const Words& w) {
    return w.data() == argv.data() && w.size() == std::size_t(argc);
  };
  if (a.map_data_words) add(whole(*a.map_data_words) ? "data-words" : "data-words?");
  if (a.mapping_words) add(whole(*a.mapping_words) ? "mapping-words" : "mapping-words?");
  return result;
}

TEST(Arguments, CommandLines) {
  const std::pair<std::vector<const char*>, const char*> cases[] = {
      // When no operation is named, the last word is the message, even an option's.
      {{"first", "second", "third"}, "message=third"},
      {{"--post-file", "out.xml", "<msg/>"}, "message=<msg/> post=out.xml"},
      {{"--post-file"}, "message=--post-file"},
      {{"--http-get", "http://127.0.0.1:1/a"},
       "message=http://127.0.0.1:1/a uri=http://127.0.0.1:1/a"},
      {{"msg", "-x"}, "message=-x"},
      {{"--get-response-max", "3"}, "message=3 max=3"},
      // An option's value is looked at as a word of its own.
      {{"--post-file", "--bogus", "msg"}, "invalid exit 20"},
      {{"--submit-file", "--get-status"}, "only one exit 20"},
      {{"--submit-file", "--help"}, "help"},
      {{"--submit-file"}, "only one exit 20"},
      {{"word", "--submit-mapping-file"}, "only one exit 20"},
      // Operations.
      {{"--get-status", "plain"}, "status"},
      {{"--get-status", "--submit-file", "messages.txt"}, "only one exit 20"},
      {{"--submit-file", "messages.txt"}, "submit=messages.txt"},
      {{"--map-data-file", "data.txt"}, "map-file=data.txt"},
      {{"--recover-file", "ZVClient.log"}, "recover=ZVClient.log"},
      {{"--recover-file"}, "recover exit 20"},
      {{"--get-response", "c1", "--recover-file", "log"}, "only one exit 20"},
      {{"--get-response", "c1", "extra"}, "client=c1"},
      // --map-data and --submit-mapping-file end the scan: what follows is data.
      {{"--map-data", "client7", "d1", "--help", "--bogus"}, "id=1 data@2 data-words"},
      {{"--map-data-transaction-id", "42", "--map-data", "client7", "d1"},
       "id=42 data@4 data-words"},
      {{"--map-data", "client7", "--map-data-transaction-id", "42"}, "id=1 data@2 data-words"},
      {{"--get-status", "--map-data", "client7"}, "only one exit 20"},
      {{"--submit-mapping-file", "map.txt", "a", "--help", "--bogus"},
       "mapping=map.txt last@5 mapping-words"},
      // Of --http-get and --http-post the later wins.
      {{"--http-get", "http://127.0.0.1:1/a", "--http-post", "http://127.0.0.1:2/b", "msg"},
       "message=msg uri=http://127.0.0.1:2/b"},
      {{"--http-post", "http://127.0.0.1:2/b", "--http-get", "http://127.0.0.1:1/a",
        "--get-status"},
       "uri=http://127.0.0.1:1/a status"},
      // A response maximum that is no positive number shows the help.
      {{"--get-response", "c1", "--get-response-max", "3"}, "client=c1 max=3"},
      // A retrieval that cannot run shows the help, and fails.
      {{"--get-response", "c1", "--get-response-max", "0"}, "help exit 20"},
      {{"--get-response", "c1", "--get-response-max", "many"}, "help exit 20"},
      {{"--get-response", "c1", "--get-response-max"}, "help exit 20"},
      {{"--get-response"}, "help exit 20"},
      // Options are whole words, case-sensitive; the first word that ends the run decides.
      {{"--"}, "invalid exit 20"},
      {{"--bogus", "msg"}, "invalid exit 20"},
      {{"--HELP"}, "invalid exit 20"},
      {{"--bogus", "--help"}, "invalid exit 20"},
      {{"--help", "--bogus"}, "help"},
      {{"--version", "--help"}, "version"},
      {{}, "help exit 20"},
  };
  for (const auto& [words, expected] : cases) {
    EXPECT_EQ(outcome(words), expected) << testing::PrintToString(words);
  }
}

}  // namespace
}  // namespace zv
