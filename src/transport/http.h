// One HTTP/1.0 request/reply exchange with the agent.  Every request and
// header line ends with CR LF; nothing follows the body that Content-Length
// does not count; every request names its Host and closes the connection.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string_view>

#include "base/memory.h"
#include "transport/endpoint.h"
#include "transport/form.h"
#include "transport/reply_reader.h"

namespace zv {

enum HttpMethod : int { kHttpPost = 1, kHttpGet = 2 };

/// Connects, writes the request, reads the reply until the agent closes the
/// connection (or the body is complete) and hands it to `sink`
/// (reply_reader.h).  A write that fails because the agent answered early
/// and closed still reads that answer.  True when the agent answered, that
/// is when a well-formed final status line arrived whole, whatever the
/// status and whatever came after it; false when the exchange could not be
/// made or the agent gave no such line (closed, reset, silent past the time
/// limit, or something that is not an HTTP reply).  Nothing is
/// reported here: `failure` then says why, as the detail of a
/// COMMUNICATIONS_FAILURE report (a text of static storage), or is empty
/// when memory ran out (which the memory gate has reported).  `absent`,
/// when given, says whether the failure shows that the agent is not there:
/// the connect failed (refused, timed out, name not resolved) or nothing
/// came back within the I/O limit; an agent that answers anything, or
/// closes, is there.
bool http_query(const Endpoint& endpoint, const ParamList* list, HttpMethod method, ReplySink& sink,
                std::string_view& failure, bool* absent = nullptr);

/// Whether the status `code` of an answered exchange with `endpoint` says
/// the agent may take the submission later: a redirect, 408, 429 or a 5xx;
/// over https also a 400 from a server that asked for a client certificate
/// (a TLS front answers so when none, or one it does not accept, came: it
/// refused the connection, not the submission).
bool http_reply_means_later(const Endpoint& endpoint, std::int32_t code);

}  // namespace zv
