// The mapping-file submission: one ZVXML transaction built from the
// name=value lines of a mapping file, submitted as one message.
#pragma once

#include "operations/session.h"
#include "transport/endpoint.h"

namespace zv {

/// Builds the transaction from every line of the file named by
/// `mapping_path` (a last line without line end included) and submits it:
/// one file, one transaction, also when the file holds no line.
///
/// A file that cannot be opened gives the error line "Submit mapping file
/// could not be opened." and exit code 40.  When memory runs out while the
/// file is read or the document built (reported by the gate, exit code 30),
/// nothing is sent.  `message` points at the document only while it is
/// being submitted and is nullptr afterwards.
void submit_mapping_file(Session& session, const Endpoint& endpoint);

}  // namespace zv
