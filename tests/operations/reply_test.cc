#include "operations/reply.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "base/error.h"
#include "files/output.h"

namespace zv {
namespace {

constexpr const char* kStatusBody =
    "<?xml version=\"1.0\"?><transaction><header><method>Agent</method>"
    "<subclass>Status</subclass></header><data><status>ok</status></data></transaction>";
constexpr const char* kErrorBody =
    "<?xml version=\"1.0\"?><transaction><header><method>Agent</method>"
    "<subclass>ERROR</subclass></header><data><e>x</e></data></transaction>";
constexpr const char* kResponseBody =
    "<?xml version=\"1.0\"?><transaction><header><method>Add</method>"
    "<subclass>Action</subclass></header><data><a>1</a></data></transaction>";

// Runs one reply through a handler, the body cut in two at `cut`.
struct ReplyRun {
  Arguments arguments;
  Parser parser;
  std::string output;
  std::int32_t response_count = 0;

  void reply(const std::string& header, const std::string& body, std::size_t cut = 0) {
    std::FILE* written = std::tmpfile();
    Output out(fileno(written), false);
    Session session{arguments, parser, &out, response_count};
    ReplyHandler handler(session);
    handler.header(header, 200, std::nullopt);
    handler.body(body.substr(0, cut));
    handler.body(body.substr(std::min(cut, body.size())));
    handler.end({});
    response_count = session.response_count;
    std::string bytes(static_cast<std::size_t>(::lseek(fileno(written), 0, SEEK_END)), '\0');
    std::rewind(written);
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), written), bytes.size());
    std::fclose(written);
    output += bytes;
  }
};

TEST(Reply, WhatIsWrittenAndCounted) {
  const struct {
    const char* name;
    bool status_query;
    const char* client;
    int count_before;
    const char* body;
    bool written;
    int count_after;
  } cases[] = {
      {"submission, response", false, nullptr, 0, kResponseBody, true, 1},
      {"submission, agent error", false, nullptr, 0, kErrorBody, true, 1},
      {"submission, agent status", false, nullptr, 0, kStatusBody, false, 0},
      {"status query, agent status", true, nullptr, 0, kStatusBody, true, 1},
      {"get-response, status first", false, "c", 0, kStatusBody, true, 0},
      {"get-response, status after one", false, "c", 1, kStatusBody, false, 1},
      {"get-response, response", false, "c", 1, kResponseBody, true, 2},
  };
  for (const auto& c : cases) {
    for (std::size_t cut : {0, 1, 40, 100}) {
      ReplyRun run;
      run.arguments.status_query = c.status_query;
      run.arguments.response_client = c.client;
      run.response_count = c.count_before;
      run.reply("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n", c.body, cut);
      EXPECT_EQ(run.output, c.written ? c.body : "") << c.name << " cut " << cut;
      EXPECT_EQ(run.response_count, c.count_after) << c.name << " cut " << cut;
    }
  }
}

}  // namespace
}  // namespace zv
