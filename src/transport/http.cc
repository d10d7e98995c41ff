#include "transport/http.h"

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "base/error.h"
#include "base/version.h"
#include "transport/socket.h"

namespace zv {

namespace {

// The size of one receive.  Replies are read until the agent closes the
// connection or the body is complete, whatever each receive returns.
constexpr std::size_t kReadBlock = 32768;

// The longest reply header kept.  The agent's headers are a few hundred
// bytes; anything near this is not a header worth reading.
constexpr std::size_t kMaxReplyHeader = std::size_t{64} << 10;

// The largest reply body the client takes.  A body is written whole or not
// at all, so it is kept in memory until it is complete; this bounds that
// memory against an agent that never stops sending.
constexpr std::uint64_t kMaxReplyBody = std::uint64_t{256} << 20;

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

// Why a reply is not written: it stopped short, or it would not fit.
constexpr std::string_view kReplyCut = "The reply of the agent ended before it was complete.";
constexpr std::string_view kReplyTooLarge =
    "The reply of the agent is larger than the client accepts.";

// Splits the incoming bytes of one reply into its header and its body.  The
// header ends at an empty line: LF LF, with CRs allowed before each LF.
// Neither part is kept without bound: a header beyond kMaxReplyHeader or a
// body beyond kMaxReplyBody ends the reply, which is then judged by what
// arrived and not written.
class ReplyReader {
 public:
  explicit ReplyReader(ReplySink& sink) : sink_(sink) {}

  /// Takes the next bytes; false once the reply is over (the body reached
  /// its length, or a part outgrew its limit).
  bool feed(std::string_view bytes) {
    if (!header_done_) {
      std::size_t end = scan_header(bytes);
      if (header_.size() + end > kMaxReplyHeader) {
        too_large_ = true;
        return false;
      }
      header_.append(bytes.substr(0, end));
      if (!header_done_) return true;
      remaining_ = content_length(header_);
      sink_.header(header_, remaining_);
      bytes.remove_prefix(end);
    }
    if (remaining_) {
      if (bytes.size() > *remaining_) bytes = bytes.substr(0, *remaining_);
      *remaining_ -= bytes.size();
    }
    body_size_ += bytes.size();
    if (body_size_ > kMaxReplyBody) {
      too_large_ = true;
      return false;
    }
    if (!bytes.empty()) sink_.body(bytes);
    // A rejected reply is judged by what is kept; the rest is not read.
    return !(remaining_ && *remaining_ == 0) && sink_.wants_body();
  }

  /// True once the status line has arrived with its line end.
  bool has_status_line() const { return status_line_done_; }

  /// The reply is over: `closed` when the agent closed the connection,
  /// false when reading failed or stopped early.  A reply counts as whole
  /// when its body reached the announced length, or, without one, when the
  /// agent closed the connection after the header.
  void finish(bool closed) {
    if (!status_line_done_) return;
    if (!header_done_) sink_.header(header_, std::nullopt);
    bool whole = !too_large_ && header_done_ && (remaining_ ? *remaining_ == 0 : closed);
    std::string_view cut = too_large_ ? kReplyTooLarge : kReplyCut;
    sink_.end(whole ? std::string_view() : cut);
  }

 private:
  // Returns the count of bytes that belong to the header.
  std::size_t scan_header(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      char c = bytes[i];
      if (c == '\n') {
        status_line_done_ = true;
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

  ReplySink& sink_;
  Text header_;
  bool status_line_done_ = false;
  bool header_done_ = false;
  bool line_end_ = false;
  bool too_large_ = false;
  std::uint64_t body_size_ = 0;
  std::optional<std::uint64_t> remaining_;
};

// The detail for a reply whose status line never arrived, by the errno of
// the read that ended it (0: the agent closed the connection).
std::string_view no_reply_detail(int error) {
  if (error == 0) return "The agent closed the connection without replying.";
  if (error == ETIMEDOUT) return "Timeout while waiting for the agent to reply.";
  return "The connection to the agent was broken before it replied.";
}

// Reads the reply and hands it on.  False, with the reason in `failure`,
// when no status line arrived: the agent did not answer.
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
    if (!reader.has_status_line()) {
      failure = no_reply_detail(error);
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
    request += '\n';
    return;
  }
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
}

// Room for the head beyond the path and the host: the fixed header lines,
// the Date line and the numbers.
constexpr std::size_t kHeadRoom = 256;

// Writes the request: the head, then for a POST the form text encoded
// piece by piece into the head's buffer and the LF that ends the request.
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
  buffer.reserve(std::min(head + form_length + 1, kRequestPiece));
  append_head(buffer, endpoint, params, method, now, form_length);
  std::size_t used = buffer.size();
  // At least a few bytes of room beyond the head, so that every piece
  // takes some of the form.
  buffer.resize(std::max(buffer.capacity(), used + 4));
  FormPieces form(params);
  for (;;) {
    used += form.write(buffer.data() + used, buffer.size() - used);
    if (form.done() && used < buffer.size()) {
      buffer[used++] = '\n';
      return socket_write(connection, std::string_view(buffer.data(), used));
    }
    if (int error = socket_write(connection, std::string_view(buffer.data(), used))) return error;
    used = 0;
  }
}

}  // namespace

bool http_query(const Endpoint& endpoint, const ParamList* list, HttpMethod method, ReplySink& sink,
                std::string_view& failure) {
  failure = {};
  std::optional<Connection> connection =
      socket_open(endpoint.host.c_str(), endpoint.port, endpoint.limits, failure);
  if (!connection) return false;
  int error = 0;
  try {
    std::time_t clock = std::time(nullptr);
    std::optional<std::time_t> now;
    if (clock != static_cast<std::time_t>(-1)) now = clock;
    error = send_request(*connection, endpoint, list != nullptr ? *list : kNoParams, method, now);
  } catch (const memory_exhausted&) {
    return false;  // reported by the gate; nothing was sent
  }
  if (error != 0) {
    // A request that did not go out whole was not delivered.
    failure = error == ETIMEDOUT ? "Timeout while sending the request to the agent."
                                 : comm_error_text(error);
    return false;
  }
  return http_response(*connection, sink, failure);
}

}  // namespace zv
