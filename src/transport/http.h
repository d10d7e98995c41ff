// One HTTP/1.0 request/reply exchange with the agent.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string_view>

#include "base/memory.h"
#include "transport/endpoint.h"
#include "transport/form.h"

namespace zv {

enum HttpMethod : int { kHttpPost = 1, kHttpGet = 2 };

/// Where the exchange hands the reply, as it arrives.  The exchange owns
/// the protocol (header end, body length, limits); the sink decides what
/// the reply means and what becomes of it.
class ReplySink {
 public:
  virtual ~ReplySink() = default;
  /// The reply's header, everything up to and including the empty line
  /// (or as much as arrived, when it never ended), and the body length it
  /// announces, if any.
  virtual void header(std::string_view bytes, std::optional<std::uint64_t> body_length) = 0;
  /// The next piece of the body.
  virtual void body(std::string_view piece) = 0;
  /// The reply is over.  `cut` is empty for a whole reply; otherwise it
  /// says why the reply is not whole.
  virtual void end(std::string_view cut) = 0;
  /// False once more body would change nothing; the exchange stops reading.
  virtual bool wants_body() const = 0;
};

/// Connects, writes the request, reads the reply until the agent closes the
/// connection (or the body reaches its Content-Length) and hands it to
/// `sink`.  True when the agent answered, that is when the reply's status
/// line arrived whole, whatever the status and whatever came after it;
/// false when the exchange could not be made or the agent gave no status
/// line (closed, reset, or silent past the time limit).  Nothing is
/// reported here: `failure` then says why, as the detail of a
/// COMMUNICATIONS_FAILURE report (a text of static storage), or is empty
/// when memory ran out (which the memory gate has reported).
bool http_query(const Endpoint& endpoint, const ParamList* list, HttpMethod method, ReplySink& sink,
                std::string_view& failure);

}  // namespace zv
