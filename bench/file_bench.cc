// The line reader's cost must grow linearly with the input: one very long
// line, and many short lines, per byte read.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "files/file.h"

namespace {

// A temporary input file, written once per benchmark and removed after it.
class Input {
 public:
  Input(std::size_t lines, std::size_t line_length) {
    char pattern[] = "/tmp/zv_bench_XXXXXX";
    int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    path_ = pattern;
    std::string line(line_length, 'x');
    line.push_back('\n');
    std::ofstream out(path_, std::ios::binary);
    for (std::size_t i = 0; i < lines; ++i) out << line;
    bytes_ = lines * line.size();
  }
  ~Input() { std::remove(path_.c_str()); }
  const char* path() const { return path_.c_str(); }
  std::size_t bytes() const { return bytes_; }

 private:
  std::string path_;
  std::size_t bytes_ = 0;
};

void read_everything(benchmark::State& state, std::size_t lines, std::size_t line_length) {
  Input input(lines, line_length);
  for (auto _ : state) {
    std::optional<zv::File> file = zv::file_open_read(input.path(), nullptr);
    std::size_t count = 0;
    while (zv::read_file(*file)) ++count;
    if (count != lines) state.SkipWithError("wrong line count");
    benchmark::DoNotOptimize(count);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.bytes()));
  state.counters["lines"] = static_cast<double>(lines);
}

void BM_SingleLine(benchmark::State& state) {
  read_everything(state, 1, static_cast<std::size_t>(state.range(0)));
}
void BM_ShortLines(benchmark::State& state) {
  read_everything(state, static_cast<std::size_t>(state.range(0)), 80);
}

BENCHMARK(BM_SingleLine)
    ->Arg(25'000'000)
    ->Arg(100'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_ShortLines)->Arg(50'000)->Arg(200'000)->Unit(benchmark::kMillisecond);

}  // namespace
