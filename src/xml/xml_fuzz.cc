#include "xml/xml_fuzz.h"

#include <cstdlib>
#include <string_view>

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

// Piece sizes must not depend on anything but the input, so a failure found
// once is found again from the same bytes.
struct PieceSizes {
  std::uint64_t state;
  std::size_t next() {
    state = state * 6364136223846793005u + 1442695040888963407u;
    std::size_t draw = static_cast<std::size_t>(state >> 33);
    // Mostly small pieces, now and then an empty one or a large one.
    switch (draw % 8) {
      case 0: return 0;
      case 1: return 64 + draw % 4096;
      default: return 1 + draw % 16;
    }
  }
};

std::uint64_t seed_of(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037u;
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211u;
  return hash;
}

void parse_cut(Parser& parser, std::string_view text, PieceSizes* sizes) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t length = sizes ? sizes->next() : 1;
    if (length > text.size() - at) length = text.size() - at;
    parse(parser, text.substr(at, length));
    at += length;
  }
}

void check(bool ok) {
  if (!ok) std::abort();
}

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

}  // namespace

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

int parser_fuzz_one(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
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
    PieceSizes sizes{seed_of(text)};
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
