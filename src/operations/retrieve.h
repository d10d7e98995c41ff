// Status and response retrieval by GET.
#pragma once

#include "operations/session.h"
#include "transport/endpoint.h"

namespace zv {

/// Asks the agent for its status; the reply is written whatever it says.
void get_status(Session& session, const Endpoint& endpoint);

/// Fetches up to `response_max` replies for `response_client`, stopping
/// early when the agent cannot be reached, answers with an agent Status or
/// ERROR message, or a reply could not be written.
void get_response(Session& session, const Endpoint& endpoint);

}  // namespace zv
