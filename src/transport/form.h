// Form parameters of one request and their URL encoding.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/memory.h"

namespace zv {

/// One named parameter; name and value are borrowed from the caller.
struct Param {
  std::string_view name;
  std::string_view value;
};

/// The ordered parameters of one request; order of adding is wire order.
using ParamList = Vec<Param>;

/// Appends the encoded form of `text` to `out`: letters, digits and '-' as
/// they are, a blank as '+', every other byte as '%' and two uppercase hex
/// digits.  Throws memory_exhausted.
void http_encode(std::string_view text, Text& out);

/// Length of the form text of `list` (name=value pairs joined by '&').
std::size_t http_form_length(const ParamList& list);

/// Appends the form text of `list`, whose length http_form_length gave as
/// `form_length`, to `out`.  Throws memory_exhausted.
void http_append_form(const ParamList& list, std::size_t form_length, Text& out);

/// The form text of a list, produced piece by piece into room the caller
/// owns, so that a form of any length goes out through one buffer of
/// bounded size.  Borrows the list, which must outlive it.  Never allocates.
class FormPieces {
 public:
  explicit FormPieces(const ParamList& list) : list_(list) {}

  /// Writes the next bytes of the form text at `out`, at most `room` of
  /// them, and returns how many; 0 once the whole form has been written.
  /// An encoded byte is never split, so a piece may end up to two bytes
  /// short of `room`; a room of 3 bytes or more always takes something.
  std::size_t write(char* out, std::size_t room);

  /// True once every byte of the form text has been written.
  bool done() const { return index_ == list_.size(); }

 private:
  enum class Part { kSeparator, kName, kEquals, kValue };
  const ParamList& list_;
  std::size_t index_ = 0;
  Part part_ = Part::kSeparator;
  std::size_t offset_ = 0;  // into the current name or value
};

}  // namespace zv
