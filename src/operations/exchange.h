// The operations' side of an exchange with the agent: the reply goes
// through the reply handler to the run's output, and a submission that the
// agent did not take goes to the recovery log.
#pragma once

#include "message/submission.h"
#include "operations/session.h"
#include "transport/endpoint.h"
#include "transport/form.h"

namespace zv {

/// What became of one submission.
enum class Outcome {
  kDelivered,  ///< the agent took it, or refused it for good
  kKept,       ///< in the recovery log, for a later run
  kInvalid,    ///< no submission: nothing was sent (invalid map data)
  kLost,       ///< neither delivered nor kept (no log place, no memory)
};

/// A GET exchange whose reply goes to the run's output.  True when the
/// agent answered (its status line arrived), whatever it said.
bool http_get(Session& session, const Endpoint& endpoint, const ParamList* list);

/// Sends `submission` by POST.  One that the agent did not answer, or
/// answered with a status that means "later" (5xx, 408, 429, 3xx), is
/// written to the recovery log; one answered with any other status counts
/// as delivered (or refused for good).  Once the run was told to stop
/// (base/stop.h), nothing more is sent: every submission is kept, its
/// record synced with the others at the end of the run.
/// Throws memory_exhausted when the parameter list cannot be made: then
/// nothing is sent or logged.
Outcome post(Session& session, const Endpoint& endpoint, const Submission& submission);

}  // namespace zv
