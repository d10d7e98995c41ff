// Message submission: one message, or every line of a file.
#pragma once

#include <string_view>

#include "operations/exchange.h"
#include "operations/session.h"
#include "transport/endpoint.h"

namespace zv {

/// Posts `message` as the form parameter "message", then empties the
/// parser for the next reply.  A message that cannot be delivered goes to
/// the recovery log.  Says what became of it.
Outcome submit(Session& session, const Endpoint& endpoint, std::string_view message);

/// Posts `line` as the message, unless it is nullptr or empty (kInvalid).
Outcome submit_line(Session& session, const Endpoint& endpoint, const char* line);

/// Posts every line of the file named by `submit_path`, in file order; a
/// file that cannot be opened is reported with exit code 40.
void submit_file(Session& session, const Endpoint& endpoint);

}  // namespace zv
