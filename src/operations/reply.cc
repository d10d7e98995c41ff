#include "operations/reply.h"

#include <algorithm>

#include "base/error.h"
#include "base/text.h"
#include "files/output.h"
#include "xml/xml_parser.h"

namespace zv {

namespace {

constexpr std::int32_t kStatusOk = 200;
constexpr std::int32_t kStatusNoBlank = 400;

// How much of a body is kept while the status code is not settled: the
// code is read like strtol reads a number, so only white space can put it
// further into the body than this.
constexpr std::size_t kMaxPending = std::size_t{64} << 10;

// The tags is_agent looks up: method, then subclass.
constexpr std::string_view kAgentTags[] = {"method", "subclass"};

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Whether the header alone settles the status code.  The code is read like
// parse_int reads it from the text after the first blank, and that reading
// may run on into the body only when nothing but white space follows the
// blank in the header; a NUL byte ends the text as the reader sees it.
bool header_settles_code(std::string_view header) {
  std::size_t nul = header.find('\0');
  if (nul != std::string_view::npos) return true;
  std::size_t blank = header.find(' ');
  if (blank == std::string_view::npos) return false;
  std::size_t at = blank + 1;
  while (at < header.size() && is_space(header[at])) ++at;
  return at < header.size();
}

}  // namespace

std::int32_t http_get_response_code(std::string_view reply) {
  std::size_t blank = reply.find(' ');
  if (blank == std::string_view::npos) return kStatusNoBlank;
  // parse_int needs a NUL-terminated text; the code is at most a few bytes
  // into it, but the rule reads like strtol, so give it the whole rest.
  Text rest(reply.substr(blank + 1));
  return parse_int(rest.c_str());
}

bool http_check_response(std::string_view reply) {
  if (http_get_response_code(reply) == kStatusOk) return true;
  // The reason is the rest of the status line after the code, and only of
  // that line: a blank in a later header line is no reason, and an empty
  // status line must not pour the header and body into the report.
  std::string_view line = reply.substr(0, reply.find('\n'));
  std::size_t first = line.find(' ');
  std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  if (first == std::string_view::npos) {
    show_error(kErrorCommunications);
  } else if (second == std::string_view::npos) {
    show_error_detail(kErrorCommunications, "The cause of this error is unknown.");
  } else {
    std::string_view detail = line.substr(second + 1);
    show_error_detail(kErrorCommunications, detail.substr(0, detail.find('\r')));
  }
  set_exit_code(kExitReplyStatus);
  return false;
}

bool is_agent(const Parser& parser, std::string_view subclass) {
  return tag_equals(parser, kAgentTags[0], "Agent", "data") &&
         tag_equals(parser, kAgentTags[1], subclass, "data");
}

ReplyHandler::ReplyHandler(Session& session) : session_(session) {}

void ReplyHandler::header(std::string_view bytes, std::optional<std::uint64_t> body_length) {
  has_header_ = true;
  header_.assign(bytes);
  Parser& parser = session_.xml_parser;
  body_start_ = parser.text.size();
  // What write_reply asks of the body is settled by its first data tag; a
  // status query writes whatever came and asks nothing.
  parser.scope = session_.arguments.status_query ? ParseScope::kTextOnly : ParseScope::kUntilData;
  parser.asked = kAgentTags;
  if (!header_settles_code(header_)) return;
  status_code_ = http_get_response_code(std::string_view(header_.c_str()));
  status_ = status_code_ == kStatusOk ? Status::kOk : Status::kFailed;
  if (status_ == Status::kOk && body_length) {
    parser_reserve(parser, static_cast<std::size_t>(*body_length));
  }
}

void ReplyHandler::body(std::string_view piece) {
  if (status_ == Status::kOk) {
    parse(session_.xml_parser, piece);
    return;
  }
  // A rejected reply's body is never shown; only the code may still be
  // read on into its first bytes.
  if (status_ == Status::kFailed || pending_.size() >= kMaxPending) return;
  try {
    pending_.append(piece.substr(0, kMaxPending - pending_.size()));
  } catch (const memory_exhausted&) {
    // Reported by the gate; the piece is lost as a failed parse would lose it.
  }
}

bool ReplyHandler::wants_body() const {
  return status_ == Status::kOk || (status_ == Status::kUnknown && pending_.size() < kMaxPending);
}

void ReplyHandler::end(std::string_view cut) {
  if (!has_header_) return;
  if (status_ != Status::kOk) judge_whole_reply();
  if (status_ != Status::kOk) return;
  if (cut.empty()) {
    write_reply();
    return;
  }
  show_error_detail(kErrorCommunications, cut);
  set_exit_code(kExitCommunication);
}

// The status line did not settle the code, or the code is not 200: judge the
// reply as one text, as far as a NUL byte lets string functions see it.
void ReplyHandler::judge_whole_reply() {
  Text whole;
  try {
    whole.reserve(header_.size() + pending_.size());
    whole.append(header_).append(pending_);
  } catch (const memory_exhausted&) {
    whole = header_;
  }
  std::string_view seen(whole.c_str());
  status_code_ = http_get_response_code(seen);
  if (!http_check_response(seen)) {
    status_ = Status::kFailed;
    return;
  }
  status_ = Status::kOk;
  parse(session_.xml_parser, pending_);
}

void ReplyHandler::write_reply() {
  const Arguments& arguments = session_.arguments;
  std::int32_t& response_count = session_.response_count;
  const Parser& parser = session_.xml_parser;
  bool write = true;
  if (!is_agent(parser, "Status")) {
    ++response_count;
  } else if (arguments.status_query) {
    ++response_count;
  } else if (arguments.response_client == nullptr) {
    write = false;
  } else {
    write = response_count == 0;
  }
  if (write) {
    // A reader that went away loses the reply, not the run: the next
    // submission still goes out or to the log.
    std::size_t start = std::min(body_start_, parser.text.size());
    session_.output->write(std::string_view(parser.text).substr(start));
  }
}

}  // namespace zv
