// Splitting a file's text into lines and joining them with CR LF, in bytes
// per second of the text, over the line-end styles and line lengths of real
// SYLK files. Run: build-release/bench/LinesBenchmark
#include <benchmark/benchmark.h>

#include <string>

#include "support/LineList.h"

namespace {

// About 8 MB of lines of the given length, each ended by Break ("" mixes all three).
std::string Text(size_t LineLength, const std::string& Break) {
  static const char* const Mixed[] = {"\r\n", "\n", "\r"};
  std::string Text;
  for (size_t Line = 0; Text.size() < (8u << 20); ++Line) {
    Text.append(LineLength, static_cast<char>('A' + Line % 26));
    Text += Break.empty() ? Mixed[Line % 3] : Break;
  }
  return Text;
}

void Split(benchmark::State& State, size_t LineLength, std::string Break) {
  std::string Bytes = Text(LineLength, Break);
  LineList Lines;
  for (auto _ : State) {
    Lines.SplitLines(Bytes);
    benchmark::DoNotOptimize(Lines.Count());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * Bytes.size()));
}

// The join rewrites the list's own text, so each round splits it anew first.
void Join(benchmark::State& State, size_t LineLength, std::string Break) {
  std::string Bytes = Text(LineLength, Break);
  LineList Lines;
  for (auto _ : State) {
    State.PauseTiming();
    Lines.SplitLines(Bytes);
    Lines.Put(0, "ID;PSCALC3");
    State.ResumeTiming();
    benchmark::DoNotOptimize(Lines.JoinLines());
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * Bytes.size()));
}

}  // namespace

BENCHMARK_CAPTURE(Split, short_lf, 20, "\n");
BENCHMARK_CAPTURE(Split, short_crlf, 20, "\r\n");
BENCHMARK_CAPTURE(Split, short_cr, 20, "\r");
BENCHMARK_CAPTURE(Split, short_mixed, 20, "");
BENCHMARK_CAPTURE(Split, long_lf, 2000, "\n");
BENCHMARK_CAPTURE(Split, long_crlf, 2000, "\r\n");
BENCHMARK_CAPTURE(Join, short_lf, 20, "\n");
BENCHMARK_CAPTURE(Join, short_crlf, 20, "\r\n");
BENCHMARK_CAPTURE(Join, short_cr, 20, "\r");
BENCHMARK_CAPTURE(Join, short_mixed, 20, "");
BENCHMARK_CAPTURE(Join, long_lf, 2000, "\n");
BENCHMARK_CAPTURE(Join, long_crlf, 2000, "\r\n");
BENCHMARK_MAIN();
