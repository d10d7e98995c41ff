#include <string>
#include <string_view>

#include "base/memory.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"
#include "message/xml_encode.h"
#include "transport/form.h"

namespace zv {

namespace {

using fuzz::check;

bool is_kept(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

std::string reference_form_encode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (is_kept(c)) {
      out += c;
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[byte / 16];
      out += kHex[byte % 16];
    }
  }
  return out;
}

// Something already in the text that the encoders append to must stay.
constexpr std::string_view kPrefix = "kept&";

void check_form(std::string_view bytes) {
  Text encoded(kPrefix);
  http_encode(bytes, encoded);
  check(std::string_view(encoded) == std::string(kPrefix) + reference_form_encode(bytes));

  // Names go out as they are, values encoded; the pairs alternate between
  // the NUL bytes, and a name without a value has an empty one.
  auto pieces = fuzz::split_at(bytes, '\0');
  ParamList list;
  std::string expected;
  for (std::size_t i = 0; i < pieces.size(); i += 2) {
    std::string_view value = i + 1 < pieces.size() ? pieces[i + 1] : std::string_view();
    list.push_back({pieces[i], value});
    if (i > 0) expected += '&';
    expected.append(pieces[i]).append("=").append(reference_form_encode(value));
  }
  check(http_form_length(list) == expected.size());
  check(http_form_length(ParamList()) == 0);
  Text form(kPrefix);
  http_append_form(list, http_form_length(list), form);
  check(std::string_view(form) == std::string(kPrefix) + expected);
}

void check_xml(std::string_view bytes) {
  std::string expected = fuzz::reference_xml_escape(bytes);
  check(xml_encoded_size(bytes) == expected.size());
  check(std::string_view(xml_encode(bytes)) == expected);
  Text appended(kPrefix);
  xml_encode_append(bytes, appended);
  check(std::string_view(appended) == std::string(kPrefix) + expected);
}

}  // namespace

int encode_fuzz_one(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes = fuzz::bytes_of(data, size);
  std::size_t before = memory_allocated;
  check_form(bytes);
  check_xml(bytes);
  check(memory_allocated == before);
  return 0;
}

}  // namespace zv
