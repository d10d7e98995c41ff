// Scripted replies: how the agent answers the next requests, one line each.
//
// A line is a list of words (see words.h for quoting and escapes): each word
// a directive or directive=value.  Empty lines and lines starting with '#'
// are skipped in a script file.
//
// What the reply holds:
//   agent               the agent's own reply (a line of just this changes nothing)
//   status=CODE         status code; the reason phrase follows the code's usual one
//   reason=TEXT         reason phrase (may be empty: "HTTP/1.0 500 " then)
//   status-line=TEXT    the whole status line, verbatim, without its line end
//   lf                  header lines end with LF instead of CR LF
//   no-length           no Content-Length header; the close marks the end
//   length=N            announce Content-Length N whatever the body's real size
//   body=TEXT           this body instead of the agent's answer
//   body-bytes=N        a generated ZVXML transaction of exactly N bytes
//   body-mib=N          the same, of N MiB
//   raw=TEXT            the whole reply, verbatim (only the writing directives
//                       below apply)
//   endless-header      after the status line, header lines that never end
//                       (up to kEndlessBytes)
//   endless-body        a generated body that never ends (up to kEndlessBytes),
//                       without Content-Length; status 200 unless status= says
//   extra=TEXT          TEXT after the body, beyond its Content-Length
//
// How it is written and how the connection ends:
//   split=P,P,...       write the reply in pieces, cut at these offsets: a byte
//                       count from the reply's start, or body, body+N, body-N
//                       counted from the first body byte
//   trickle=N           write the reply N bytes at a time
//   pause=MS            pause between pieces (default 100, or 1 with trickle)
//   cut=P               send the reply only up to offset P (as in split), then
//                       close; with reset, reset the connection instead
//   hold                after the reply, keep the connection open until the
//                       client closes it
//   early               answer as soon as the request's header has arrived,
//                       without reading its body, and close at once (a
//                       reset, with the body still coming)
//
// Instead of a reply (each alone):
//   stall=MS            read the request, answer nothing for MS, then close
//   reset               read the request, then reset the connection
//   refuse              reset the connection at once, reading nothing: the
//                       client's request cannot be written whole
//   close               read the request, then close without answering
//   never-answer        read the request, then send nothing and keep the
//                       connection open until the client closes it
//   never-read          read nothing and keep the connection open until the
//                       client closes it
//
// Pauses and stalls are limited to kMaxWaitMs; generated bodies to kMaxBodyMib;
// a connection held open ends when the client closes it, or after kMaxHoldMs.
// A line that supplies its own body or no reply at all (body, body-bytes,
// body-mib, raw, endless-header, endless-body, or any line of the last group)
// leaves the agent's state untouched; any other line only changes how the
// agent's own answer is framed and written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zvagent {

inline constexpr long kMaxWaitMs = 60000;
inline constexpr long kMaxHoldMs = 600000;
inline constexpr std::uint64_t kMaxBodyMib = 1024;
inline constexpr std::uint64_t kEndlessBytes = std::uint64_t{4} << 30;

/// A place in a reply: where it is cut into separate writes, or cut short.
struct SplitPoint {
  bool from_body = false;  ///< offset counts from the first body byte
  long long offset = 0;
};

/// The reply to one request as one script line describes it.
struct ScriptStep {
  enum class Action { reply, stall, reset, refuse, close, never_answer, never_read };
  /// How the connection ends once a reply (or its cut part) is written.
  enum class Ending { close, reset, hold };
  Action action = Action::reply;
  Ending ending = Ending::close;
  long stall_ms = 0;
  std::optional<int> status;
  std::optional<std::string> reason;
  std::optional<std::string> status_line;
  bool lf_only = false;
  bool no_length = false;
  std::optional<std::uint64_t> length;
  std::optional<std::string> body;
  std::optional<std::uint64_t> body_bytes;
  std::optional<std::string> raw;
  bool endless_header = false;
  bool endless_body = false;
  std::optional<std::string> extra;
  std::vector<SplitPoint> splits;
  std::optional<SplitPoint> cut;
  std::size_t trickle = 0;  ///< bytes per write; 0: as few writes as the splits allow
  std::optional<long> pause_ms;
  bool early = false;

  /// True when the step answers without the agent (own body or no reply).
  bool answers_alone() const {
    return action != Action::reply || body || body_bytes || raw || endless_header || endless_body;
  }
  /// True when the step is carried out before the request is read.
  bool before_reading() const { return action == Action::refuse || action == Action::never_read; }
  /// The pause between two pieces of the reply, in milliseconds.
  long pause() const { return pause_ms.value_or(trickle ? 1 : 100); }
};

/// Parses one script line.  On a mistake returns nothing and says why in
/// `error`.
std::optional<ScriptStep> script_parse_line(std::string_view line, std::string& error);

/// Appends the steps of the script file `path` to `steps`.  On a mistake
/// returns false with "path:line: why" (or why the file cannot be read) in
/// `error`.
bool script_load_file(const std::string& path, std::vector<ScriptStep>& steps, std::string& error);

/// The steps still to be used, in order.
class Script {
 public:
  explicit Script(std::vector<ScriptStep> steps) : steps_(steps.begin(), steps.end()) {}
  /// The step for the next request, or nothing once the script is used up.
  std::optional<ScriptStep> take();
  /// The step that take() would return next, or nullptr; valid until take().
  const ScriptStep* peek() const { return steps_.empty() ? nullptr : &steps_.front(); }

 private:
  std::deque<ScriptStep> steps_;
};

}  // namespace zvagent
