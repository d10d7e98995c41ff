#include "operations/exchange.h"

#include <poll.h>

#include <chrono>

#include "base/error.h"
#include "base/stop.h"
#include "files/log_file.h"
#include "message/recovery_log.h"
#include "operations/reply.h"
#include "transport/http.h"

namespace zv {

namespace {

using Clock = AgentWatch::Clock;

// An agent found not there is tried again after these waits.  Right after
// a quick failure (refused: perhaps restarting) the run waits and tries
// every kPatientRetry for kPatience; after that, or after a slow failure (a
// time limit), it keeps what comes without sending it and tries once every
// kRetry, so that an agent that comes back gets the rest of the run.
constexpr auto kPatience = std::chrono::milliseconds(2500);
constexpr auto kPatientRetry = std::chrono::milliseconds(250);
constexpr auto kRetry = std::chrono::seconds(2);
constexpr auto kQuickFailure = std::chrono::seconds(1);
// Records kept without their own sync are synced at least this often, and
// before an exchange that follows a slow one.
constexpr auto kSyncDelay = std::chrono::milliseconds(100);
constexpr auto kSlowExchange = std::chrono::milliseconds(20);

// Makes the kept records durable; a failure is reported as a record that
// could not be kept.
void sync_kept_records() {
  if (log_unsynced_records() == 0) return;
  if (!log_sync_deferred()) {
    show_error_text("Recovery log could not be written.");
    set_exit_code(kExitFile);
  }
}

Outcome keep(Session& session, const Submission& submission) {
  if (log_unsynced_records() == 0) session.agent.unsynced_since = Clock::now();
  if (!log_submission(submission)) return Outcome::kLost;
  ++session.kept;
  return Outcome::kKept;
}

// Sleeps until `when`, or until the run is told to stop.
void wait_until(Clock::time_point when) {
  while (!stop_requested()) {
    auto left = when - Clock::now();
    if (left <= Clock::duration::zero()) return;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    ::poll(nullptr, 0, static_cast<int>(ms));
  }
}

// One exchange; a failure of the transport is reported here.
bool query(const Endpoint& endpoint, const ParamList* list, HttpMethod method,
           ReplyHandler& handler, bool* absent = nullptr) {
  std::string_view failure;
  if (http_query(endpoint, list, method, handler, failure, absent)) return true;
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
  ++session.submissions;
  // Kept records are synced in groups, never left unsynced for long.
  log_defer_syncs();
  AgentWatch& agent = session.agent;
  Clock::time_point now = Clock::now();
  if (now - agent.unsynced_since >= kSyncDelay) sync_kept_records();
  // A run told to stop sends nothing more: what is left is kept, quickly.
  if (stop_requested()) return keep(session, submission);
  if (agent.away && now < agent.next_try) {
    if (now - agent.away_since >= kPatience || agent.next_try - now > kPatientRetry) {
      ++agent.held_back;
      return keep(session, submission);
    }
    wait_until(agent.next_try);
    if (stop_requested()) return keep(session, submission);
  }
  if (agent.last_exchange >= kSlowExchange) sync_kept_records();

  ParamList list = submission_params(submission);
  ReplyHandler handler(session);
  bool absent = false;
  Clock::time_point started = Clock::now();
  bool answered = query(endpoint, &list, kHttpPost, handler, &absent);
  now = Clock::now();
  agent.last_exchange = now - started;
  if (absent) {
    if (!agent.away) agent.away_since = started;
    agent.away = true;
    bool patient = agent.last_exchange < kQuickFailure && now - agent.away_since < kPatience;
    agent.next_try = now + (patient ? Clock::duration(kPatientRetry) : Clock::duration(kRetry));
  } else {
    agent.away = false;
  }
  // A status that says later (see http_reply_means_later) keeps the
  // submission; any other says it was taken, or refused for good.
  if (answered && !http_reply_means_later(endpoint, handler.status_code()))
    return Outcome::kDelivered;
  return keep(session, submission);
}

}  // namespace zv
