// Scripted replies: how the agent answers the next requests, one line each.
//
// A line is a list of words separated by blanks; a word is a directive or
// directive=value, where a value runs to the next blank or is written between
// double quotes; in both, \r \n \t \s (blank) \" \\ and \xHH are escapes.
// Empty lines and lines starting with '#' are skipped in a script file.
//
//   agent               the agent's own reply (a line of just this changes nothing)
//   status=CODE         status code; the reason phrase follows the code's usual one
//   reason=TEXT         reason phrase (may be empty: "HTTP/1.0 500 " then)
//   status-line=TEXT    the whole status line, verbatim, without its line end
//   lf                  header lines end with LF instead of CR LF
//   no-length           no Content-Length header; the close marks the end
//   body=TEXT           this body instead of the agent's answer
//   body-bytes=N        a generated ZVXML transaction of exactly N bytes
//   body-mib=N          the same, of N MiB
//   raw=TEXT            the whole reply, verbatim (only split and pause apply)
//   split=P,P,...       write the reply in pieces, cut at these offsets: a byte
//                       count from the reply's start, or body, body+N, body-N
//                       counted from the first body byte
//   pause=MS            pause between pieces (default 100)
//   stall=MS            read the request, answer nothing for MS, then close
//   reset               read the request, then reset the connection
//   refuse              reset the connection at once, reading nothing: the
//                       client's request cannot be written whole
//   close               read the request, then close without answering
//
// Pauses and stalls are limited to kMaxWaitMs; generated bodies to kMaxBodyMib.
// A line that supplies its own body or no reply at all (body, body-bytes,
// body-mib, raw, stall, reset, refuse, close) leaves the agent's state untouched; any
// other line only changes how the agent's own answer is framed and written.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zvagent {

inline constexpr long kMaxWaitMs = 60000;
inline constexpr std::uint64_t kMaxBodyMib = 1024;

/// A place at which a reply is cut into separate writes.
struct SplitPoint {
  bool from_body = false;  ///< offset counts from the first body byte
  long long offset = 0;
};

/// The reply to one request as one script line describes it.
struct ScriptStep {
  enum class Action { reply, stall, reset, refuse, close };
  Action action = Action::reply;
  long stall_ms = 0;
  std::optional<int> status;
  std::optional<std::string> reason;
  std::optional<std::string> status_line;
  bool lf_only = false;
  bool no_length = false;
  std::optional<std::string> body;
  std::optional<std::uint64_t> body_bytes;
  std::optional<std::string> raw;
  std::vector<SplitPoint> splits;
  long pause_ms = 100;

  /// True when the step answers without the agent (own body or no reply).
  bool answers_alone() const {
    return action != Action::reply || body || body_bytes || raw;
  }
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
  /// True when the next step refuses the connection before reading it.
  bool refuses_next() const {
    return !steps_.empty() && steps_.front().action == ScriptStep::Action::refuse;
  }

 private:
  std::deque<ScriptStep> steps_;
};

}  // namespace zvagent
