// A run told to stop (SIGTERM, SIGINT, SIGHUP): the handler only notes the
// signal; the work notices it where it waits or between two submissions.
#pragma once

namespace zv {

/// Notes that the run was told to stop by `signal`.  Async-signal-safe.
void stop_request(int signal);

/// True once a stop was requested.
bool stop_requested();

/// The signal that asked the run to stop, or 0.
int stop_signal();

}  // namespace zv
