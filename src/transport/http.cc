#include "transport/http.h"

#include <cerrno>
#include <charconv>

#include "cli/arguments.h"
#include "cli/error.h"
#include "files/file.h"
#include "files/recovery_log.h"
#include "transport/socket.h"

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

void http_append_header(Text& request, std::string_view content_type,
                        std::optional<std::time_t> now) {
  request += " HTTP/1.0\n";
  request += "Accept: */*\n";
  request += "User-Agent: ";
  request += kProgramName;
  request += '/';
  request += kProgramVersion;
  request += '\n';
  request += "Content-Type: ";
  request += content_type;
  request += '\n';
  char date[32];
  if (now && ctime_r(&*now, date) != nullptr) {
    request += "Date: ";
    request += date;  // the ctime form ends with the line's LF
  }
}

bool is_content_length(std::string_view line) {
  constexpr std::string_view kName = "content-length:";
  if (line.size() < kName.size()) return false;
  for (std::size_t i = 0; i < kName.size(); ++i) {
    char c = line[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kName[i]) return false;
  }
  return true;
}

// The Content-Length the reply announces, if its header gives a number.
std::optional<std::uint64_t> content_length(std::string_view header) {
  while (!header.empty()) {
    std::size_t end = header.find('\n');
    std::string_view line = header.substr(0, end);
    header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
    if (!is_content_length(line)) continue;
    std::size_t at = line.find(':') + 1;
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    std::uint64_t value = 0;
    auto [ptr, ec] = std::from_chars(line.data() + at, line.data() + line.size(), value);
    if (ec == std::errc() && ptr != line.data() + at) return value;
  }
  return std::nullopt;
}

// Splits the incoming bytes of one reply into its header and its body.  The
// header ends at an empty line: LF LF, with CRs allowed before each LF.
class ReplyReader {
 public:
  explicit ReplyReader(ReplyHandler& handler) : handler_(handler) {}

  /// Takes the next bytes; false once the body has reached its length.
  bool feed(std::string_view bytes) {
    if (!header_done_) {
      std::size_t end = scan_header(bytes);
      header_.append(bytes.substr(0, end));
      if (!header_done_) return true;
      remaining_ = content_length(header_);
      handler_.header(header_, remaining_);
      bytes.remove_prefix(end);
    }
    if (remaining_) {
      if (bytes.size() > *remaining_) bytes = bytes.substr(0, *remaining_);
      *remaining_ -= bytes.size();
    }
    if (!bytes.empty()) handler_.body(bytes);
    return !(remaining_ && *remaining_ == 0);
  }

  void finish() {
    if (header_done_) handler_.end();
  }

 private:
  // Returns the count of bytes that belong to the header.
  std::size_t scan_header(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      char c = bytes[i];
      if (c == '\n') {
        if (line_end_) {
          header_done_ = true;
          return i + 1;
        }
        line_end_ = true;
      } else if (c != '\r') {
        line_end_ = false;
      }
    }
    return bytes.size();
  }

  ReplyHandler& handler_;
  Text header_;
  bool header_done_ = false;
  bool line_end_ = false;
  std::optional<std::uint64_t> remaining_;
};

void http_response(Connection& connection, ReplyHandler& handler) {
  ReplyReader reader(handler);
  char buffer[kReadBlock];
  try {
    for (;;) {
      ssize_t n = socket_read(connection, buffer, sizeof buffer);
      if (n > 0) {
        if (!reader.feed(std::string_view(buffer, static_cast<std::size_t>(n)))) break;
      } else if (!(n < 0 && errno == EAGAIN)) {
        break;  // closed by the agent, or a failed read: the reply ends here
      }
    }
    memory_wipe(buffer, sizeof buffer);
    reader.finish();
  } catch (const memory_exhausted&) {
    memory_wipe(buffer, sizeof buffer);  // reported by the gate; the reply is given up
  }
}

}  // namespace

Text http_build_request(const Endpoint& endpoint, const ParamList* list, HttpMethod method,
                        std::optional<std::time_t> now) {
  static const ParamList kNoParams;
  const ParamList& params = list != nullptr ? *list : kNoParams;
  std::size_t form_length = http_form_length(params);
  Text request;
  request.reserve(endpoint.path.size() + endpoint.host.size() + form_length + 256);
  if (method == kHttpGet) {
    request += "GET ";
    request += endpoint.path;
    request += '?';
    http_append_form(params, request);
    http_append_header(request, "text/plain", now);
    request += '\n';
  } else {
    request += "POST ";
    request += endpoint.path;
    http_append_header(request, "application/x-www-form-urlencoded", now);
    request += "Host: ";
    request += endpoint.host;
    request += ':';
    append_number(request, endpoint.port);
    request += "\nConnection: Keep-Alive\nContent-Length: ";
    append_number(request, static_cast<std::int64_t>(form_length));
    request += "\n\n";
    http_append_form(params, request);
    request += '\n';
  }
  return request;
}

bool http_query(const Endpoint& endpoint, const ParamList* list, HttpMethod method,
                ReplyHandler& handler) {
  std::optional<Connection> connection = socket_open(endpoint.host.c_str(), endpoint.port);
  if (!connection) return false;
  int error = 0;
  try {
    std::time_t clock = std::time(nullptr);
    std::optional<std::time_t> now;
    if (clock != static_cast<std::time_t>(-1)) now = clock;
    Text request = http_build_request(endpoint, list, method, now);
    error = socket_write(*connection, request);
  } catch (const memory_exhausted&) {
    return false;  // reported by the gate; nothing was sent
  }
  if (error != 0) {
    // A request that did not go out whole was not delivered.
    show_comm_error(error);
    set_exit_code(kExitCommunication);
    return false;
  }
  http_response(*connection, handler);
  return true;
}

bool http_get(Session& session, const Endpoint& endpoint, const ParamList* list) {
  ReplyHandler handler(session, session.arguments.output->stream);
  return http_query(endpoint, list, kHttpGet, handler);
}

void post(Session& session, const Endpoint& endpoint, const ParamList& list) {
  ReplyHandler handler(session, session.arguments.output->stream);
  if (!http_query(endpoint, &list, kHttpPost, handler)) log_error(session.arguments);
}

}  // namespace zv
