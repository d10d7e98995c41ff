#include "request.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace zvagent {
namespace {

constexpr std::size_t kChunk = 65536;

bool equals_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

// The line from `begin` up to (not including) its LF, less trailing CRs.
std::string_view line_at(std::string_view text, std::size_t begin, std::size_t lf) {
  std::string_view line = text.substr(begin, lf - begin);
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Reads a header line for Content-Length; returns -1 for a line that is not
// one, and a huge value for one that cannot be believed.
long long content_length_of(std::string_view line) {
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos ||
      !equals_nocase(trim(line.substr(0, colon)), "content-length"))
    return -1;
  std::string_view value = trim(line.substr(colon + 1));
  long long n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') break;
    if (n > (1LL << 40)) break;
    n = n * 10 + (c - '0');
  }
  return n;
}

// Reads what the socket has now; 1 data appended, 0 end of stream, -1 nothing
// yet, -2 failure.
int read_some(int fd, std::string& into) {
  char chunk[kChunk];
  for (;;) {
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      into.append(chunk, static_cast<std::size_t>(n));
      return 1;
    }
    if (n == 0) return 0;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;
    return -2;
  }
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string form_unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
               hex_value(text[i + 2]) >= 0) {
      out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::size_t header_end(std::string_view text) {
  std::size_t begin = 0;
  for (std::size_t lf = text.find('\n'); lf != std::string_view::npos;
       lf = text.find('\n', begin)) {
    if (line_at(text, begin, lf).empty()) return lf + 1;
    begin = lf + 1;
  }
  return std::string_view::npos;
}

RawRequest request_read(int fd, Clock::time_point deadline, std::size_t limit, bool header_only) {
  RawRequest raw;
  std::size_t line_begin = 0;  // start of the header line not yet seen whole
  std::size_t scanned = 0;     // no LF lies between line_begin and here
  bool header_done = false;
  for (;;) {
    // Header lines are looked at once each, as they complete.
    while (!header_done) {
      std::size_t lf = raw.bytes.find('\n', scanned > line_begin ? scanned : line_begin);
      if (lf == std::string::npos) {
        scanned = raw.bytes.size();
        break;
      }
      std::string_view line = line_at(raw.bytes, line_begin, lf);
      line_begin = lf + 1;
      if (line.empty()) {
        header_done = true;
        raw.body_start = line_begin;
      } else if (long long n = content_length_of(line); n >= 0) {
        raw.body_length = static_cast<std::size_t>(n);
      }
    }
    if (header_done && header_only) {
      raw.early = true;
      raw.body_length = std::min(raw.body_length, raw.bytes.size() - raw.body_start);
      raw.complete = true;
      return raw;
    }
    if (header_done && raw.body_length > limit) return raw;
    if (header_done && raw.bytes.size() >= raw.body_start + raw.body_length) break;
    if (raw.bytes.size() > limit) return raw;
    if (wait_fd(fd, POLLIN, deadline) != Wait::ready) return raw;
    if (read_some(fd, raw.bytes) <= 0) return raw;
  }
  raw.complete = true;
  return raw;
}

std::optional<Request> request_parse(const RawRequest& raw) {
  if (!raw.complete) return std::nullopt;
  std::string_view text = raw.bytes;
  std::string_view head = text.substr(0, raw.body_start);
  std::size_t lf = head.find('\n');
  std::string_view line = line_at(head, 0, lf);
  Request request;
  std::size_t blank = line.find(' ');
  if (blank == 0 || blank == std::string_view::npos) return std::nullopt;
  request.method = line.substr(0, blank);
  std::string_view rest = line.substr(blank + 1);
  std::string_view target = rest.substr(0, rest.find(' '));
  if (target.empty()) return std::nullopt;
  std::size_t question = target.find('?');
  request.path = target.substr(0, question);
  if (question != std::string_view::npos) request.query = target.substr(question + 1);
  for (std::size_t begin = lf + 1; begin < head.size();) {
    std::size_t end = head.find('\n', begin);
    std::string_view header = line_at(head, begin, end);
    begin = end + 1;
    if (header.empty()) break;
    std::size_t colon = header.find(':');
    if (colon == std::string_view::npos) continue;
    request.headers.emplace_back(trim(header.substr(0, colon)), trim(header.substr(colon + 1)));
  }
  request.body = text.substr(raw.body_start, raw.body_length);
  return request;
}

Form form_decode(std::string_view text) {
  Form form;
  while (!text.empty()) {
    std::size_t amp = text.find('&');
    std::string_view pair = text.substr(0, amp);
    std::size_t eq = pair.find('=');
    std::string_view name = pair.substr(0, eq);
    std::string_view value =
        eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
    if (!pair.empty()) form.emplace_back(form_unescape(name), form_unescape(value));
    if (amp == std::string_view::npos) break;
    text.remove_prefix(amp + 1);
  }
  return form;
}

const std::string* form_find(const Form& form, std::string_view name) {
  for (const auto& [n, v] : form)
    if (n == name) return &v;
  return nullptr;
}

}  // namespace zvagent
