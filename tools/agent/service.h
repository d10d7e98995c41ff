// The agent's own answer to a request, before any scripting changes it.
//
//  POST with "message"                     -> 200, Status "Message accepted."
//  POST with "transactionid" ("mapdata"s)  -> 200, Status "Map data accepted."
//  GET of a path ending in "/status"       -> 200, Status "Ready." with counts
//  GET with "client" in the query          -> 200, the next response waiting,
//                                             else Status "No response waiting."
//  anything else                           -> 400 (or 501 for other methods)
//                                             with an agent ERROR message
#pragma once

#include <optional>
#include <string>

#include "request.h"
#include "state.h"

namespace zvagent {

/// The status code, reason phrase and body of a reply.
struct Answer {
  int code = 200;
  std::string reason = "OK";
  std::string body;
};

/// Answers `request` (nothing stands for a request that could not be read
/// whole or parsed), updating `state`.
Answer service_answer(AgentState& state, const std::optional<Request>& request);

}  // namespace zvagent
