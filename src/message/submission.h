// One submission to the agent, as a value: a message, or a data-map
// transaction id with its items.  It travels from the operation that makes
// it to the request and, when it cannot be delivered, to the recovery log.
#pragma once

#include <string_view>

#include "base/error.h"
#include "transport/form.h"

namespace zv {

/// Borrows every text; the caller keeps them alive while it is used.
struct Submission {
  enum class Kind { kMessage, kMapData };
  Kind kind = Kind::kMessage;
  /// The message text (kMessage).
  std::string_view message;
  /// The transaction id, NUL-terminated, and the items in order (kMapData).
  const char* transaction_id = nullptr;
  Words items;
};

/// A message submission.
Submission message_submission(std::string_view message);

/// A data-map submission of `items` up to the first nullptr entry, if any.
Submission map_data_submission(const char* transaction_id, Words items);

/// The request's form parameters: "message", or "transactionid" followed by
/// one "mapdata" per item.  The list borrows the submission's texts.
/// Throws memory_exhausted.
ParamList submission_params(const Submission& submission);

}  // namespace zv
