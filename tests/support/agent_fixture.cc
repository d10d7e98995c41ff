#include "agent_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "base/version.h"

namespace zv::test {

std::string message_lines(int first, int count) {
  std::string text;
  for (int i = first; i < first + count; ++i) text += "<m>" + std::to_string(i) + "</m>\n";
  return text;
}

testing::AssertionResult holds(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

std::string file_contents(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

StandInAgent::StandInAgent(const std::string& dir, const std::vector<std::string>& options)
    : dir_(dir) {
  std::vector<std::string> words = {ZV_AGENT_PATH,    "--runtime-config",  dir,    "--record",
                                    dir + "/request", "--exit-after-idle", "60000"};
  words.insert(words.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  pid_ = ::fork();
  if (pid_ == 0) {
    die_with_the_test();
    ::dup2(fds[1], 1);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  // The agent announces "port N" on its first line once it listens.
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fds[0], POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char c[64];
    ssize_t n = ::read(fds[0], c, sizeof c);
    if (n <= 0) break;
    line.append(c, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  if (line.rfind("port ", 0) != 0) {
    stop();
    throw std::runtime_error("stand-in agent did not start: " + line);
  }
  port_ = std::stoi(line.substr(5));
}

StandInAgent::~StandInAgent() { stop(); }

void StandInAgent::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  bool ended = false;
  for (int i = 0; i < 500 && !ended; ++i) {
    ended = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!ended && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string StandInAgent::request(int n) const {
  return file_contents(dir_ + "/request." + std::to_string(n));
}

int StandInAgent::request_count() const {
  int n = 0;
  while (std::filesystem::exists(dir_ + "/request." + std::to_string(n + 1))) ++n;
  return n;
}

ClientFixture::ClientFixture() { std::filesystem::copy_file(ZV_CLIENT_PATH, program()); }

RunResult ClientFixture::run(const std::vector<std::string>& args, const Env& env,
                             std::function<bool()> kill_when) const {
  RunOptions options;
  options.cwd = dir();
  options.env = env;
  options.kill_when = std::move(kill_when);
  return run_program(program(), args, options);
}

RunResult ClientFixture::shell(const std::string& words, const std::string& before) const {
  RunOptions options;
  options.cwd = dir();
  return run_program(
      "/bin/bash",
      {"-c", "set -o pipefail; (" + before + " exec '" + program() + "' " + words + ")"}, options);
}

void ClientFixture::configure_port(int port) const {
  std::filesystem::create_directories(dir() + "/etc");
  write("etc/.runtime.xml",
        "<runtime>\n  <http port=\"" + std::to_string(port) + "\"/>\n</runtime>\n");
}

std::string ClientFixture::read(const std::string& name) const {
  return file_contents(dir() + "/" + name);
}

void ClientFixture::write(const std::string& name, const std::string& content) const {
  std::ofstream(dir() + "/" + name, std::ios::binary | std::ios::trunc) << content;
}

bool ClientFixture::exists(const std::string& name) const {
  return std::filesystem::exists(dir() + "/" + name);
}

int loopback_socket(int& port, bool listening) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  if (listening) ::listen(fd, 4);
  return fd;
}

int loopback_connect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  ::close(fd);
  return -1;
}

int unused_port() {
  int port = 0;
  ::close(loopback_socket(port, false));
  return port;
}

testing::AssertionResult matches_request(const std::string& request, const std::string& expected) {
  static const std::regex kDate(
      "Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "[ 1-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\r\n");
  if (std::regex_replace(request, kDate, "Date: <ctime>\r\n",
                         std::regex_constants::format_first_only) == expected)
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "the request was:\n" << request;
}

// The header lines every request carries after its request line, up to
// the Date marker.
std::string common_header(const std::string& content_type) {
  return " HTTP/1.0\r\nAccept: */*\r\nUser-Agent: ZVClient/" ZV_PROGRAM_VERSION
         "\r\nContent-Type: " +
         content_type + "\r\nDate: <ctime>\r\n";
}

std::string form_request(int port, const std::string& form) {
  return "POST /agent" + common_header("application/x-www-form-urlencoded") +
         "Host: localhost:" + std::to_string(port) +
         "\r\nConnection: close\r\nContent-Length: " + std::to_string(form.size()) + "\r\n\r\n" +
         form;
}

std::string get_request(const std::string& host, int port, const std::string& target) {
  return "GET " + target + common_header("text/plain") + "Host: " + host + ":" +
         std::to_string(port) + "\r\nConnection: close\r\n\r\n";
}

std::string request_form(const std::string& request) {
  std::size_t start = request.find("\r\n\r\n");
  if (start == std::string::npos) return "";
  return request.substr(start + 4);
}

std::string url_encode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-') {
      out += static_cast<char>(c);
    } else {
      out += c == ' ' ? std::string("+") : std::string{'%', kHex[c >> 4], kHex[c & 15]};
    }
  }
  return out;
}

std::string transaction_document(const std::string& method, const std::string& subclass,
                                 const std::string& data) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><transaction><header><method>" + method +
         "</method><subclass>" + subclass + "</subclass></header><data>" + data +
         "</data></transaction>";
}

std::string error_document(const std::string& code, const std::string& text,
                           const std::string& detail) {
  return "<?xml version=\"1.0\"?><transaction id=\"0\"><header><method>Agent</method>"
         "<subclass>ERROR</subclass></header><data><errorcode>" +
         code + "</errorcode><errortext>" + text + "</errortext><errordetail>" + detail +
         "</errordetail></data></transaction>\n";
}

std::string comm_failure(const std::string& detail) {
  return error_document("COMMUNICATIONS_FAILURE", "Failed to perform communication request.",
                        detail);
}

}  // namespace zv::test
