// Form parameters of one request and their URL encoding.
#pragma once

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

/// Appends the form text of `list` to `out`.  Throws memory_exhausted.
void http_append_form(const ParamList& list, Text& out);

}  // namespace zv
