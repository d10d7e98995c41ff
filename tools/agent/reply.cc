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

struct Plan {
  ReplyStream stream;
  std::uint64_t body_at = 0;
  std::vector<std::uint64_t> cuts;  // ascending, strictly inside the reply
  long pause_ms = 0;
};

Plan plan_reply(const Answer& answer, const ScriptStep& step) {
  Plan plan;
  if (step.raw) {
    std::size_t end = header_end(*step.raw);
    plan.body_at = end == std::string::npos ? step.raw->size() : end;
    plan.stream.add(*step.raw);
  } else {
    const char* eol = step.lf_only ? "\n" : "\r\n";
    int code = step.status.value_or(answer.code);
    std::string reason = step.reason ? *step.reason
                         : step.status ? std::string(reason_for(code))
                                       : answer.reason;
    std::string header =
        step.status_line ? *step.status_line : "HTTP/1.0 " + std::to_string(code) + " " + reason;
    const std::string& text = step.body ? *step.body : answer.body;
    std::uint64_t length = step.body_bytes ? *step.body_bytes : text.size();
    header += eol;
    header += "Content-Type: text/xml";
    header += eol;
    if (!step.no_length) header += "Content-Length: " + std::to_string(length) + eol;
    header += "Connection: close";
    header += eol;
    header += eol;
    plan.body_at = header.size();
    plan.stream.add(std::move(header));
    if (step.body_bytes)
      bulk_body(plan.stream, *step.body_bytes);
    else
      plan.stream.add(text);
  }
  const long long size = static_cast<long long>(plan.stream.size());
  for (const SplitPoint& point : step.splits) {
    long long at = point.offset + (point.from_body ? static_cast<long long>(plan.body_at) : 0);
    if (at > 0 && at < size) plan.cuts.push_back(static_cast<std::uint64_t>(at));
  }
  std::sort(plan.cuts.begin(), plan.cuts.end());
  plan.cuts.erase(std::unique(plan.cuts.begin(), plan.cuts.end()), plan.cuts.end());
  plan.pause_ms = step.pause_ms;
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

bool reply_send(int fd, const Answer& answer, const ScriptStep* step) {
  Plan plan = plan_reply(answer, step ? *step : ScriptStep{});
  plan.cuts.push_back(plan.stream.size());
  std::uint64_t written = 0;
  for (std::size_t i = 0; i < plan.cuts.size(); ++i) {
    if (i > 0 && !wait_until(Clock::now() + std::chrono::milliseconds(plan.pause_ms))) return false;
    while (written < plan.cuts[i]) {
      std::string_view piece = plan.stream.next(plan.cuts[i] - written);
      if (!send_all(fd, piece, kSendIdle)) return false;
      written += piece.size();
    }
  }
  return true;
}

}  // namespace zvagent
