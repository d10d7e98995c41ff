#include "cli/run.h"

#include <cstdio>

#include "base/error.h"
#include "files/output.h"
#include "operations/map_data.h"
#include "operations/mapping.h"
#include "operations/recover.h"
#include "operations/retrieve.h"
#include "operations/submit.h"
#include "transport/endpoint.h"
#include "transport/time_limits.h"
#include "xml/config.h"

namespace zv {

namespace {

// A URI that cannot be used ends the run before anything is sent; the
// command line was wrong.
void report_refused_uri(UriRefusal refusal) {
  if (refusal == UriRefusal::kPort) {
    show_error(kErrorPort);
  } else if (refusal == UriRefusal::kScheme) {
    show_error_text("Unsupported URI scheme: only http:// is supported.");
  } else {
    show_error_text(
        "The URI names no usable host (userinfo, blanks and control characters are refused).");
  }
  set_exit_code(kExitCommandLine);
}

}  // namespace

void run(Session& session) {
  const Arguments& arguments = session.arguments;
  try {
    std::int32_t port = read_config(arguments.program_path);
    std::string_view suffix = arguments.status_query ? "/status" : "";
    UriRefusal refusal = UriRefusal::kNone;
    std::optional<Endpoint> endpoint = uri_open(arguments.custom_uri, suffix, port, refusal);
    if (!endpoint) {
      report_refused_uri(refusal);
      return;
    }
    endpoint->limits = time_limits_from_environment();
    // A "--post-file" that cannot be opened leaves the replies on standard
    // output, without a word.
    Output output = output_open(arguments.post_path);
    session.output = &output;

    if (arguments.status_query) {
      get_status(session, *endpoint);
    } else if (arguments.map_data_words) {
      map_data(session, *endpoint);
    } else if (arguments.message != nullptr) {
      submit(session, *endpoint, arguments.message);
    } else if (arguments.map_data_path != nullptr) {
      map_data_file(session, *endpoint);
    } else if (arguments.response_client != nullptr) {
      get_response(session, *endpoint);
    } else if (arguments.submit_path != nullptr) {
      submit_file(session, *endpoint);
    } else if (arguments.recover_path != nullptr) {
      recover_file(session, *endpoint);
    } else if (arguments.mapping_path != nullptr) {
      submit_mapping_file(session, *endpoint);
    }
    session.output = nullptr;
  } catch (const memory_exhausted&) {
    // Reported by the gate; the run winds down to its normal end.
    session.output = nullptr;
  }
}

}  // namespace zv
