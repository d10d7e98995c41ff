// Reply handling: the status check, the parse of the body into the session's
// parser, and the decision whether the body reaches the output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

#include "base/memory.h"
#include "operations/session.h"
#include "transport/http.h"

namespace zv {

/// The status code of a reply: the number after its first blank (parse_int
/// rules), or 400 when the text holds no blank.
std::int32_t http_get_response_code(std::string_view reply);

/// True for status 200.  Otherwise reports COMMUNICATIONS_FAILURE with the
/// reason taken from the status line, records exit code 50, returns false.
bool http_check_response(std::string_view reply);

/// True when the parsed document is an agent message of `subclass`.
bool is_agent(const Parser& parser, std::string_view subclass);

/// Takes one reply as it arrives and handles it as a whole: the status is
/// judged on the reply's own status line, the body is parsed as it comes
/// (as far as is_agent needs; not at all for a status query, which writes
/// every reply), and at the end the whole body is written, or nothing of it.
/// The session's parser keeps the body's bytes until the exchange's
/// operation clears it.
class ReplyHandler final : public ReplySink {
 public:
  /// Reads into the session's parser and writes to its output.
  explicit ReplyHandler(Session& session);

  /// The reply's header, everything up to and including the empty line, and
  /// the body length it announces, if any.
  void header(std::string_view bytes, std::optional<std::uint64_t> body_length) override;
  /// The next piece of the body.
  void body(std::string_view piece) override;
  /// The reply is over: judge its status, decide and write.  `cut` is empty
  /// for a whole reply; otherwise it says why the reply is not whole, and a
  /// reply whose status is 200 is then reported with that detail (exit code
  /// 10) instead of being written: a body is written whole or not at all.
  void end(std::string_view cut) override;
  /// False once more body would change nothing: the reply is rejected, or
  /// enough of it is kept to judge its status.  Its reader may stop there.
  bool wants_body() const override;
  /// The status code judged by end(); 0 before, or when no header came.
  std::int32_t status_code() const { return status_code_; }

 private:
  enum class Status { kUnknown, kOk, kFailed };
  void judge_whole_reply();
  void write_reply();

  Session& session_;
  Status status_ = Status::kUnknown;
  std::int32_t status_code_ = 0;
  bool has_header_ = false;
  Text header_;
  /// The first body bytes, kept aside while the header does not settle the
  /// status code (it may then be read on into the body); at most
  /// kMaxPending bytes.
  Text pending_;
  /// Where this reply's body begins in the parser's text.
  std::size_t body_start_ = 0;
};

}  // namespace zv
