// Reading a large reply the way the reply handler feeds it: 32 KiB pieces
// cut at arbitrary places.  Each case reads 64 MiB; the time per iteration
// must stay well under a second and grow linearly with the size.
#include <string>

#include <benchmark/benchmark.h>

#include "xml/xml_parser.h"

namespace {

constexpr std::size_t kBody = std::size_t{64} << 20;
constexpr std::size_t kPiece = 32768;

// Ordinary agent replies: transactions of many small tags.
const std::string& many_small_tags() {
  static const std::string text = [] {
    std::string out;
    out.reserve(kBody + 512);
    for (long id = 0; out.size() < kBody; ++id) {
      out += "<?xml version=\"1.0\"?><transaction id=\"" + std::to_string(id) +
             "\">\n<header><method>Response</method><subclass>Order</subclass>"
             "<client>desk7</client></header>\n<data>\n"
             "  <field name=\"customer\">Someone Else</field>\n"
             "  <field name=\"amount\" currency='EUR'>1024.50</field>\n"
             "  <field name=\"note\">a short &amp; plain note</field>\n"
             "  <empty flag=\"1\"/>\n</data>\n</transaction>\n";
    }
    return out;
  }();
  return text;
}

// One start tag whose attribute value is the whole body.
const std::string& giant_tag() {
  static const std::string text = "<message body=\"" + std::string(kBody, 'v') + "\"></message>";
  return text;
}

// One data run that is the whole body.
const std::string& giant_data() {
  static const std::string text = "<message>" + std::string(kBody, 'd') + "</message>";
  return text;
}

void feed(benchmark::State& state, const std::string& text) {
  std::size_t tags = 0;
  for (auto _ : state) {
    zv::Parser parser;
    for (std::size_t at = 0; at < text.size(); at += kPiece) {
      zv::parse(parser, std::string_view(text).substr(at, kPiece));
    }
    tags = parser.tags.size();
    zv::parser_clear(parser);
  }
  state.counters["tags"] = static_cast<double>(tags);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_ParserManySmallTags(benchmark::State& state) { feed(state, many_small_tags()); }
void BM_ParserGiantTag(benchmark::State& state) { feed(state, giant_tag()); }
void BM_ParserGiantData(benchmark::State& state) { feed(state, giant_data()); }

BENCHMARK(BM_ParserManySmallTags)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ParserGiantTag)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ParserGiantData)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
