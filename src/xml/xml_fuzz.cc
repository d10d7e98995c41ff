#include "xml/xml_fuzz.h"

#include <cstdlib>
#include <string_view>

#include "xml/xml_parser.h"

namespace zv {
namespace {

bool attributes_equal(const Vec<Attribute>& first, const Vec<Attribute>& second) {
  if (first.size() != second.size()) return false;
  for (std::size_t i = 0; i < first.size(); ++i) {
    if (first[i].name != second[i].name || first[i].value != second[i].value) return false;
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

}  // namespace

bool parser_documents_equal(const Parser& first, const Parser& second) {
  if (first.tags.size() != second.tags.size()) return false;
  for (std::size_t i = 0; i < first.tags.size(); ++i) {
    const Tag& a = first.tags[i];
    const Tag& b = second.tags[i];
    if (a.name != b.name || a.data != b.data) return false;
    if (!attributes_equal(a.attributes, b.attributes)) return false;
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

    Parser bytes;
    parse_cut(bytes, text, nullptr);
    check(parser_documents_equal(whole, bytes));

    Parser pieces;
    PieceSizes sizes{seed_of(text)};
    parse_cut(pieces, text, &sizes);
    check(parser_documents_equal(whole, pieces));

    parser_clear(whole);
    parser_clear(bytes);
    parser_clear(pieces);
    check(memory_allocated == before);
  }
  return 0;
}

}  // namespace zv
