// URL encoding of one 64 MiB value: a message made of XML markup and words,
// and the worst case in which every byte becomes three.
#include <string>

#include <benchmark/benchmark.h>

#include "transport/form.h"

namespace {

constexpr std::size_t kValueSize = std::size_t{64} << 20;

std::string message_value() {
  const std::string piece = "<field name=\"client\">ops team 42</field>\n";
  std::string value;
  value.reserve(kValueSize);
  while (value.size() + piece.size() <= kValueSize) value += piece;
  value.resize(kValueSize, 'x');
  return value;
}

void run(benchmark::State& state, const std::string& value) {
  for (auto _ : state) {
    zv::Text out;
    zv::http_encode(value, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * value.size()));
}

void BM_EncodeMessage64MiB(benchmark::State& state) { run(state, message_value()); }
void BM_EncodeAllEscaped64MiB(benchmark::State& state) { run(state, std::string(kValueSize, '<')); }

}  // namespace

BENCHMARK(BM_EncodeMessage64MiB)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_EncodeAllEscaped64MiB)->Unit(benchmark::kMillisecond)->Iterations(5);
