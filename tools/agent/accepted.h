// The record of the submissions that the agent took: one line per POST that
// got a whole, truthful reply with status 200, holding the request's form
// body exactly as received (URL-encoded text, so one line each).  A request
// that got a fault or a cut, endless or mis-announced reply is not in it.
#pragma once

#include <string>
#include <string_view>

#include "io.h"

namespace zvagent {

class AcceptedRecord {
 public:
  /// Opens (creating it when missing) the file `path` for appending; an
  /// empty path records nothing.  False when the file cannot be opened.
  bool open(const std::string& path);
  /// Appends `body` and a line end in one write.  False when the record is
  /// open and the line could not be written whole.
  bool add(std::string_view body);

 private:
  Fd file_;
};

}  // namespace zvagent
