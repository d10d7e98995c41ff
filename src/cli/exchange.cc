#include "cli/exchange.h"

#include "cli/reply.h"
#include "message/recovery_log.h"
#include "transport/http.h"

namespace zv {

bool http_get(Session& session, const Endpoint& endpoint, const ParamList* list) {
  ReplyHandler handler(session);
  return http_query(endpoint, list, kHttpGet, handler);
}

void post(Session& session, const Endpoint& endpoint, const Submission& submission) {
  ParamList list = submission_params(submission);
  ReplyHandler handler(session);
  bool answered = http_query(endpoint, &list, kHttpPost, handler);
  // A 5xx status says the agent could not take the submission now; any
  // other status says it was taken, or refused for good.
  if (!answered || handler.status_code() / 100 == 5) log_submission(submission);
}

}  // namespace zv
