#include "transport/http.h"

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "base/error.h"
#include "base/version.h"
#include "transport/socket.h"
#include "transport/tls.h"

namespace zv {

namespace {

// The size of one receive.  Replies are read until the agent closes the
// connection or the body is complete, whatever each receive returns.
constexpr std::size_t kReadBlock = 32768;

void append_number(Text& out, std::int64_t value) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, end);
}

// Every request and header line ends with CR LF, as HTTP servers and
// proxies that parse strictly require.
constexpr std::string_view kLineEnd = "\r\n";

void http_append_header(Text& request, std::string_view content_type,
                        std::optional<std::time_t> now) {
  request += " HTTP/1.0\r\n";
  request += "Accept: */*\r\n";
  request += "User-Agent: ";
  request += kProgramName;
  request += '/';
  request += kProgramVersion;
  request += kLineEnd;
  request += "Content-Type: ";
  request += content_type;
  request += kLineEnd;
  char date[32];
  if (now && ctime_r(&*now, date) != nullptr) {
    std::string_view text(date);
    if (text.ends_with('\n')) text.remove_suffix(1);  // the ctime form ends with LF
    request += "Date: ";
    request += text;
    request += kLineEnd;
  }
}

// "Host: host:port"; an IPv6 address is written in brackets.  The
// connection is closed after one exchange, and the header says so.
void append_host_and_connection(Text& request, const Endpoint& endpoint) {
  request += "Host: ";
  bool literal6 = std::string_view(endpoint.host).find(':') != std::string_view::npos;
  if (literal6) request += '[';
  request += endpoint.host;
  if (literal6) request += ']';
  request += ':';
  append_number(request, endpoint.port);
  request += "\r\nConnection: close\r\n";
}

constexpr std::string_view kSilentAgent = "Timeout while waiting for the agent to reply.";

// The detail for a reply whose status line never arrived, by the errno of
// the read that ended it (0: the agent closed the connection).
std::string_view no_reply_detail(int error) {
  if (error == 0) return "The agent closed the connection without replying.";
  if (error == ECANCELED) return kStoppedBeforeReply;
  if (error == ETIMEDOUT) return kSilentAgent;
  return "The connection to the agent was broken before it replied.";
}

// Reads the reply and hands it on.  False, with the reason in `failure`,
// when no final status line arrived: the agent did not answer.
bool http_response(Connection& connection, ReplySink& sink, std::string_view& failure) {
  ReplyReader reader(sink);
  char buffer[kReadBlock];
  bool closed = false;
  int error = 0;
  try {
    for (;;) {
      ssize_t n = socket_read(connection, buffer, sizeof buffer);
      if (n > 0) {
        if (!reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)))) break;
        continue;
      }
      closed = n == 0;
      if (n < 0) error = errno;
      break;
    }
    memory_wipe(buffer, sizeof buffer);
    if (!reader.answered()) {
      failure = reader.not_http() ? kReplyNotHttp : no_reply_detail(error);
      if (error == EPROTO && connection.tls() != nullptr) failure = tls_failure();
      return false;
    }
    reader.finish(closed);
  } catch (const memory_exhausted&) {
    memory_wipe(buffer, sizeof buffer);  // reported by the gate; the reply is given up
  }
  return true;
}

}  // namespace

