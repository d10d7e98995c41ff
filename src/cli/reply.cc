#include "cli/reply.h"

#include <algorithm>

#include "cli/error.h"
#include "cli/text.h"
#include "files/file.h"
#include "xml/xml_parser.h"

namespace zv {

namespace {

constexpr std::int32_t kStatusOk = 200;
constexpr std::int32_t kStatusNoBlank = 400;

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
  // The reason is the rest of the status line after the code.  It is looked
  // for on that line only: a blank in a later header line is no reason, and
  // a reply with LF line ends must not pour its header and body into it.
  std::size_t first = reply.find(' ');
  std::string_view line =
      first == std::string_view::npos ? reply : reply.substr(0, reply.find('\n', first));
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
  return tag_equals(parser, "method", "Agent", "data") &&
         tag_equals(parser, "subclass", subclass, "data");
}

void ReplyHandler::header(std::string_view bytes, std::optional<std::uint64_t> body_length) {
  has_header_ = true;
  header_.assign(bytes);
  body_start_ = session_.xml_parser.text.size();
  if (header_settles_code(header_) &&
      http_get_response_code(std::string_view(header_.c_str())) == kStatusOk) {
    status_ = Status::kOk;
    if (body_length) parser_reserve(session_.xml_parser, static_cast<std::size_t>(*body_length));
  }
}

void ReplyHandler::body(std::string_view piece) {
  if (status_ == Status::kOk) {
    parse(session_.xml_parser, piece);
    return;
  }
  try {
    pending_.append(piece);
  } catch (const memory_exhausted&) {
    // Reported by the gate; the piece is lost as a failed parse would lose it.
  }
}

void ReplyHandler::end() {
  if (!has_header_) return;
  if (status_ != Status::kOk) judge_whole_reply();
  if (status_ == Status::kOk) write_reply();
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
  if (!http_check_response(seen)) {
    status_ = Status::kFailed;
    return;
  }
  status_ = Status::kOk;
  parse(session_.xml_parser, pending_);
}

void ReplyHandler::write_reply() {
  Arguments& arguments = session_.arguments;
  const Parser& parser = session_.xml_parser;
  bool write = true;
  if (!is_agent(parser, "Status")) {
    ++arguments.response_count;
  } else if (arguments.status_query) {
    ++arguments.response_count;
  } else if (arguments.response_client == nullptr) {
    write = false;
  } else {
    write = arguments.response_count == 0;
  }
  if (write) {
    std::size_t start = std::min(body_start_, parser.text.size());
    std::fwrite(parser.text.data() + start, 1, parser.text.size() - start, stream_);
  }
  std::fflush(stream_);
}

}  // namespace zv
