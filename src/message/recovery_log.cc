#include "message/recovery_log.h"

#include "base/error.h"
#include "message/log_record.h"

namespace zv {

namespace {

constexpr std::string_view kNotWritten = "Recovery log could not be written.";

}  // namespace

bool log_submission(const Submission& submission, std::span<const LogPlace> places) {
  bool written = true;
  try {
    LogRecord record = log_record(submission);
    written = log_write(record.line(), places);
  } catch (const memory_exhausted&) {
    set_exit_code(kExitMemory);
    return false;
  }
  // The caller must not believe the submission kept when it is not.
  if (!written) {
    show_error_text(kNotWritten);
    set_exit_code(kExitFile);
  }
  return written;
}

}  // namespace zv
