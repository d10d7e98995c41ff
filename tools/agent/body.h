// Reply bytes produced in order, so that a reply of many megabytes is written
// without ever being held whole; and the generated ZVXML body of a given size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zvagent {

/// The bytes of one reply, as a sequence of parts read once from the front.
class ReplyStream {
 public:
  /// Appends `text` once (joined to a preceding text, so it leaves in the
  /// same write).
  void add(std::string text);
  /// Appends `unit` repeated `count` times (held once, however large count is).
  void add_repeated(std::string_view unit, std::uint64_t count);

  /// Total number of bytes.
  std::uint64_t size() const { return size_; }
  /// The next bytes, at most `max`; empty at the end.  The view lasts until
  /// the next call.
  std::string_view next(std::uint64_t max);

 private:
  struct Part {
    std::string text;      // one whole number of units
    std::uint64_t length;  // bytes this part gives, a multiple of the unit
  };
  std::vector<Part> parts_;
  std::size_t part_ = 0;
  std::uint64_t offset_ = 0;  // within parts_[part_]
  std::uint64_t size_ = 0;
};

/// Smallest size `bulk_body` can make.
std::uint64_t bulk_minimum();

/// Appends a one-line ZVXML transaction (method "Response", subclass "Bulk")
/// of exactly `size` bytes to `stream`: a <pad> element sized to fit, then
/// repeated 64-byte <line> elements.  `size` must be at least bulk_minimum().
void bulk_body(ReplyStream& stream, std::uint64_t size);

}  // namespace zvagent
