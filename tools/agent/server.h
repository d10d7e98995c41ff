// The agent's socket loop: listen on 127.0.0.1, take one connection at a
// time, read its one request, answer it, close it.
//
// A connection that sends nothing before it closes (or within the read
// limit) is not a request: it is not counted, recorded or scripted, unless
// its step acts before reading (refuse, never-read), which counts it.
#pragma once

#include "options.h"

namespace zvagent {

/// Runs the agent until SIGTERM or SIGINT, --max-requests requests, or
/// --exit-after-idle of quiet.  Prints "port N" (and writes the runtime
/// configuration) once it listens.  Returns the exit status: 0 for a clean
/// end, 1 when it cannot listen, write the runtime configuration or open
/// the --accepted record.
int server_run(const Options& options);

}  // namespace zvagent
