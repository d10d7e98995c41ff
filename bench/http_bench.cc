// The two halves of an exchange with a large payload, without the network:
// building the request text for a message, and taking a reply body through
// the reply handler the way the exchange feeds it (32 KiB pieces).  The
// argument is the payload in MiB; 64 MiB must take about four times as long
// as 16 MiB: no piece is copied or scanned again once handled.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "cli/arguments.h"
#include "cli/reply.h"
#include "files/file.h"
#include "cli/session.h"
#include "transport/endpoint.h"
#include "transport/form.h"
#include "transport/http.h"
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

void BM_BuildRequest(benchmark::State& state) {
  std::string_view value = payload(state, message());
  zv::Endpoint endpoint{zv::Text("localhost"), 2010, zv::Text("/agent"), {}};
  zv::ParamList list;
  list.push_back({"message", value});
  std::size_t request_size = 0;
  for (auto _ : state) {
    zv::Text request = zv::http_build_request(endpoint, &list, zv::kHttpPost, std::time(nullptr));
    request_size = request.size();
    benchmark::DoNotOptimize(request.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * value.size()));
  state.counters["request_MiB"] = static_cast<double>(request_size) / (1 << 20);
}

void BM_ReplyHandler(benchmark::State& state) {
  std::string_view body = payload(state, reply_body());
  std::optional<zv::File> sink = zv::file_open_write("/dev/null", nullptr);
  if (!sink) {
    state.SkipWithError("cannot open /dev/null");
    return;
  }
  std::size_t tags = 0;
  for (auto _ : state) {
    zv::Arguments arguments;
    arguments.response_client = "c";
    zv::Parser parser;
    zv::Session session{arguments, parser, &*sink};
    zv::ReplyHandler handler(session);
    handler.header("HTTP/1.0 200 OK\r\n\r\n", std::nullopt);
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

BENCHMARK(BM_BuildRequest)->Arg(16)->Arg(kMaxMiB)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplyHandler)->Arg(16)->Arg(kMaxMiB)->Iterations(3)->Unit(benchmark::kMillisecond);
