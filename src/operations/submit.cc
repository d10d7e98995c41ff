#include "operations/submit.h"

#include "base/error.h"
#include "operations/each_line.h"
#include "operations/exchange.h"

namespace zv {

Outcome submit(Session& session, const Endpoint& endpoint, std::string_view message) {
  Outcome outcome = Outcome::kLost;
  try {
    outcome = post(session, endpoint, message_submission(message));
  } catch (const memory_exhausted&) {
    // Reported by the gate: this message is neither sent nor logged.
  }
  parser_clear(session.xml_parser);
  return outcome;
}

Outcome submit_line(Session& session, const Endpoint& endpoint, const char* line) {
  if (line == nullptr || *line == '\0') return Outcome::kInvalid;
  return submit(session, endpoint, line);
}

void submit_file(Session& session, const Endpoint& endpoint) {
  send_each_line(session, session.arguments.submit_path, "Submit file could not be opened.",
                 [&](char* line) { submit_line(session, endpoint, line); });
}

}  // namespace zv
