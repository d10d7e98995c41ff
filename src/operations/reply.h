// Reply handling: the status check, the parse of the body into the session's
// parser, and the decision whether the body reaches the output.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/memory.h"
#include "operations/session.h"
#include "transport/reply_reader.h"

namespace zv {

/// True for status 200.  Otherwise reports COMMUNICATIONS_FAILURE with the
/// reason taken from `status_line` (the text after the code and its blank;
/// "The cause of this error is unknown." when there is no blank), records
/// exit code 50 and returns false.
bool http_check_response(std::string_view status_line, std::int32_t code);

/// True when the parsed document is an agent message of `subclass`.
bool is_agent(const Parser& parser, std::string_view subclass);

/// Takes one reply as it arrives and handles it as a whole: the status is
/// judged by its code, the body is parsed as it comes (as far as is_agent
/// needs; not at all for a status query, which writes every reply), and at
/// the end the whole body is written, or nothing of it.
/// The session's parser keeps the body's bytes until the exchange's
/// operation clears it.
class ReplyHandler final : public ReplySink {
 public:
  /// Reads into the session's parser and writes to its output.
  explicit ReplyHandler(Session& session);

  /// The reply's header, everything up to and including the empty line,
  /// its status code, and the body length it announces, if any.
  void header(std::string_view bytes, std::int32_t status_code,
              std::optional<std::uint64_t> body_length) override;
  /// The next piece of the body.
  void body(std::string_view piece) override;
  /// The reply is over: judge its status, decide and write.  `cut` is empty
  /// for a whole reply; otherwise it says why the reply is not whole, and a
  /// reply whose status is 200 is then reported with that detail (exit code
  /// 10) instead of being written: a body is written whole or not at all.
  void end(std::string_view cut) override;
  /// False once more body would change nothing: the reply is rejected.
  /// Its reader may stop there.
  bool wants_body() const override;
  /// The status code judged by end(); 0 before, or when no header came.
  std::int32_t status_code() const { return status_code_; }

 private:
  void write_reply();

  Session& session_;
  std::int32_t status_code_ = 0;
  bool has_header_ = false;
  /// The status line, for the reason of a report.
  Text status_line_;
  /// Where this reply's body begins in the parser's text.
  std::size_t body_start_ = 0;
};

}  // namespace zv
