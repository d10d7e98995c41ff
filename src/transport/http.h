// One HTTP/1.0 request/reply exchange with the agent.
#pragma once

#include <ctime>
#include <optional>

#include "cli/memory.h"
#include "cli/reply.h"
#include "cli/session.h"
#include "transport/endpoint.h"
#include "transport/form.h"

namespace zv {

enum HttpMethod : int { kHttpPost = 1, kHttpGet = 2 };

/// The whole request text: request line, header lines (bare LF ends), and
/// for a POST the form body and one more LF.  The Date line is left out when
/// `now` is nullopt.  Throws memory_exhausted.
Text http_build_request(const Endpoint& endpoint, const ParamList* list, HttpMethod method,
                        std::optional<std::time_t> now);

/// Connects, writes the request, reads the reply until the agent closes the
/// connection (or the body reaches its Content-Length) and hands it to
/// `handler`.  True when the request was written and the reply read,
/// whatever its status; false when the exchange could not be carried out
/// (already reported).
bool http_query(const Endpoint& endpoint, const ParamList* list, HttpMethod method,
                ReplyHandler& handler);

/// A GET exchange whose reply goes to the run's output.
bool http_get(Session& session, const Endpoint& endpoint, const ParamList* list);

/// Sends a submission by POST; one that cannot be delivered is written to
/// the recovery log.
void post(Session& session, const Endpoint& endpoint, const ParamList& list);

}  // namespace zv
