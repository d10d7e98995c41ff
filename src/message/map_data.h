// Data-map submissions: a transaction id and an ordered list of items (a
// client id, then data words) sent to the agent as the form parameters
// "transactionid" and one "mapdata" per item.
//
// The submission under way is described by the session's Arguments:
// `map_data_words` (set only while a submission is under way),
// `map_data_index` (the next word not yet used) and
// `map_data_transaction_id`.  The recovery log reads the same fields when a
// submission cannot be delivered, so they always describe what was sent.
#pragma once

#include "cli/session.h"
#include "message/map_data_split.h"
#include "transport/endpoint.h"

namespace zv {

/// Sends the submission that the record describes.  The word at
/// `map_data_index` becomes the transaction id when parse_int reads a
/// number from it (stored unchanged, index moved past it); otherwise the
/// record's transaction id stays and the word is an item.  Then as
/// map_data_send.
void map_data(Session& session, const Endpoint& endpoint);

/// Sends the record's transaction id and the words from `map_data_index`
/// on.  Without a transaction id the INVALID_MAP_DATA document names the
/// whole word vector and nothing is sent (no exit code).  An undeliverable
/// submission goes to the recovery log; when the parameter list cannot be
/// built (reported by the gate) nothing is sent or logged.  Does nothing
/// when `map_data_words` is not set.
void map_data_send(Session& session, const Endpoint& endpoint);

/// Splits `line` (changed in place; the caller must not use it afterwards)
/// and sends it with map_data, its first word being the transaction id.
/// A nullptr or empty line is ignored; a line whose word vector cannot be
/// made is skipped.  Afterwards the words are cleared from the record, the
/// index is -1 and the transaction id is the one the line found there: a
/// line without a number of its own uses the command line's
/// "--map-data-transaction-id", never an earlier line's.  The parser is
/// emptied for the next reply.
void map_data_line(Session& session, const Endpoint& endpoint, char* line);

/// As map_data_line, but the first word is the transaction id whatever it
/// holds: the recovery log's marked data-map records quote it, so that an id
/// that is not a number, or holds blanks, comes back as it was sent.
void map_data_record(Session& session, const Endpoint& endpoint, char* record);

/// Sends every line of the file named by `map_data_path`, in file order; a
/// failed line does not stop the others.  A file that cannot be opened is
/// reported with the error line and exit code 40.
void map_data_file(Session& session, const Endpoint& endpoint);

}  // namespace zv
