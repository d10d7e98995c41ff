// The two halves of an exchange with a large payload, without the network:
// encoding a message's form text piece by piece into one request buffer as
// a POST sends it, and taking a reply body through the reply handler the
// way the exchange feeds it (32 KiB pieces; for a retrieval, with and
// without an announced Content-Length, and for a status query).  The first
// argument is the payload in MiB; 64 MiB must take about four times as long
// as 16 MiB: no piece is copied or scanned again once handled.
#include <fcntl.h>

#include <cstdio>
#include <optional>
#include <string>

#include <benchmark/benchmark.h>

#include "files/output.h"
#include "operations/reply.h"
#include "operations/session.h"
#include "transport/form.h"
#include "xml/xml_document.h"

namespace {

constexpr std::size_t kMaxMiB = 64;
constexpr std::size_t kPiece = 32768;

// `piece` repeated to exactly kMaxMiB MiB.
std::string repeated(const std::string& piece) {
  const std::size_t size = kMaxMiB << 20;
  std::string out;
  out.reserve(size);
  while (out.size() + piece.size() <= size) out += piece;
  out.append(piece, 0, size - out.size());
  return out;
}

// The first `state.range(0)` MiB of `text`.
std::string_view payload(const benchmark::State& state, const std::string& text) {
  return std::string_view(text).substr(0, static_cast<std::size_t>(state.range(0)) << 20);
}

// Markup, blanks and words: about a fifth of the bytes are encoded as three.
const std::string& message() {
  static const std::string text =
      repeated("<field name=\"host\">db1 disk full 42% on /var</field>");
  return text;
}

// An ordinary response, over and over: many small tags for the parser.
const std::string& reply_body() {
  static const std::string text = repeated(
      "<transaction><header><method>Response</method><subclass>Order</subclass>"
      "<client>c</client></header><data><field name=\"amount\">1024.50</field>"
      "</data></transaction>\n");
  return text;
}

void BM_StreamForm(benchmark::State& state) {
  std::string_view value = payload(state, message());
  zv::ParamList list;
  list.push_back({"message", value});
  std::string buffer(std::size_t{256} << 10, '\0');
  std::size_t form_size = 0;
  for (auto _ : state) {
    std::size_t length = zv::http_form_length(list);
    zv::FormPieces form(list);
    form_size = 0;
    while (std::size_t n = form.write(buffer.data(), buffer.size())) {
      benchmark::DoNotOptimize(buffer.data());
      form_size += n;
    }
    if (form_size != length) state.SkipWithError("the form is not its announced length");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * value.size()));
  state.counters["form_MiB"] = static_cast<double>(form_size) / (1 << 20);
}

void BM_ReplyHandler(benchmark::State& state) {
  std::string_view body = payload(state, reply_body());
  zv::Output sink(::open("/dev/null", O_WRONLY | O_CLOEXEC), true);
  const long mode = state.range(1);  // 0: no length, 1: Content-Length, 2: status query
  std::optional<std::uint64_t> announced;
  if (mode != 0) announced = body.size();
  std::size_t tags = 0;
  for (auto _ : state) {
    zv::Arguments arguments;
    arguments.response_client = "c";
    arguments.status_query = mode == 2;
    zv::Parser parser;
    zv::Session session{arguments, parser, &sink};
    zv::ReplyHandler handler(session);
    handler.header("HTTP/1.0 200 OK\r\n\r\n", 200, announced);
    for (std::size_t at = 0; at < body.size(); at += kPiece) {
      handler.body(body.substr(at, kPiece));
    }
    handler.end({});
    tags = parser.tags.size();
    if (session.response_count != 1) state.SkipWithError("the reply was not written");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
  state.counters["tags"] = static_cast<double>(tags);
}

}  // namespace

BENCHMARK(BM_StreamForm)->Arg(16)->Arg(kMaxMiB)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplyHandler)
    ->ArgsProduct({{16, kMaxMiB}, {0, 1, 2}})
    ->ArgNames({"MiB", "mode"})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
