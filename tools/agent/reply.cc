#include "reply.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "body.h"
#include "io.h"
#include "request.h"

namespace zvagent {
namespace {

// How long a peer may take to make room for more of the reply.
constexpr std::chrono::milliseconds kSendIdle{10000};

// Header lines that make an endless header: 64 bytes each with CR LF.
constexpr std::string_view kFiller = "X-Filler: 0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLM";

struct Plan {
  ReplyStream stream;
  std::uint64_t body_at = 0;
  std::uint64_t end = 0;            // bytes to send: the whole stream unless cut
  std::vector<std::uint64_t> cuts;  // ascending, strictly inside [0, end)
  std::size_t trickle = 0;
  long pause_ms = 0;
  bool accepted = false;  // sent whole, status 200, truthful length
};

// The status code of a status line "HTTP/x.y CODE ...", or -1.
int code_of(std::string_view line) {
  std::size_t blank = line.find(' ');
  if (line.substr(0, 5) != "HTTP/" || blank == std::string_view::npos) return -1;
  std::string_view digits = line.substr(blank + 1, 3);
  if (digits.size() != 3 ||
      (blank + 4 < line.size() && line[blank + 4] != ' ' && line[blank + 4] != '\r'))
    return -1;
  int code = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    code = code * 10 + (c - '0');
  }
  return code;
}

// Builds the reply; true when it is a whole reply whose length is told truly.
bool build(Plan& plan, const Answer& answer, const ScriptStep& step, int& code) {
  if (step.raw) {
    std::size_t end = header_end(*step.raw);
    plan.body_at = end == std::string::npos ? step.raw->size() : end;
    code = code_of(std::string_view(*step.raw).substr(0, step.raw->find('\n')));
    plan.stream.add(*step.raw);
    return end != std::string::npos;
  }
  const char* eol = step.lf_only ? "\n" : "\r\n";
  int status = step.status.value_or(answer.code);
  std::string reason = step.reason   ? *step.reason
                       : step.status ? std::string(reason_for(status))
                                     : answer.reason;
  std::string header =
      step.status_line ? *step.status_line : "HTTP/1.0 " + std::to_string(status) + " " + reason;
  code = code_of(header);
  header += eol;
  if (step.endless_header) {
    plan.stream.add(std::move(header));
    plan.stream.add_repeated(std::string(kFiller) + eol, kEndlessBytes / (kFiller.size() + 2));
    plan.body_at = plan.stream.size();
    return false;
  }
  const std::string& text = step.body ? *step.body : answer.body;
  std::uint64_t length = step.endless_body ? kEndlessBytes
                         : step.body_bytes ? *step.body_bytes
                                           : text.size();
  header += "Content-Type: text/xml";
  header += eol;
  if (!step.no_length && !step.endless_body)
    header += "Content-Length: " + std::to_string(step.length.value_or(length)) + eol;
  header += "Connection: close";
  header += eol;
  header += eol;
  plan.body_at = header.size();
  plan.stream.add(std::move(header));
  if (step.endless_body || step.body_bytes)
    bulk_body(plan.stream, length);
  else
    plan.stream.add(text);
  return !step.endless_body && (!step.length || *step.length == length);
}

std::uint64_t position(const Plan& plan, const SplitPoint& point) {
  long long at = point.offset + (point.from_body ? static_cast<long long>(plan.body_at) : 0);
  return at < 0 ? 0 : std::min(static_cast<std::uint64_t>(at), plan.stream.size());
}

Plan plan_reply(const Answer& answer, const ScriptStep& step) {
  Plan plan;
  int code = -1;
  bool truthful = build(plan, answer, step, code);
  if (step.extra) plan.stream.add(*step.extra);
  plan.end = step.cut ? position(plan, *step.cut) : plan.stream.size();
  for (const SplitPoint& point : step.splits) {
    std::uint64_t at = position(plan, point);
    if (at > 0 && at < plan.end) plan.cuts.push_back(at);
  }
  std::sort(plan.cuts.begin(), plan.cuts.end());
  plan.cuts.erase(std::unique(plan.cuts.begin(), plan.cuts.end()), plan.cuts.end());
  plan.trickle = step.trickle;
  plan.pause_ms = step.pause();
  plan.accepted = truthful && code == 200 && plan.end == plan.stream.size();
  return plan;
}

}  // namespace

std::string_view reason_for(int code) {
  switch (code) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

Sent reply_send(int fd, const Answer& answer, const ScriptStep* step) {
  Plan plan = plan_reply(answer, step ? *step : ScriptStep{});
  std::uint64_t written = 0;
  std::size_t next_cut = 0;
  while (written < plan.end) {
    if (written > 0 && !wait_until(Clock::now() + std::chrono::milliseconds(plan.pause_ms)))
      return {};
    while (next_cut < plan.cuts.size() && plan.cuts[next_cut] <= written) ++next_cut;
    std::uint64_t stop = next_cut < plan.cuts.size() ? plan.cuts[next_cut] : plan.end;
    if (plan.trickle) stop = std::min(stop, written + plan.trickle);
    while (written < stop) {
      std::string_view piece = plan.stream.next(stop - written);
      if (!send_all(fd, piece, kSendIdle)) return {};
      written += piece.size();
    }
  }
  return {true, plan.accepted};
}

}  // namespace zvagent
