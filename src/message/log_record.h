// The record format of the recovery log: how a failed submission is written
// as one line, and how a line is read back.  This module alone knows it.
//
// Two forms share the log.  The plain form: a ZVXML message is its text; a
// data-map submission is its transaction id, then each item between double
// quotes with every '\\' and '"' preceded by a backslash, so that the
// data-map word splitter reads back exactly the same items.  A recovery sends a plain line that
// begins with '<' as a message and any other plain line as a data-map line, whose first word is the
// transaction id when it reads as a number.
//
// Submissions that the plain form cannot carry back unchanged are written in
// the marked form: the byte kLogMark (ASCII record separator, 0x1E), a kind
// letter ('M' message, 'D' data map), then the record with every backslash
// written as two backslashes, LF as \n and CR as \r, so the record stays on
// one line.  A marked message is the message text; a marked data-map record
// is the plain data-map record with its transaction id quoted as well.
// These are: a message that does not begin with '<' (a Classic message) or
// that holds a line break; a data-map submission whose transaction id does
// not read back as the same single number word, or whose items hold a line
// break.  No plain line this client writes begins with kLogMark.
//
// A line that begins with kLogMark but cannot be decoded is read as a plain
// line, whole, mark included, just as one without a kind letter is: never
// dropped unseen.  Beginning with the mark and not '<', it goes down the
// data-map road, where its first word is no number: it is reported as
// invalid map data with its words shown, or, with a transaction id from the
// command line, sent as it stands.  Decoding needs every backslash of the
// payload to begin one of the three escapes the writer makes, and a marked
// data-map record to begin with its quoted transaction id (so it has one).
#pragma once

#include <cstddef>
#include <string_view>

#include "base/error.h"
#include "base/memory.h"
#include "message/submission.h"

namespace zv {

inline constexpr char kLogMark = '\x1e';
inline constexpr char kLogMarkMessage = 'M';
inline constexpr char kLogMarkMapData = 'D';

/// The item between double quotes, with every '\\' and '"' inside it
/// preceded by a backslash.  Throws memory_exhausted.
Text log_encode_map_data(std::string_view item);

/// The data-map record, without line end: the transaction id unchanged
/// ("0" for nullptr), one blank, then the encoded items from index `first`
/// on, joined by single blanks; without items the line ends with the blank.
/// The items end at the end of the span or at a nullptr entry, whichever
/// comes first.  Throws memory_exhausted.
Text log_map_data_line(const char* transaction_id, Words items, std::size_t first);

/// The record of one submission.  `line()` is the log line without LF: the
/// message itself when it is logged as it stands (no copy of a large
/// message is made), else the text built here.
struct LogRecord {
  Text owned;
  std::string_view plain;  ///< the plain message; empty when `owned` holds the line
  std::string_view line() const { return plain.empty() ? std::string_view(owned) : plain; }
};

/// The record of `submission`, in the plain form when that carries it back
/// unchanged, else in the marked form.  Throws memory_exhausted.
LogRecord log_record(const Submission& submission);

/// True when a message is logged as it stands (plain form).
bool log_message_is_plain(std::string_view message);

/// The log line (without LF) for a message that could not be delivered.
/// Throws memory_exhausted.
Text log_message_record(std::string_view message);

/// The log line for a data-map submission: `transaction_id` (nullptr gives
/// "0") and the items from `first` on.  Throws memory_exhausted.
Text log_map_data_record(const char* transaction_id, Words items, std::size_t first);

enum class LogRecordKind {
  kMessage,        // plain line beginning with '<'
  kMapDataLine,    // any other plain line
  kMarkedMessage,  // the payload is the escaped message
  kMarkedMapData,  // the payload is the escaped data-map record, id quoted
};

/// The kind of a line read from the log; a marked line is one of the marked
/// kinds only when its payload can be decoded.  Linear in the line.
LogRecordKind log_record_kind(std::string_view line);

/// The payload of a marked line (after the mark and the kind letter) with
/// its escapes undone; a backslash before any other character stands for
/// that character.  Throws memory_exhausted.
Text log_unescape(std::string_view payload);

}  // namespace zv