namespace {

// The largest piece of a request written at once.  A long form is encoded
// into one buffer of this size, piece after piece, instead of being built
// whole in memory.
constexpr std::size_t kRequestPiece = std::size_t{256} << 10;

const ParamList kNoParams;

// The request line and header lines up to the empty line that ends them;
// for a GET the form text is part of the request line.
void append_head(Text& request, const Endpoint& endpoint, const ParamList& params,
                 HttpMethod method, std::optional<std::time_t> now, std::size_t form_length) {
  if (method == kHttpGet) {
    request += "GET ";
    request += endpoint.path;
    request += '?';
    http_append_form(params, form_length, request);
    http_append_header(request, "text/plain", now);
    append_host_and_connection(request, endpoint);
    request += kLineEnd;
    return;
  }
  request += "POST ";
  request += endpoint.path;
  http_append_header(request, "application/x-www-form-urlencoded", now);
  append_host_and_connection(request, endpoint);
  request += "Content-Length: ";
  append_number(request, static_cast<std::int64_t>(form_length));
  request += "\r\n\r\n";
}

// Room for the head beyond the path and the host: the fixed header lines,
// the Date line and the numbers.
constexpr std::size_t kHeadRoom = 256;

// Writes the request: the head, then for a POST the form text encoded
// piece by piece into the head's buffer; nothing follows the form.
// A short request goes out in one write.  Returns 0, or the errno of the
// write that failed.  Throws memory_exhausted before anything is written.
int send_request(Connection& connection, const Endpoint& endpoint, const ParamList& params,
                 HttpMethod method, std::optional<std::time_t> now) {
  std::size_t form_length = http_form_length(params);
  std::size_t head = endpoint.path.size() + endpoint.host.size() + kHeadRoom;
  Text buffer;
  if (method == kHttpGet) {
    buffer.reserve(head + form_length);
    append_head(buffer, endpoint, params, method, now, form_length);
    return socket_write(connection, buffer);
  }
  buffer.reserve(std::min(head + form_length, kRequestPiece));
  append_head(buffer, endpoint, params, method, now, form_length);
  std::size_t used = buffer.size();
  // At least a few bytes of room beyond the head, so that every piece
  // takes some of the form.
  buffer.resize(std::max(buffer.capacity(), used + 4));
  FormPieces form(params);
  for (;;) {
    used += form.write(buffer.data() + used, buffer.size() - used);
    if (form.done()) return socket_write(connection, std::string_view(buffer.data(), used));
    if (int error = socket_write(connection, std::string_view(buffer.data(), used))) return error;
    used = 0;
  }
}

}  // namespace

bool http_query(const Endpoint& endpoint, const ParamList* list, HttpMethod method, ReplySink& sink,
                std::string_view& failure, bool* absent) {
  failure = {};
  bool ignored = false;
  bool& not_there = absent != nullptr ? *absent : ignored;
  not_there = false;
  bool refused_tls = false;
  std::optional<Connection> connection =
      socket_open(endpoint.host.c_str(), endpoint.port, endpoint.loopback_fallback, endpoint.limits,
                  failure, endpoint.tls, &refused_tls);
  if (!connection) {
    not_there = failure != kStoppedBeforeReply && !refused_tls;
    return false;
  }
  int error = 0;
  try {
    std::time_t clock = std::time(nullptr);
    std::optional<std::time_t> now;
    if (clock != static_cast<std::time_t>(-1)) now = clock;
    error = send_request(*connection, endpoint, list != nullptr ? *list : kNoParams, method, now);
  } catch (const memory_exhausted&) {
    return false;  // reported by the gate; nothing was sent
  }
  if (error == ETIMEDOUT || error == ECANCELED) {
    // Nothing came back while the agent took nothing: not delivered.
    failure = error == ETIMEDOUT ? "Timeout while sending the request to the agent."
                                 : kStoppedBeforeReply;
    not_there = error == ETIMEDOUT;
    return false;
  }
  if (error != 0) {
    // The agent spoke or closed before the request was written whole: an
    // answer that arrived (an early 200, or a 413) decides as any other
    // does; without one, the request was not delivered.
    if (http_response(*connection, sink, failure)) return true;
    if (error == EPROTO && connection->tls() != nullptr) {
      failure = tls_failure();
    } else if (error != kSocketPeerSpoke && failure != kReplyNotHttp) {
      failure = comm_error_text(error);
    }
    return false;
  }
  if (http_response(*connection, sink, failure)) return true;
  // Silent for the whole I/O limit: nobody there answers.
  not_there = failure == kSilentAgent;
  return false;
}

bool http_reply_means_later(const Endpoint& endpoint, std::int32_t code) {
  if (http_status_means_later(code)) return true;
  return endpoint.tls && code == 400 && tls_last_asked_for_certificate();
}

}  // namespace zv
