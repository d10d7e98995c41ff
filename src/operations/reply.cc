#include "operations/reply.h"

#include <algorithm>

#include "base/error.h"
#include "files/output.h"
#include "xml/xml_parser.h"

namespace zv {

namespace {

constexpr std::int32_t kStatusOk = 200;

// The tags is_agent looks up: method, then subclass.
constexpr std::string_view kAgentTags[] = {"method", "subclass"};

}  // namespace

bool http_check_response(std::string_view status_line, std::int32_t code) {
  if (code == kStatusOk) return true;
  // The reason is the rest of the status line after the code's blank.
  std::size_t first = status_line.find(' ');
  std::size_t second = first == std::string_view::npos ? first : status_line.find(' ', first + 1);
  if (second == std::string_view::npos) {
    show_error_detail(kErrorCommunications, "The cause of this error is unknown.");
  } else {
    std::string_view reason = status_line.substr(second + 1);
    show_error_detail(kErrorCommunications, reason.substr(0, reason.find('\r')));
  }
  set_exit_code(kExitReplyStatus);
  return false;
}

bool is_agent(const Parser& parser, std::string_view subclass) {
  return tag_equals(parser, kAgentTags[0], "Agent", "data") &&
         tag_equals(parser, kAgentTags[1], subclass, "data");
}

ReplyHandler::ReplyHandler(Session& session) : session_(session) {}

void ReplyHandler::header(std::string_view bytes, std::int32_t status_code,
                          std::optional<std::uint64_t> body_length) {
  has_header_ = true;
  status_code_ = status_code;
  Parser& parser = session_.xml_parser;
  body_start_ = parser.text.size();
  if (status_code_ != kStatusOk) {
    status_line_.assign(bytes.substr(0, bytes.find('\n')));
    return;
  }
  // What write_reply asks of the body is settled by its first data tag; a
  // status query writes whatever came and asks nothing.
  parser.scope = session_.arguments.status_query ? ParseScope::kTextOnly : ParseScope::kUntilData;
  parser.asked = kAgentTags;
  // The reader never hands on more body than this.
  parser.text_bound = body_start_ + static_cast<std::size_t>(ReplyReader::kMaxBody);
  if (body_length) parser_reserve(parser, static_cast<std::size_t>(*body_length));
}

void ReplyHandler::body(std::string_view piece) {
  // A rejected reply's body is never shown.
  if (status_code_ == kStatusOk) parse(session_.xml_parser, piece);
}

bool ReplyHandler::wants_body() const { return status_code_ == kStatusOk; }

void ReplyHandler::end(std::string_view cut) {
  if (!has_header_ || !http_check_response(status_line_, status_code_)) return;
  if (cut.empty()) {
    write_reply();
    return;
  }
  show_error_detail(kErrorCommunications, cut);
  set_exit_code(kExitCommunication);
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
  if (!write) return;
  // A reader that went away, or a full disk, loses the replies but not the
  // run: the next submission still goes out or to the log.  It is said once.
  std::size_t start = std::min(body_start_, parser.text.size());
  Output& output = *session_.output;
  bool failed_before = output.failed();
  if (!output.write(std::string_view(parser.text).substr(start)) && !failed_before) {
    show_error_text("A reply could not be written to the output.");
    set_exit_code(kExitFile);
  }
}

}  // namespace zv
