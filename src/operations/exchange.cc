#include "operations/exchange.h"

#include "base/error.h"
#include "base/stop.h"
#include "files/log_file.h"
#include "message/recovery_log.h"
#include "operations/reply.h"
#include "transport/http.h"

namespace zv {

namespace {

// One exchange; a failure of the transport is reported here.
bool query(const Endpoint& endpoint, const ParamList* list, HttpMethod method,
           ReplyHandler& handler) {
  std::string_view failure;
  if (http_query(endpoint, list, method, handler, failure)) return true;
  if (!failure.empty()) {
    show_error_detail(kErrorCommunications, failure);
    set_exit_code(kExitCommunication);
  }
  return false;
}

}  // namespace

bool http_get(Session& session, const Endpoint& endpoint, const ParamList* list) {
  ReplyHandler handler(session);
  return query(endpoint, list, kHttpGet, handler);
}

Outcome post(Session& session, const Endpoint& endpoint, const Submission& submission) {
  // A run told to stop sends nothing more: what is left is kept, quickly.
  if (stop_requested()) {
    log_defer_syncs();
    return log_submission(submission) ? Outcome::kKept : Outcome::kLost;
  }
  ParamList list = submission_params(submission);
  ReplyHandler handler(session);
  bool answered = query(endpoint, &list, kHttpPost, handler);
  // A 5xx, 408, 429 or a redirect says the agent did not take the
  // submission now; any other status says it was taken, or refused for good.
  if (answered && !http_status_means_later(handler.status_code())) return Outcome::kDelivered;
  if (stop_requested()) log_defer_syncs();
  return log_submission(submission) ? Outcome::kKept : Outcome::kLost;
}

}  // namespace zv
