// The recovery log: every submission that could not be delivered is
// appended as one line to logs/ZVClient.log, from which a later
// --recover-file run submits it again.  Where the line goes and how it is
// kept whole is log_file.h's business.
//
// A message is logged as its text.  A data-map submission is logged as its
// transaction id followed by its items, each quoted with backslash escapes,
// so that the data-map word splitter reads back exactly the same items.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "base/memory.h"
#include "files/log_file.h"
#include "message/submission.h"

namespace zv {

/// The item between double quotes, with every '\\' and '"' inside it
/// preceded by a backslash.  Throws memory_exhausted.
Text log_encode_map_data(std::string_view item);

/// The data-map record, without line end: the transaction id unchanged
/// ("0" for nullptr), one blank, then the encoded items from index `first`
/// on, joined by single blanks; without items the line ends with the blank.
/// The items end at the end of the span or at a nullptr entry, whichever
/// comes first.  Throws memory_exhausted.
Text log_map_data_line(const char* transaction_id, Words items, std::size_t first);

/// Appends `submission` to the first usable of `places` (log_file.h), in
/// the plain or the marked form (log_record.h), whichever carries it back
/// unchanged.  When no place takes the record, the error line "Recovery log
/// could not be written." is shown and the exit code is 40.  When the record
/// cannot be built for lack of memory nothing is written and the exit code
/// is 30.  Other exit codes are left as they are.
void log_submission(const Submission& submission, std::span<const LogPlace> places = kLogPlaces);

}  // namespace zv
