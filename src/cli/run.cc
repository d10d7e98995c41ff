#include "cli/run.h"

#include <cstdio>

#include "base/error.h"
#include "base/text.h"
#include "cli/progress.h"
#include "files/log_file.h"
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
    show_error_text("Unsupported URI scheme: only http:// and https:// are supported.");
  } else {
    show_error_text(
        "The URI names no usable host (userinfo, blanks and control characters are refused).");
  }
  set_exit_code(kExitCommandLine);
}

void report_refused_output(OutputRefusal refusal) {
  show_error_text(refusal == OutputRefusal::kNotRegular
                      ? "Post file could not be used: it is not a regular file."
                      : "Post file could not be used: the run reads or keeps that file.");
  set_exit_code(kExitCommandLine);
}

// The files a post file must never replace: what the run reads, and where
// it keeps what it cannot deliver.
class FilesInUse {
 public:
  explicit FilesInUse(const Arguments& arguments) {
    for (const char* path : {arguments.submit_path, arguments.map_data_path, arguments.mapping_path,
                             arguments.recover_path}) {
      if (path != nullptr) list_[count_++] = path;
    }
    if (arguments.recover_path != nullptr) {
      recover_name_ = string_concat(arguments.recover_path, ".", "recover");
      list_[count_++] = recover_name_.c_str();
    }
    for (const LogPlace& place : kLogPlaces) list_[count_++] = place.path;
  }
  FilesInUse(const FilesInUse&) = delete;
  FilesInUse& operator=(const FilesInUse&) = delete;
  std::span<const char* const> paths() const { return {list_, count_}; }

 private:
  Text recover_name_;
  const char* list_[4 + 1 + std::size(kLogPlaces)] = {};
  std::size_t count_ = 0;
};

// The runs that send every line of a file.
bool handles_a_file(const Arguments& arguments) {
  return arguments.submit_path != nullptr || arguments.map_data_path != nullptr ||
         arguments.recover_path != nullptr;
}

// A run that handled a file says, at its end, what it did not deliver and
// where that is, so that a scheduled run's mail tells it.
void report_what_was_kept(const Session& session) {
  const Arguments& arguments = session.arguments;
  if (!handles_a_file(arguments) || (session.kept == 0 && session.set_aside == 0)) return;
  char line[512];
  const char* place = log_last_place();
  if (session.kept > 0 && place != nullptr) {
    std::snprintf(line, sizeof line,
                  "%llu of %llu submissions were kept in %s for a later recovery.",
                  static_cast<unsigned long long>(session.kept),
                  static_cast<unsigned long long>(session.submissions), place);
    show_error_text(line);
  }
  if (session.set_aside > 0) {
    std::snprintf(line, sizeof line, "%llu lines were set aside in %s.setaside.",
                  static_cast<unsigned long long>(session.set_aside), arguments.recover_path);
    show_error_text(line);
  }
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
    const char* malformed = nullptr;
    endpoint->limits = time_limits_from_environment(&malformed);
    if (malformed != nullptr) {
      show_error_text(
          string_concat(malformed, " is not a number of seconds", "; its default is used."));
    }
    // A "--post-file" that cannot be created leaves the replies on standard
    // output, without a word; one that would overwrite what the run reads
    // or keeps, or that is no regular file, ends the run.
    OutputRefusal refusal_of_output = OutputRefusal::kNone;
    FilesInUse in_use(arguments);
    std::optional<Output> output =
        output_open(arguments.post_path, in_use.paths(), refusal_of_output);
    if (!output) {
      report_refused_output(refusal_of_output);
      return;
    }
    session.output = &*output;
    std::optional<TerminalProgress> progress;
    if (handles_a_file(arguments) && TerminalProgress::wanted()) {
      session.progress = &progress.emplace();
    }

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
    session.progress = nullptr;
    progress.reset();  // erased before the closing lines
    if (!log_sync_deferred()) {
      show_error_text("Recovery log could not be written.");
      set_exit_code(kExitFile);
    }
    report_what_was_kept(session);
    if (!output->finish() && !output->failed()) {
      show_error_text("Post file could not be renamed into place.");
      set_exit_code(kExitFile);
    }
  } catch (const memory_exhausted&) {
    // Reported by the gate; the run winds down to its normal end.
    session.output = nullptr;
    session.progress = nullptr;
  }
}

}  // namespace zv
