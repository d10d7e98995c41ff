#include "operations/recover.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>

#include "base/error.h"
#include "base/stop.h"
#include "base/text.h"
#include "files/file.h"
#include "files/set_aside.h"
#include "message/log_record.h"
#include "operations/map_data.h"
#include "operations/submit.h"
#include "transport/time_limits.h"

namespace zv {

namespace {

constexpr std::string_view kUnmodifiable = "Recover file could not be modified.";
// How long a recovery waits for another one of the same file: a scheduled
// run must not queue up behind one that takes hours.
constexpr const char* kLockWaitVariable = "ZVCLIENT_LOCK_TIMEOUT";
constexpr int kLockWaitMs = 30000;

void report_unmodifiable() {
  show_error_text(kUnmodifiable);
  set_exit_code(kExitFile);
}

}  // namespace

Outcome recover_line(Session& session, const Endpoint& endpoint, char* line) {
  if (line == nullptr || *line == '\0') return Outcome::kInvalid;
  try {
    switch (log_record_kind(line)) {
      case LogRecordKind::kMessage: return submit_line(session, endpoint, line);
      case LogRecordKind::kMapDataLine: {
        // Split in a copy: a line that is no submission is set aside as it was.
        Text words(line);
        return map_data_line(session, endpoint, words.data());
      }
      case LogRecordKind::kMarkedMessage: {
        // An empty message is a submission too: it was sent, so it is sent again.
        Text message = log_unescape(line + 2);
        return submit(session, endpoint, message);
      }
      case LogRecordKind::kMarkedMapData: {
        Text record = log_unescape(line + 2);
        return map_data_record(session, endpoint, record.data());
      }
    }
  } catch (const memory_exhausted&) {
    // Reported by the gate; the line is neither sent nor kept.
  }
  return Outcome::kLost;
}

namespace {

constexpr std::string_view kStopped =
    "Recovery stopped at a line that could be neither delivered nor kept; the next recovery "
    "starts there.";

// What a line of the recover file comes to.  A line is handled once it was
// delivered, kept again, or set aside; the recovery stops before any other.
bool handle_line(Session& session, const Endpoint& endpoint, File& file, int last,
                 const char* log_path) {
  if (last == EOF) ++session.submissions;  // a torn record counts as the submission it was
  if (file.skipped) return false;          // too long for the memory there is
  // The file's last line without its LF is a record a killed writer left
  // half written: never sent, set aside whole.
  Outcome outcome =
      last == EOF ? Outcome::kInvalid : recover_line(session, endpoint, file.line_data());
  if (outcome != Outcome::kInvalid) return outcome != Outcome::kLost;
  try {
    if (!set_aside(log_path, file.line())) return false;
    ++session.set_aside;
    Text name = set_aside_name(log_path);
    show_error_text(string_concat("A line that is no submission was set aside in ", name, "."));
    set_exit_code(kExitFile);
    return true;
  } catch (const memory_exhausted&) {
    return false;  // reported by the gate
  }
}

// Sends the lines of the recover file from the mark on and marks each one
// once it has been handled, then ends the recovery.  False when it stopped
// at a line it could not handle: the mark stays before that line.
bool recover_lines(Session& session, const Endpoint& endpoint, Descriptor fd,
                   RecoverProgress& progress) {
  wait_for_writers(fd.get());
  File file = file_open_descriptor(fd.release(), true);
  // A mark the file cannot be moved to sends the file from its start again:
  // duplicates, never a loss.
  if (progress.offset() > 0) file_seek(file, progress.offset());
  for (;;) {
    int last = file_read_line(file);
    if (!file.has_line) break;
    if (!handle_line(session, endpoint, file, last, session.arguments.recover_path)) {
      show_error_text(kStopped);
      return false;
    }
    progress.mark(file_offset(file));
    if (session.progress != nullptr) {
      session.progress->line_done(session, file_offset(file), file_size(file));
    }
    // Told to stop: the lines after the mark wait in the recover file for
    // the next recovery.
    if (stop_requested()) return false;
  }
  progress.remove();
  return true;
}

enum class Pending { kNone, kFinished, kStopped };

// Finishes the recovery a killed run left.
Pending resume_pending(Session& session, const Endpoint& endpoint, const RecoverNames& names) {
  FileId id;
  Descriptor fd = safe_open(names.recover.c_str(), O_RDONLY, &id);
  std::optional<RecoverProgress> progress =
      RecoverProgress::pending(names.progress.c_str(), fd ? &id : nullptr);
  if (!progress) return Pending::kNone;
  return recover_lines(session, endpoint, std::move(fd), *progress) ? Pending::kFinished
                                                                    : Pending::kStopped;
}

// An empty log holds nothing to recover.
bool empty_file(const char* path) {
  struct stat info {};
  return ::lstat(path, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0;
}

}  // namespace

void recover_file(Session& session, const Endpoint& endpoint) {
  const char* path = session.arguments.recover_path;
  RecoverNames names = recover_names(path);
  // Nothing to recover and nothing pending: no lock file is left behind
  // for a path that was never a log.  Both are looked at again under the lock.
  if (!path_exists(path) && !path_exists(names.progress.c_str())) return report_unmodifiable();
  bool busy = false;
  const char* wait_text = std::getenv(kLockWaitVariable);
  int wait_ms = time_limit_ms(wait_text, kLockWaitMs);
  Descriptor lock = lock_recovery(names.lock.c_str(), wait_ms, busy);
  if (!lock && busy) {
    show_error_text("Another recovery of this file is still running; this one ends without it.");
    set_exit_code(kExitFile);
    return;
  }
  if (!lock) return report_unmodifiable();
  Pending pending = resume_pending(session, endpoint, names);
  // Lines of the recover file still wait: nothing may be renamed over it.
  if (pending == Pending::kStopped) return;
  std::optional<RenamedRecoverFile> renamed;
  if (!empty_file(path)) renamed = rename_recover_file(path, names);
  if (!renamed) {
    if (pending == Pending::kNone || (path_exists(path) && !empty_file(path))) {
      report_unmodifiable();
    }
    return;
  }
  recover_lines(session, endpoint, std::move(renamed->file), renamed->progress);
}

}  // namespace zv
