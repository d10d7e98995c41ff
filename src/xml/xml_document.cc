#include "xml/xml_document.h"

namespace zv {

void parser_clear(Parser& parser) {
  // Swapping with empty containers gives the blocks back (the gate wipes
  // them); clear() alone would keep the text's bytes in a live block.
  Vec<Tag>().swap(parser.tags);
  Vec<char>().swap(parser.text);
  parser.position = 0;
  parser.scan = ParserScan{};
}

const Tag* parser_get_tag(const Parser& parser, std::string_view name) {
  for (const Tag& tag : parser.tags) {
    if (tag.name && name.starts_with(*tag.name)) return &tag;
  }
  return nullptr;
}

bool tag_exists(const Parser& parser, std::string_view name) {
  return parser_get_tag(parser, name) != nullptr;
}

const Attribute* tag_get_attribute(const Tag& tag, std::string_view name) {
  for (const Attribute& attribute : tag.attributes) {
    if (name.starts_with(attribute.name)) return &attribute;
  }
  return nullptr;
}

bool tag_equals(const Parser& parser, std::string_view name, std::string_view value,
                std::optional<std::string_view> stop) {
  for (const Tag& tag : parser.tags) {
    if (!tag.name || !tag.data) continue;
    std::string_view tag_name = *tag.name;
    if (stop && tag_name == *stop) return false;
    if (tag_name.starts_with(name) && std::string_view(*tag.data) == value) return true;
  }
  return false;
}

void parser_display(const Parser& parser, std::FILE* stream) {
  for (const Tag& tag : parser.tags) {
    const char* name = tag.name ? tag.name->c_str() : "";
    std::fprintf(stream, "<%s", name);
    for (const Attribute& attribute : tag.attributes) {
      std::fprintf(stream, " %s='%s'", attribute.name.c_str(), attribute.value.c_str());
    }
    if (tag.data) {
      std::fprintf(stream, ">%s</%s>\n", tag.data->c_str(), name);
    } else {
      std::fputs(" />\n", stream);
    }
  }
}

}  // namespace zv
