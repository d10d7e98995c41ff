// Reading one HTTP reply as its bytes arrive: the status line, interim
// (1xx) replies, the header, and the body framed by Content-Length, by
// chunks, or by the close of the connection.  Nothing is kept without
// bound, and the body is handed on decoded, never with its framing.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/memory.h"

namespace zv {

/// Where the exchange hands the reply, as it arrives.  The exchange owns
/// the protocol (status line, header end, body framing, limits); the sink
/// decides what the reply means and what becomes of it.
class ReplySink {
 public:
  virtual ~ReplySink() = default;
  /// The final reply's header, everything up to and including the empty
  /// line (or as much as arrived, when it never ended), its status code
  /// (from a well-formed status line: 200 to 599) and the body length it
  /// announces, if any.
  virtual void header(std::string_view bytes, std::int32_t status_code,
                      std::optional<std::uint64_t> body_length) = 0;
  /// The next piece of the body, decoded.
  virtual void body(std::string_view piece) = 0;
  /// The reply is over.  `cut` is empty for a whole reply; otherwise it
  /// says why the reply is not whole.
  virtual void end(std::string_view cut) = 0;
  /// False once more body would change nothing; the exchange stops reading.
  virtual bool wants_body() const = 0;
};

/// The code of a status line (without its line end): "HTTP/" digit "."
/// digit, a blank, three digits from 100 to 599, then the end of the line
/// or a blank and the reason.  nullopt for anything else, a NUL included.
std::optional<std::int32_t> http_status_code(std::string_view status_line);

/// True for the statuses that say the agent may take the submission later
/// rather than refuse it: a redirect (3xx), 408, 429, and every 5xx.
bool http_status_means_later(std::int32_t code);

/// Why a reply is not written, as COMMUNICATIONS_FAILURE details.
inline constexpr std::string_view kReplyCut =
    "The reply of the agent ended before it was complete.";
inline constexpr std::string_view kReplyTooLarge =
    "The reply of the agent is larger than the client accepts.";
inline constexpr std::string_view kReplyNotHttp = "The reply of the agent is not an HTTP reply.";

/// One reply, fed with the bytes of the connection in order.
class ReplyReader {
 public:
  /// The longest header kept, and the largest body (decoded).
  static constexpr std::size_t kMaxHeader = std::size_t{64} << 10;
  static constexpr std::uint64_t kMaxBody = std::uint64_t{256} << 20;

  explicit ReplyReader(ReplySink& sink) : sink_(sink) {}

  /// Takes the next bytes; false once no more are wanted: the reply is
  /// over (its body complete, a part outgrew its limit, its framing is
  /// broken), it is not an HTTP reply, or the sink wants no more body.
  /// Throws memory_exhausted.
  bool feed(std::string_view bytes);

  /// True once a final status line (not 1xx) has arrived whole: the agent
  /// answered.
  bool answered() const { return answered_; }
  /// True when the first line is not an HTTP status line.
  bool not_http() const { return not_http_; }

  /// The reply is over: `closed` when the agent closed the connection,
  /// false when reading failed or stopped early.  A reply counts as whole
  /// when its body reached the announced length or its last chunk, or,
  /// with neither, when the agent closed the connection after the header.
  /// Tells the sink, when the agent answered.
  void finish(bool closed);

 private:
  enum class Phase { kHeader, kBody, kChunkSize, kChunkData, kChunkEnd, kTrailer, kDone };

  bool feed_header(std::string_view& bytes);
  bool feed_body(std::string_view& bytes);
  bool feed_chunked(std::string_view& bytes);
  bool take_body(std::string_view piece);
  bool take_line(std::string_view& bytes);
  std::optional<std::uint64_t> chunk_size() const;

  ReplySink& sink_;
  Phase phase_ = Phase::kHeader;
  Text header_;
  Text line_;  // the chunk-size or trailer line being read
  bool line_end_ = false;
  bool header_done_ = false;
  // Where the first line of header_ ends (its LF), once it has one.
  std::size_t status_line_length_ = std::string_view::npos;
  bool status_checked_ = false;
  bool chunked_ = false;
  bool answered_ = false;
  bool not_http_ = false;
  bool too_large_ = false;
  bool broken_ = false;
  std::int32_t status_ = 0;
  std::uint64_t body_size_ = 0;
  std::uint64_t trailer_size_ = 0;
  // Of the body (an announced length) or of the current chunk.
  std::optional<std::uint64_t> remaining_;
};

}  // namespace zv
