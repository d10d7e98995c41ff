// Data-map submissions: a transaction id and an ordered list of items (a
// client id, then data words) sent to the agent as the form parameters
// "transactionid" and one "mapdata" per item.
#pragma once

#include "operations/exchange.h"
#include "operations/session.h"
#include "transport/endpoint.h"

namespace zv {

/// Sends the submission of the command line's "--map-data" words.  The
/// first of them becomes the transaction id when parse_int reads a number
/// from it; otherwise "--map-data-transaction-id" (default 1) is the id and
/// every word is an item.
void map_data(Session& session, const Endpoint& endpoint);

/// Splits `line` (changed in place; the caller must not use it afterwards)
/// into words and sends them by the same rule, the id falling back to
/// "--map-data-transaction-id" (none when it was not given).  Without a
/// transaction id the INVALID_MAP_DATA document names the line's words and
/// nothing is sent (no exit code).  A nullptr or empty line is ignored; a
/// line whose words cannot be made is skipped.  An undeliverable submission
/// goes to the recovery log.  The parser is emptied for the next reply.
/// Says what became of the line (kInvalid: no submission was sent).
Outcome map_data_line(Session& session, const Endpoint& endpoint, char* line);

/// As map_data_line, but the first word is the transaction id whatever it
/// holds: the recovery log's marked data-map records quote it, so that an id
/// that is not a number, or holds blanks, comes back as it was sent.
Outcome map_data_record(Session& session, const Endpoint& endpoint, char* record);

/// Sends every line of the file named by `map_data_path`, in file order; a
/// failed line does not stop the others.  A file that cannot be opened is
/// reported with the error line and exit code 40.
void map_data_file(Session& session, const Endpoint& endpoint);

}  // namespace zv
