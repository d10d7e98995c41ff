// The stand-in agent that every end-to-end test talks to: it starts, names
// its port, records requests, answers for itself and follows a script.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "agent_fixture.h"

namespace zv::test {
namespace {

// One request over loopback; the whole reply, the agent closing after it.
std::string exchange(int port, const std::string& request) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval limit{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    char block[4096];
    for (ssize_t n; (n = ::read(fd, block, sizeof block)) > 0;) reply.append(block, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return reply;
}

std::string status_reply(const std::string& status_line, const std::string& data) {
  std::string body = transaction_document("Agent", "Status", data);
  return "HTTP/1.0 " + status_line + "\r\nContent-Type: text/xml\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

TEST(Agent, AnswersFollowingItsScriptThenForItself) {
  TempDir dir;
  StandInAgent agent(dir.path(), {"--reply", "status=404"});
  std::string post = "POST /agent HTTP/1.0\nContent-Length: 9\n\nmessage=x\n";
  EXPECT_EQ(exchange(agent.port(), post), status_reply("404 Not Found", "<status>Message accepted.</status>"));
  EXPECT_EQ(exchange(agent.port(), "GET /agent/status? HTTP/1.0\n\n"),
            status_reply("200 OK", "<status>Ready.</status><messages>1</messages><mapdata>0</mapdata>"
                                   "<responses>0</responses>"));
  // Recorded byte for byte, the LF after the counted body included.
  EXPECT_EQ(agent.request(1), post);
  EXPECT_EQ(agent.request_count(), 2);
}

TEST(Agent, CommandLine) {
  RunResult help = run_program(ZV_AGENT_PATH, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: zvagent [options]\n")) << help.out;
  RunResult bad = run_program(ZV_AGENT_PATH, {"--bogus"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "zvagent: unknown option --bogus\nTry 'zvagent --help'.\n");
}

}  // namespace
}  // namespace zv::test
