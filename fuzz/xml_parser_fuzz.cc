#include <string_view>

#include "base/memory.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"
#include "xml/xml_document.h"
#include "xml/xml_parser.h"

namespace zv {
namespace {

bool attributes_equal(const Parser& first, const Tag& a, const Parser& second, const Tag& b) {
  auto first_list = tag_attributes(first, a);
  auto second_list = tag_attributes(second, b);
  if (first_list.size() != second_list.size()) return false;
  auto other = second_list.begin();
  for (const Attribute& attribute : first_list) {
    if (attribute_name(first, attribute) != attribute_name(second, *other) ||
        attribute_value(first, attribute) != attribute_value(second, *other)) {
      return false;
    }
    ++other;
  }
  return true;
}

void parse_cut(Parser& parser, std::string_view text, fuzz::PieceSizes* sizes) {
  fuzz::for_each_piece(text, sizes, [&](std::string_view piece) { parse(parser, piece); });
}

using fuzz::check;

bool inside(const Parser& parser, TextSpan span) {
  return span.at <= parser.text.size() && span.length <= parser.text.size() - span.at;
}

// Every record refers to bytes the parser holds, and each tag's attributes
// are in the list.
bool records_inside(const Parser& parser) {
  for (const Tag& tag : parser.tags) {
    if (!inside(parser, tag.name) || !inside(parser, tag.data)) return false;
    if (tag.first_attribute > parser.attributes.size() ||
        tag.attribute_count > parser.attributes.size() - tag.first_attribute) {
      return false;
    }
  }
  for (const Attribute& attribute : parser.attributes) {
    if (!inside(parser, attribute.name) || !inside(parser, attribute.value)) return false;
  }
  return true;
}

// Whether two documents hold the same tags: names, data and attributes, in
// the same order.
bool parser_documents_equal(const Parser& first, const Parser& second) {
  if (first.tags.size() != second.tags.size()) return false;
  for (std::size_t i = 0; i < first.tags.size(); ++i) {
    const Tag& a = first.tags[i];
    const Tag& b = second.tags[i];
    if (tag_name(first, a) != tag_name(second, b) || tag_data(first, a) != tag_data(second, b)) {
      return false;
    }
    if (!attributes_equal(first, a, second, b)) return false;
  }
  return true;
}

}  // namespace

int xml_parser_fuzz_one(const std::uint8_t* data, std::size_t size) {
  std::string_view text = fuzz::bytes_of(data, size);
  std::size_t before = memory_allocated;
  {
    Parser whole;
    parse(whole, text);
    check(whole.position <= whole.text.size());
    check(records_inside(whole));

    Parser bytes;
    parse_cut(bytes, text, nullptr);
    check(parser_documents_equal(whole, bytes));

    Parser pieces;
    fuzz::PieceSizes sizes(text);
    parse_cut(pieces, text, &sizes);
    check(records_inside(pieces));
    check(parser_documents_equal(whole, pieces));

    parser_clear(whole);
    parser_clear(bytes);
    parser_clear(pieces);
    check(memory_allocated == before);
  }
  return 0;
}

}  // namespace zv
