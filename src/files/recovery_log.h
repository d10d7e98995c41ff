// The recovery log: every submission that could not be delivered is
// appended as one line to logs/ZVClient.log, from which a later
// --recover-file run submits it again.
//
// A message is logged as its text.  A data-map submission is logged as its
// transaction id followed by its items, each quoted with backslash escapes,
// so that the data-map word splitter reads back exactly the same items.
#pragma once

#include <cstddef>
#include <string_view>

#include "cli/arguments.h"
#include "cli/memory.h"

namespace zv {

/// The item between double quotes, with every '\\' and '"' inside it
/// preceded by a backslash.  Throws memory_exhausted.
Text log_encode_map_data(std::string_view item);

/// The data-map record, without line end: the transaction id unchanged
/// ("0" for nullptr), then one blank and the encoded item for each item
/// from index `first` on.  The items end at the end of the span or at a
/// nullptr entry, whichever comes first.  Throws memory_exhausted.
Text log_map_data_line(const char* transaction_id, Words items, std::size_t first);

/// Opens the log for appending: "logs/ZVClient.log" (creating "logs"
/// first), else "ZVClient.log", else "/tmp/ZVClient.log", relative to the
/// working directory; a new file gets mode 0600.  Returns the descriptor,
/// which the caller closes, or -1.
int log_open_file();

/// Appends `line` and an LF as one record, made durable (fsync) before the
/// file is closed.  The record goes out in one write (no copy of the line)
/// so that clients appending at the same time never interleave their lines.
/// Returns whether the whole record was written and synced; failures are not
/// reported.
bool log_write(std::string_view line);

/// Logs the submission that `arguments` describes: the data-map record
/// while `map_data_words` is set, otherwise `message`; nothing when neither
/// is set.  The line is in the plain or the marked form (log_record.h),
/// whichever carries the submission back unchanged.  When the record cannot be built for lack of memory nothing is
/// written and the exit code is 30.  Other exit codes are left as they are.
void log_error(const Arguments& arguments);

}  // namespace zv
