// Binds the one operation of a run to its surroundings: the agent endpoint
// and the output stream.
#pragma once

#include "operations/session.h"

namespace zv {

/// Reads the configured port, builds the endpoint, opens the output
/// ("--post-file" or standard output) and performs the one operation the
/// command line names.  Everything opened here is closed before it returns.
void run(Session& session);

}  // namespace zv
