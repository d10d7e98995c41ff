#include "cli/reply.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/error.h"
#include "files/file.h"

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

TEST(Reply, ResponseCode) {
  struct Case {
    const char* reply;
    int code;
  } cases[] = {{"HTTP/1.0 200 OK\r\n", 200}, {"HTTP/1.0 200OK\r\n", 200},
               {"HTTP/1.1 500\r\n", 500},    {"HTTP/1.0\r\n", 400},
               {"HTTP/1.0 OK 200\r\n", -1},  {"", 400}};
  for (const Case& c : cases) EXPECT_EQ(http_get_response_code(c.reply), c.code) << c.reply;
}

TEST(Reply, FailureDetails) {
  struct Case {
    const char* reply;
    const char* detail;
  } cases[] = {
      {"HTTP/1.1 404 Not Found\r\nX: y\r\n\r\n", "Not Found"},
      {"HTTP/1.1 500\r\n\r\n", "The cause of this error is unknown."},
      {"HTTP/1.1 500\n\n", "The cause of this error is unknown."},
      {"garbage\r\n\r\n", "Unable to access message queues."},
      {"HTTP/1.0 404 Not Found\n\nbody", "Not Found"},
      {"HTTP/1.1 500\r\nContent-Type: text/xml\r\n\r\n", "The cause of this error is unknown."},
  };
  for (const Case& c : cases) {
    set_exit_code(0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(http_check_response(c.reply));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("<errorcode>COMMUNICATIONS_FAILURE</errorcode>"), std::string::npos);
    EXPECT_NE(err.find(std::string("<errordetail>") + c.detail + "</errordetail>"),
              std::string::npos)
        << c.reply << "\n" << err;
    EXPECT_EQ(get_exit_code(), kExitReplyStatus);
  }
  set_exit_code(0);
}

// Runs one reply through a handler, cut into pieces at the given places.
struct ReplyRun {
  Arguments arguments;
  Parser parser;
  std::string output;

  void reply(const std::string& header, const std::string& body, std::size_t cut = 0) {
    std::FILE* stream = std::tmpfile();
    Session session{arguments, parser};
    ReplyHandler handler(session, stream);
    handler.header(header);
    if (cut > 0 && cut < body.size()) {
      handler.body(body.substr(0, cut));
      handler.body(body.substr(cut));
    } else if (!body.empty()) {
      handler.body(body);
    }
    handler.end();
    std::rewind(stream);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0) output.append(buffer, n);
    std::fclose(stream);
  }
};

TEST(Reply, WhatIsWrittenAndCounted) {
  const std::string ok = "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n";
  struct Case {
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
  for (const Case& c : cases) {
    for (std::size_t cut : {0, 1, 40, 100}) {
      ReplyRun run;
      run.arguments.status_query = c.status_query;
      run.arguments.response_client = c.client;
      run.arguments.response_count = c.count_before;
      run.reply(ok, c.body, cut);
      EXPECT_EQ(run.output, c.written ? c.body : "") << c.name << " cut " << cut;
      EXPECT_EQ(run.arguments.response_count, c.count_after) << c.name << " cut " << cut;
    }
  }
}

TEST(Reply, FailedStatusWritesAndParsesNothing) {
  ReplyRun run;
  testing::internal::CaptureStderr();
  run.reply("HTTP/1.0 503 Busy\r\n\r\n", kResponseBody, 10);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(run.output, "");
  EXPECT_TRUE(run.parser.tags.empty());
  EXPECT_NE(err.find("<errordetail>Busy</errordetail>"), std::string::npos);
  EXPECT_EQ(get_exit_code(), kExitReplyStatus);
  set_exit_code(0);
}

TEST(Reply, CodeUnsettledByHeaderIsReadOnIntoTheBody) {
  // Nothing but white space follows the first blank of the header, so the
  // code is read from the body, as it would be from one block.
  ReplyRun run;
  run.reply("HTTP/1.0 \n\n", std::string("200 <a>x</a><b>y</b>"));
  EXPECT_EQ(run.output, "200 <a>x</a><b>y</b>");
  EXPECT_EQ(get_exit_code(), 0);
}

}  // namespace
}  // namespace zv
