#include "operations/recover.h"

#include <fcntl.h>

#include "base/error.h"
#include "base/text.h"
#include "files/file.h"
#include "message/log_record.h"
#include "operations/map_data.h"
#include "operations/submit.h"

namespace zv {

namespace {

constexpr std::string_view kUnmodifiable = "Recover file could not be modified.";

void report_unmodifiable() {
  show_error_text(kUnmodifiable);
  set_exit_code(kExitFile);
}

}  // namespace

void recover_line(Session& session, const Endpoint& endpoint, char* line) {
  if (line == nullptr || *line == '\0') return;
  switch (log_record_kind(line)) {
    case LogRecordKind::kMessage: submit_line(session, endpoint, line); break;
    case LogRecordKind::kMapDataLine: map_data_line(session, endpoint, line); break;
    case LogRecordKind::kMarkedMessage:
      try {
        // An empty message is a submission too: it was sent, so it is sent again.
        Text message = log_unescape(line + 2);
        submit(session, endpoint, message);
      } catch (const memory_exhausted&) {
        // Reported by the gate; the line is skipped.
      }
      break;
    case LogRecordKind::kMarkedMapData:
      try {
        Text record = log_unescape(line + 2);
        map_data_record(session, endpoint, record.data());
      } catch (const memory_exhausted&) {
        // Reported by the gate; the line is skipped.
      }
      break;
  }
}

namespace {

// Sends the lines of the recover file from the mark on, marks each one once
// it has been handled (delivered, or logged again), then ends the recovery.
void recover_lines(Session& session, const Endpoint& endpoint, Descriptor fd,
                   RecoverProgress& progress) {
  wait_for_writers(fd.get());
  File file = file_open_descriptor(fd.release(), true);
  // A mark the file cannot be moved to sends the file from its start again:
  // duplicates, never a loss.
  if (progress.offset() > 0) file_seek(file, progress.offset());
  // A line without text (its buffer could not be had) is skipped.
  while (read_file(file)) {
    recover_line(session, endpoint, file.line_data());
    progress.mark(file_offset(file));
  }
  progress.remove();
}

// Finishes the recovery a killed run left; false when there is none.
bool resume_pending(Session& session, const Endpoint& endpoint, const RecoverNames& names) {
  FileId id;
  Descriptor fd = safe_open(names.recover.c_str(), O_RDONLY, &id);
  std::optional<RecoverProgress> progress =
      RecoverProgress::pending(names.progress.c_str(), fd ? &id : nullptr);
  if (!progress) return false;
  recover_lines(session, endpoint, std::move(fd), *progress);
  return true;
}

}  // namespace

void recover_file(Session& session, const Endpoint& endpoint) {
  const char* path = session.arguments.recover_path;
  RecoverNames names = recover_names(path);
  // Nothing to recover and nothing pending: no lock file is left behind
  // for a path that was never a log.  Both are looked at again under the lock.
  if (!path_exists(path) && !path_exists(names.progress.c_str())) return report_unmodifiable();
  Descriptor lock = lock_recovery(names.lock.c_str());
  if (!lock) return report_unmodifiable();
  bool resumed = resume_pending(session, endpoint, names);
  std::optional<RenamedRecoverFile> renamed = rename_recover_file(path, names);
  if (!renamed) {
    if (!resumed || path_exists(path)) report_unmodifiable();
    return;
  }
  recover_lines(session, endpoint, std::move(renamed->file), renamed->progress);
}

}  // namespace zv
