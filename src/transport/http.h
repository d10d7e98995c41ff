// One HTTP/1.0 request/reply exchange with the agent.
#pragma once

#include <ctime>
#include <optional>

#include "base/memory.h"
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
/// `handler`.  True when the agent answered, that is when the reply's status
/// line arrived whole, whatever the status and whatever came after it;
/// false when the exchange could not be made or the agent gave no status
/// line (closed, reset, or silent past the time limit).  Failures are
/// reported with exit code 10, or 30 for a memory shortage.
bool http_query(const Endpoint& endpoint, const ParamList* list, HttpMethod method,
                ReplyHandler& handler);

/// A GET exchange whose reply goes to the run's output.  True when the
/// agent answered (see http_query).
bool http_get(Session& session, const Endpoint& endpoint, const ParamList* list);

/// Sends a submission by POST.  One that the agent did not answer, or
/// answered with a 5xx status (it could not take it now), is written to the
/// recovery log; one answered with any other status counts as delivered.
void post(Session& session, const Endpoint& endpoint, const ParamList& list);

}  // namespace zv
