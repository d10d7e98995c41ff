#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "accepted.h"
#include "connection.h"
#include "faults.h"
#include "io.h"
#include "reply.h"
#include "request.h"
#include "service.h"
#include "state.h"
#include "tls.h"

namespace zvagent {
namespace {

// Bounds on one request: the client writes it with one send, so these are
// only reached by a peer that misbehaves.
constexpr auto kRequestTime = std::chrono::milliseconds(10000);
constexpr std::size_t kRequestLimit = std::size_t{512} << 20;
// How long a closed reply waits for the peer to close its side.
constexpr auto kDrainTime = std::chrono::milliseconds(1000);
constexpr auto kHoldLimit = std::chrono::milliseconds(kMaxHoldMs);

int fail(const char* what) {
  std::fprintf(stderr, "zvagent: %s: %s\n", what, std::strerror(errno));
  return 1;
}

bool write_runtime_config(const std::string& dir, int port) {
  std::string etc = dir + "/etc";
  for (const std::string& path : {dir, etc}) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  std::string text = "<runtime>\n  <http port=\"" + std::to_string(port) + "\"/>\n</runtime>\n";
  return write_file(etc + "/.runtime.xml", text);
}

class Server {
 public:
  explicit Server(const Options& options) : options_(options), script_(options.script) {
    for (const auto& [client, document] : options.responses)
      state_.response_queue(client, document);
    if (options.faults) faults_.emplace(*options.faults);
  }

  bool open_record() { return accepted_.open(options_.accepted); }

  // Serves one connection; true when it carried a request.
  bool serve(Fd connection) {
    using Action = ScriptStep::Action;
    // The script's steps go to requests; a fault is drawn for each connection
    // once the script is used up.
    std::optional<ScriptStep> drawn;
    const ScriptStep* next = script_.peek();
    if (!next && faults_ && (drawn = faults_->next())) next = &*drawn;
    if (next && next->before_reading()) {
      bool reset = next->action == Action::refuse;
      if (!drawn) script_.take();
      ++requests_;
      if (reset)
        close_reset(connection);
      else
        hold_until_closed(connection, false, kHoldLimit);
      return true;
    }
    RawRequest raw = request_read(connection.get(), Clock::now() + kRequestTime, kRequestLimit,
                                  next && next->early);
    if (raw.bytes.empty() || stop_requested()) {
      close_orderly(connection, kDrainTime);
      return !raw.bytes.empty();
    }
    ++requests_;
    if (!options_.record.empty()) {
      std::string path = options_.record + "." + std::to_string(requests_);
      if (!write_file(path, raw.bytes)) fail(path.c_str());
    }
    std::optional<ScriptStep> step = drawn ? std::move(drawn) : script_.take();
    Action action = step ? step->action : Action::reply;
    if (action == Action::reset) {
      close_reset(connection);
    } else if (action == Action::never_answer) {
      hold_until_closed(connection, true, kHoldLimit);
    } else if (action == Action::reply) {
      answer(connection, raw, step ? &*step : nullptr);
    } else {
      if (action == Action::stall)
        wait_until(Clock::now() + std::chrono::milliseconds(step->stall_ms));
      close_orderly(connection, kDrainTime);
    }
    return true;
  }

 private:
  void answer(Fd& connection, const RawRequest& raw, const ScriptStep* step) {
    std::optional<Request> request = request_parse(raw);
    Answer answer;
    if (!step || !step->answers_alone()) answer = service_answer(state_, request);
    Sent sent = reply_send(connection.get(), answer, step);
    if (sent.accepted && !raw.early && request && request->method == "POST" &&
        !accepted_.add(request->body))
      fail(options_.accepted.c_str());
    using Ending = ScriptStep::Ending;
    Ending ending = sent.written && step ? step->ending : Ending::close;
    // An early answer closes at once, the rest of the request unread, as a
    // server that refuses a large body does: the client's write then fails.
    if (raw.early && ending == Ending::close) ending = Ending::reset;
    if (ending == Ending::reset)
      close_reset(connection);
    else if (ending == Ending::hold)
      hold_until_closed(connection, true, kHoldLimit);
    else
      close_orderly(connection, kDrainTime);
  }

  const Options& options_;
  AgentState state_;
  Script script_;
  std::optional<FaultDraw> faults_;
  AcceptedRecord accepted_;
  long requests_ = 0;
};

}  // namespace

int server_run(const Options& options) {
  if (!stop_install()) return fail("signal pipe");
  Fd listener(socket(options.ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0));
  if (listener.get() < 0) return fail("socket");
  fcntl(listener.get(), F_SETFD, FD_CLOEXEC);
  int on = 1;
  setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_storage address{};
  socklen_t length = 0;
  if (options.ipv6) {
    auto& in6 = reinterpret_cast<sockaddr_in6&>(address);
    setsockopt(listener.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    in6.sin6_family = AF_INET6;
    in6.sin6_addr = in6addr_loopback;
    in6.sin6_port = htons(static_cast<std::uint16_t>(options.port));
    length = sizeof in6;
  } else {
    auto& in4 = reinterpret_cast<sockaddr_in&>(address);
    in4.sin_family = AF_INET;
    in4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    in4.sin_port = htons(static_cast<std::uint16_t>(options.port));
    length = sizeof in4;
  }
  if (bind(listener.get(), reinterpret_cast<sockaddr*>(&address), length) != 0) return fail("bind");
  if (listen(listener.get(), 16) != 0) return fail("listen");
  length = sizeof address;
  if (getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return fail("getsockname");
  if (!set_nonblocking(listener.get())) return fail("fcntl");
  int port = ntohs(options.ipv6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                : reinterpret_cast<sockaddr_in&>(address).sin_port);
  if (!options.runtime_dir.empty() && !write_runtime_config(options.runtime_dir, port))
    return fail((options.runtime_dir + "/etc/.runtime.xml").c_str());
  std::unique_ptr<TlsServer> tls;
  if (!options.tls_certificate.empty()) {
    std::string error;
    tls = TlsServer::open(options.tls_certificate, options.tls_client_ca, error);
    if (!tls) {
      std::fprintf(stderr, "zvagent: --tls: %s\n", error.c_str());
      return 1;
    }
  }
  Server server(options);
  if (!server.open_record()) return fail(options.accepted.c_str());
  std::printf("port %d\n", port);
  std::fflush(stdout);

  long served = 0;
  auto last = Clock::now();
  for (;;) {
    auto deadline = options.idle_ms ? last + std::chrono::milliseconds(options.idle_ms)
                                    : Clock::now() + std::chrono::hours(1);
    Wait wait = wait_fd(listener.get(), POLLIN, deadline);
    if (wait == Wait::stop) break;
    if (wait == Wait::error) return fail("poll");
    if (wait == Wait::timeout) {
      if (options.idle_ms) break;
      continue;
    }
    int fd = accept(listener.get(), nullptr, nullptr);
    if (fd < 0) continue;  // the peer gave up, or a signal came: wait again
    Fd connection(fd);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    if (!set_nonblocking(fd)) continue;
    bool counted = false;
    if (tls) {
      // A failed handshake is no request.
      std::optional<TlsLink> link = tls->accept(std::move(connection));
      if (link) counted = server.serve(link->take_plain());
    } else {
      counted = server.serve(std::move(connection));
    }
    last = Clock::now();
    if (stop_requested()) break;
    if (counted && options.max_requests && ++served >= options.max_requests) break;
  }
  return 0;
}

}  // namespace zvagent
