// A trap that does not fire must cost nothing measurable: compare the same
// work with and without a trap and its line labels.
#include <benchmark/benchmark.h>

#include "errors/ErrChain.h"

namespace {

using namespace velmora;

__attribute__((noinline)) uint32_t Untrapped(uint32_t a, uint32_t b) {
  uint32_t r = a;
  r = r * 31 + b;
  r = r ^ (r >> 7);
  return r;
}

__attribute__((noinline)) uint32_t Trapped(uint32_t a, uint32_t b) {
  Trap trap("basBench.Trapped(intA,intB)");
  try {
    trap.at(10);
    uint32_t r = a;
    trap.at(20);
    r = r * 31 + b;
    trap.at(30);
    r = r ^ (r >> 7);
    return r;
  } catch (...) {
    ErrorIn(trap, Params(static_cast<int32_t>(a), static_cast<int32_t>(b)), ERRIN_PASS_ON);
  }
}

void BM_Untrapped(benchmark::State& state) {
  uint32_t x = 1;
  for (auto _ : state) {
    x = Untrapped(x, 7);
    benchmark::DoNotOptimize(x);
  }
}

void BM_Trapped(benchmark::State& state) {
  uint32_t x = 1;
  for (auto _ : state) {
    x = Trapped(x, 7);
    benchmark::DoNotOptimize(x);
  }
}

BENCHMARK(BM_Untrapped);
BENCHMARK(BM_Trapped);

}  // namespace

BENCHMARK_MAIN();
