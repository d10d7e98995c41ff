#include "xml/xml_document.h"

namespace zv {

namespace {

std::string_view view(const Parser& parser, TextSpan span) {
  return {parser.text.data() + span.at, span.length};
}

}  // namespace

void parser_clear(Parser& parser) {
  // Swapping with an empty container gives the block back (the gate wipes
  // it); clear() alone would keep the text's bytes in a live block.
  parser.tags.clear();
  parser.attributes.clear();
  Text().swap(parser.text);
  parser.position = 0;
  parser.scan = ParserScan{};
  parser.scope = ParseScope::kAll;
  parser.asked = {};
  parser.settled = false;
  parser.text_goal = 0;
  parser.text_bound = 0;
}

std::string_view tag_name(const Parser& parser, const Tag& tag) { return view(parser, tag.name); }

std::optional<std::string_view> tag_data(const Parser& parser, const Tag& tag) {
  if (tag.data.length == 0) return std::nullopt;
  return view(parser, tag.data);
}

ChunkList<Attribute>::Range tag_attributes(const Parser& parser, const Tag& tag) {
  return parser.attributes.range(tag.first_attribute, tag.attribute_count);
}

std::string_view attribute_name(const Parser& parser, const Attribute& attribute) {
  return view(parser, attribute.name);
}

std::string_view attribute_value(const Parser& parser, const Attribute& attribute) {
  return view(parser, attribute.value);
}

const Tag* parser_get_tag(const Parser& parser, std::string_view name) {
  for (const Tag& tag : parser.tags) {
    if (name.starts_with(tag_name(parser, tag))) return &tag;
  }
  return nullptr;
}

const Attribute* tag_get_attribute(const Parser& parser, const Tag& tag, std::string_view name) {
  for (const Attribute& attribute : tag_attributes(parser, tag)) {
    if (name.starts_with(attribute_name(parser, attribute))) return &attribute;
  }
  return nullptr;
}

bool tag_equals(const Parser& parser, std::string_view name, std::string_view value,
                std::optional<std::string_view> stop) {
  for (const Tag& tag : parser.tags) {
    std::optional<std::string_view> data = tag_data(parser, tag);
    if (!data) continue;
    std::string_view tag_name_text = tag_name(parser, tag);
    if (stop && tag_name_text == *stop) return false;
    if (tag_name_text.starts_with(name) && *data == value) return true;
  }
  return false;
}

}  // namespace zv
