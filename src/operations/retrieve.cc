#include "operations/retrieve.h"

#include "base/stop.h"
#include "files/output.h"
#include "operations/exchange.h"
#include "operations/reply.h"

namespace zv {

void get_status(Session& session, const Endpoint& endpoint) {
  http_get(session, endpoint, nullptr);
  parser_clear(session.xml_parser);
}

void get_response(Session& session, const Endpoint& endpoint) {
  const Arguments& arguments = session.arguments;
  try {
    ParamList list;
    list.push_back({"client", arguments.response_client});
    bool go_on = true;
    for (std::int32_t tries = 0; tries < arguments.response_max && go_on;) {
      ++tries;
      go_on = http_get(session, endpoint, &list);
      if (is_agent(session.xml_parser, "Status") || is_agent(session.xml_parser, "ERROR")) {
        go_on = false;
      }
      // A response that cannot be written is lost at the agent already:
      // fetch no more of them.
      if (session.output->failed() || stop_requested()) go_on = false;
      parser_clear(session.xml_parser);
    }
  } catch (const memory_exhausted&) {
    // Reported by the gate; no further request is made.
  }
  parser_clear(session.xml_parser);
}

}  // namespace zv
