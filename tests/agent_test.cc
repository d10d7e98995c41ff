// The stand-in agent, run as a separate process and spoken to over loopback.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

std::string agent_status(const std::string& data) {
  return std::string(kDeclaration) +
         "<transaction><header><method>Agent</method><subclass>Status</subclass></header><data>" + data +
         "</data></transaction>";
}

// Reads from `fd` until end of stream or `deadline`.
std::string read_all(int fd, Clock::time_point deadline, bool* reset = nullptr) {
  std::string out;
  char buffer[65536];
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (poll(&p, 1, left > 0 ? left : 0) <= 0) continue;
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      if (n < 0 && errno == ECONNRESET && reset) *reset = true;
      break;
    }
  }
  return out;
}

// One agent process; stopped with SIGTERM (SIGKILL as a last resort) when the
// test ends, so that none is ever left behind.
class AgentProcess {
 public:
  explicit AgentProcess(std::vector<std::string> args, bool read_port = true) {
    int fds[2];
    if (pipe(fds) != 0) return;
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    out_ = fds[0];
    // A safety net for a test that dies before it stops the agent.
    args.insert(args.begin(), {ZV_AGENT_PATH, "--exit-after-idle", "30000"});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    // Without a port to read, the test looks at what the run says, errors too.
    if (!read_port) posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    if (posix_spawn(&pid_, ZV_AGENT_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (!read_port || pid_ < 0) return;
    // The first line, "port N", says the agent is listening.
    std::string line;
    char c;
    auto deadline = Clock::now() + 10s;
    while (Clock::now() < deadline && line.find('\n') == std::string::npos) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 100) > 0 && read(out_, &c, 1) == 1) line += c;
      else if (p.revents & POLLHUP) break;
    }
    if (line.rfind("port ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
  }
  ~AgentProcess() {
    if (pid_ > 0) stop();
    if (out_ >= 0) close(out_);
  }

  int port() const { return port_; }
  int out() const { return out_; }

  // Waits (bounded) for the agent to end; its exit status, or -1 when it was
  // killed by a signal or had to be killed.
  int wait_exit(std::chrono::milliseconds limit = 10s) {
    auto deadline = Clock::now() + limit;
    int status = 0;
    while (pid_ > 0) {
      pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (Clock::now() >= deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }
  int stop() {
    if (pid_ > 0) kill(pid_, SIGTERM);
    return wait_exit();
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int port_ = 0;
};

struct Exchange {
  std::string reply;
  bool reset = false;
  std::chrono::milliseconds took{0};
};

Exchange exchange(int port, const std::string& request) {
  Exchange result;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto start = Clock::now();
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
    result.reply = read_all(fd, Clock::now() + 10s, &result.reset);
  }
  result.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  close(fd);
  return result;
}

// Requests as the client writes them: bare LFs, and one LF after a POST body
// that the Content-Length does not count.
std::string post(const std::string& form) {
  return "POST /agent HTTP/1.0\nAccept: */*\nUser-Agent: ZVClient/2.2.1.3\n"
         "Content-Type: application/x-www-form-urlencoded\nHost: localhost:2010\n"
         "Connection: Keep-Alive\nContent-Length: " +
         std::to_string(form.size()) + "\n\n" + form + "\n";
}
std::string get(const std::string& target) {
  return "GET " + target + " HTTP/1.0\nAccept: */*\nUser-Agent: ZVClient/2.2.1.3\nContent-Type: text/plain\n\n";
}

// The reply with CR LF line ends and a Content-Length, as the agent sends it
// unless a script says otherwise.
std::string reply(const std::string& status, const std::string& body) {
  return "HTTP/1.0 " + status + "\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string temp_dir() {
  std::string pattern = testing::TempDir() + "zvagent-XXXXXX";
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

TEST(Agent, TakesSubmissionsAndHandsOutResponsesInOrder) {
  std::string dir = temp_dir();
  ASSERT_FALSE(dir.empty());
  AgentProcess agent({"--record", dir + "/request", "--queue-response", "ops team", "<early/>"});
  ASSERT_GT(agent.port(), 0);

  // The message is URL-encoded as the client does it: only letters, digits
  // and '-' stay, a blank is '+'.
  const std::string message =
      "%3C%3Fxml+version%3D%221%2E0%22%3F%3E%3Ctransaction%3E%3Cdata%3E%3Cclient%3Eops+team%3C%2Fclient%3E"
      "%3Cnote%3Ea%26amp%3Bb%3C%2Fnote%3E%3C%2Fdata%3E%3C%2Ftransaction%3E";
  const std::string echoed =
      "&lt;?xml version=&quot;1.0&quot;?&gt;&lt;transaction&gt;&lt;data&gt;&lt;client&gt;ops team&lt;/client&gt;"
      "&lt;note&gt;a&amp;amp;b&lt;/note&gt;&lt;/data&gt;&lt;/transaction&gt;";
  auto echo = [](const std::string& data) {
    return std::string(kDeclaration) +
           "<transaction><header><method>Response</method><subclass>Echo</subclass></header><data>" + data +
           "</data></transaction>";
  };
  struct Step {
    std::string request;
    std::string expected;
  } steps[] = {
      {post("message=" + message), reply("200 OK", agent_status("<status>Message accepted.</status>"))},
      {post("transactionid=7&mapdata=ops+team&mapdata=a%26b"),
       reply("200 OK", agent_status("<status>Map data accepted.</status>"))},
      {get("/agent/status?"),
       reply("200 OK", agent_status("<status>Ready.</status><messages>1</messages><mapdata>1</mapdata>"
                                    "<responses>3</responses>"))},
      {get("/agent?client=ops+team"), reply("200 OK", "<early/>")},
      {get("/agent?client=ops+team"),
       reply("200 OK", echo("<client>ops team</client><sequence>2</sequence><message>" + echoed + "</message>"))},
      {get("/agent?client=ops+team"),
       reply("200 OK", echo("<client>ops team</client><sequence>3</sequence><transactionid>7</transactionid>"
                            "<mapdata>ops team</mapdata><mapdata>a&amp;b</mapdata>"))},
      {get("/agent?client=ops+team"),
       reply("200 OK", agent_status("<status>No response waiting.</status><client>ops team</client>"))},
      {get("/elsewhere/status?"),
       reply("200 OK", agent_status("<status>Ready.</status><messages>1</messages><mapdata>1</mapdata>"
                                    "<responses>0</responses>"))},
  };
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    EXPECT_EQ(exchange(agent.port(), steps[i].request).reply, steps[i].expected) << "request " << i + 1;
    // Recorded byte for byte, the uncounted LF of a POST included.
    EXPECT_EQ(read_file(dir + "/request." + std::to_string(i + 1)), steps[i].request) << "request " << i + 1;
  }
  EXPECT_EQ(agent.stop(), 0);
}

TEST(Agent, ScriptedRepliesReshapeOrReplaceTheAnswer) {
  const std::string accepted = agent_status("<status>Message accepted.</status>");
  struct Case {
    std::string line;
    std::string expected;  // the whole reply
    std::chrono::milliseconds at_least{0};
    bool reset = false;
  } cases[] = {
      {"status=404", reply("404 Not Found", accepted)},
      {"status-line=\"HTTP/1.1 500\"", "HTTP/1.1 500\r\nContent-Type: text/xml\r\nContent-Length: " +
                                           std::to_string(accepted.size()) + "\r\nConnection: close\r\n\r\n" +
                                           accepted},
      {"lf no-length", "HTTP/1.0 200 OK\nContent-Type: text/xml\nConnection: close\n\n" + accepted},
      {"raw=\"HTTP/1.0200\\r\\n\\r\\n<a/>\\x21\"", "HTTP/1.0200\r\n\r\n<a/>!"},
      {"body=<b\\s/> reason=Fine", reply("200 Fine", "<b />")},
      {"split=16,body-1 pause=150", reply("200 OK", accepted), 300ms},
      {"stall=200", "", 200ms},
      {"close", ""},
      {"reset", "", 0ms, true},
      {"agent", reply("200 OK", accepted)},
  };
  std::vector<std::string> args;
  for (const Case& c : cases) args.insert(args.end(), {"--reply", c.line});
  AgentProcess agent(args);
  ASSERT_GT(agent.port(), 0);
  for (const Case& c : cases) {
    Exchange got = exchange(agent.port(), post("message=x"));
    EXPECT_EQ(got.reply, c.expected) << c.line;
    EXPECT_GE(got.took, c.at_least) << c.line;
    EXPECT_EQ(got.reset, c.reset) << c.line;
  }
  // Lines with their own body or no reply leave the agent's counts alone;
  // the script is used up, so the agent answers for itself again.
  EXPECT_EQ(exchange(agent.port(), get("/agent/status?")).reply,
            reply("200 OK", agent_status("<status>Ready.</status><messages>5</messages><mapdata>0</mapdata>"
                                         "<responses>0</responses>")));
  EXPECT_EQ(agent.stop(), 0);
}

TEST(Agent, GeneratedBodyHasExactlyTheSizeAsked) {
  AgentProcess agent({"--reply", "body-mib=3"});
  ASSERT_GT(agent.port(), 0);
  std::string got = exchange(agent.port(), get("/agent?client=a")).reply;
  std::size_t body = got.find("\r\n\r\n") + 4;
  EXPECT_EQ(got.substr(0, body), "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 3145728\r\n"
                                 "Connection: close\r\n\r\n");
  EXPECT_EQ(got.size() - body, 3u << 20);
  EXPECT_EQ(got.substr(body, 38), kDeclaration);
  EXPECT_EQ(got.substr(got.size() - 21), "</data></transaction>");
  EXPECT_EQ(agent.stop(), 0);
}

TEST(Agent, CommandLineAndEndingByItself) {
  std::string dir = temp_dir();
  ASSERT_FALSE(dir.empty());
  {
    AgentProcess agent({"--max-requests", "1", "--runtime-config", dir});
    ASSERT_GT(agent.port(), 0);
    EXPECT_EQ(read_file(dir + "/etc/.runtime.xml"),
              "<runtime>\n  <http port=\"" + std::to_string(agent.port()) + "\"/>\n</runtime>\n");
    exchange(agent.port(), get("/agent/status?"));
    EXPECT_EQ(agent.wait_exit(), 0);  // no signal needed
  }
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string output_start;
  } cases[] = {
      {{"--help"}, 0, "Usage: zvagent"},
      {{"--port", "70000"}, 2, "zvagent: --port needs a port"},
      {{"--reply", "status=abc"}, 2, "zvagent: --reply: status needs a number"},
      {{"--reply", "stall=10 body=x"}, 2, "zvagent: --reply: directives that exclude"},
      {{"--reply", "pause=999999"}, 2, "zvagent: --reply: pause needs a number"},
      {{"--script", dir + "/missing"}, 2, "zvagent: " + dir + "/missing: cannot be read"},
      {{"--bogus"}, 2, "zvagent: unknown option --bogus"},
  };
  for (const Case& c : cases) {
    AgentProcess agent(c.args, false);
    std::string out = read_all(agent.out(), Clock::now() + 10s);
    EXPECT_EQ(agent.wait_exit(), c.status) << c.args[0];
    EXPECT_EQ(out.substr(0, c.output_start.size()), c.output_start) << c.args[0];
  }
}

}  // namespace
