// The ways the agent ends a connection.
#pragma once

#include <chrono>

#include "io.h"

namespace zvagent {

/// Says the agent is done (a FIN), reads what the peer still sends for at
/// most `drain`, then closes: closing while unread bytes wait would reset
/// the connection and could cost the peer the end of the reply.
void close_orderly(Fd& connection, std::chrono::milliseconds drain);

/// Closes with a reset (RST) instead of the usual close.
void close_reset(Fd& connection);

/// Keeps the connection open until the peer closes or resets it, `limit`
/// passes, or a stop is requested; then closes it.  With `reading`, what
/// the peer sends is read and thrown away; without, nothing is read and only
/// the peer's close is watched for.
void hold_until_closed(Fd& connection, bool reading, std::chrono::milliseconds limit);

}  // namespace zvagent
