#include "message/xml_encode.h"

namespace zv {

namespace {

// The entity that stands for `c`, or an empty view for a byte kept as is.
std::string_view xml_entity(char c) {
  switch (c) {
    case '"': return "&quot;";
    case '&': return "&amp;";
    case '\'': return "&apos;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    default: return {};
  }
}

}  // namespace

std::size_t xml_encoded_size(std::string_view text) {
  std::size_t size = 0;
  for (char c : text) {
    std::size_t entity = xml_entity(c).size();
    size += entity == 0 ? 1 : entity;
  }
  return size;
}

void xml_encode_append(std::string_view text, Text& out) {
  // Runs of plain bytes are copied whole rather than byte by byte.
  std::size_t plain = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::string_view entity = xml_entity(text[i]);
    if (entity.empty()) continue;
    out.append(text.substr(plain, i - plain)).append(entity);
    plain = i + 1;
  }
  out.append(text.substr(plain));
}

Text xml_encode(std::string_view text) {
  Text out;
  out.reserve(xml_encoded_size(text));
  xml_encode_append(text, out);
  return out;
}

}  // namespace zv
