// The streaming rewrite of a text, in 1 MiB pieces as a file is read, in
// bytes per second of the text, over the line-end styles and line lengths of
// real SYLK files. Run: build-release/bench/LinesBenchmark
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "support/LineRewriter.h"

namespace {

constexpr size_t Piece = 1 << 20;

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

void Rewrite(benchmark::State& State, size_t LineLength, std::string Break) {
  std::string Bytes = Text(LineLength, Break);
  // The pieces as a read leaves them: each followed by a NUL.
  std::string Pieces;
  for (size_t At = 0; At < Bytes.size(); At += Piece) Pieces.append(Bytes, At, Piece).push_back('\0');
  std::unique_ptr<char[]> Out(new char[2 * Piece + 34]);
  for (auto _ : State) {
    TLineRewriter Lines;
    for (size_t At = 0; At < Pieces.size(); At += Piece + 1) {
      size_t Size = std::min(Piece, Pieces.size() - At - 1);
      benchmark::DoNotOptimize(Lines.Take({Pieces.data() + At, Size}, Out.get()).size());
    }
    benchmark::DoNotOptimize(Lines.Finish(Out.get()));
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * Bytes.size()));
}

}  // namespace

BENCHMARK_CAPTURE(Rewrite, short_lf, 20, "\n");
BENCHMARK_CAPTURE(Rewrite, short_crlf, 20, "\r\n");
BENCHMARK_CAPTURE(Rewrite, short_cr, 20, "\r");
BENCHMARK_CAPTURE(Rewrite, short_mixed, 20, "");
BENCHMARK_CAPTURE(Rewrite, long_lf, 2000, "\n");
BENCHMARK_CAPTURE(Rewrite, long_crlf, 2000, "\r\n");
BENCHMARK_MAIN();
