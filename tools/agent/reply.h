// Writing the reply to one request: the agent's answer in its usual form, or
// as a script step reshapes or replaces it.
//
// The usual reply is HTTP/1.0 with CR LF line ends: the status line,
// Content-Type: text/xml, Content-Length, Connection: close, an empty line
// and the body, all in one write.  One write matters: the client stops
// reading at the first short read, so a reply cut into pieces is a test case
// (split=), not the normal behaviour.
#pragma once

#include <string_view>

#include "script.h"
#include "service.h"

namespace zvagent {

/// The reason phrase that usually goes with `code` ("Status" for codes
/// without a usual one).
std::string_view reason_for(int code);

/// What writing a reply achieved.
struct Sent {
  bool written = false;   ///< every byte the step meant to send went out
  bool accepted = false;  ///< written, and a whole reply with status 200 whose
                          ///< Content-Length (if any) is the body's real size
};

/// Writes the reply for a step whose action is `reply` (or, with no step,
/// the agent's own) to the non-blocking connection `fd`.  `answer` is used
/// unless the step brings its own body or raw reply.  `written` is false when
/// the peer went away, stopped reading for too long, or a stop was requested.
Sent reply_send(int fd, const Answer& answer, const ScriptStep* step);

}  // namespace zvagent
