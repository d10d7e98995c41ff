// Reading one request off a connection, taking it apart, and decoding form text.
//
// Framing follows the client: header lines end with LF (a CR before it is
// allowed), the header ends with an empty line, and a body is exactly
// Content-Length bytes.  The client sends one more LF after a POST body that
// it does not count; it is read when it comes promptly, and recorded, but is
// never part of the body.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "io.h"

namespace zvagent {

/// The bytes of one request exactly as received, and where its parts lie.
struct RawRequest {
  std::string bytes;            ///< everything read from the connection, in order
  bool complete = false;        ///< header and the whole body arrived
  std::size_t body_start = 0;   ///< index of the first body byte (valid when complete)
  std::size_t body_length = 0;  ///< the Content-Length (0 without one)
  bool early = false;           ///< read up to the header's end only (the body may be short)
};

/// Reads one request from the non-blocking connection `fd`.  Stops at the
/// end of the request (its header and Content-Length bytes of body), at end
/// of stream, at `deadline`, on a stop request, or when the request grows
/// beyond `limit` bytes; `complete` tells which.  With `header_only`, a
/// complete header is enough: the request counts as complete with whatever
/// part of the body came with it (`early` set).
RawRequest request_read(int fd, Clock::time_point deadline, std::size_t limit,
                        bool header_only = false);

/// A request taken apart.  Texts are copies; nothing is decoded yet.
struct Request {
  std::string method;
  std::string path;   ///< request target up to '?'
  std::string query;  ///< after the first '?' (empty without one)
  std::vector<std::pair<std::string, std::string>> headers;  ///< name, value (trimmed)
  std::string body;
};

/// Parses a complete request.  Returns nothing when it is incomplete or its
/// request line lacks a method or a target.
std::optional<Request> request_parse(const RawRequest& raw);

/// Ordered name/value pairs of form text.
using Form = std::vector<std::pair<std::string, std::string>>;

/// Decodes "name=value&..." text: '+' is a blank and %XX a byte, in names and
/// values alike; a '%' not followed by two hex digits stays as it is; a pair
/// without '=' has an empty value.  An empty text gives no pairs.
Form form_decode(std::string_view text);

/// The value of the first pair called `name`, or nullptr.
const std::string* form_find(const Form& form, std::string_view name);

/// Index just past the empty line that ends the header of `text`, or
/// npos when there is none.  An empty line is one holding nothing but CRs.
std::size_t header_end(std::string_view text);

}  // namespace zvagent
