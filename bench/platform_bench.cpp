// Positional formatting against the C library's printf with the same output.
#include <benchmark/benchmark.h>
#include <cstdio>
#include <string>

#include "platform/format.h"

namespace {

void BM_FormatText_TwoStrings(benchmark::State& state) {
  const char* name = "championId";
  const char* function = "GetChampionSummary";
  for (auto _ : state) {
    std::string text = mau::FormatText("Unknown argument '%1' for '%2'.", name, function);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_FormatText_TwoStrings);

void BM_Snprintf_TwoStrings(benchmark::State& state) {
  const char* name = "championId";
  const char* function = "GetChampionSummary";
  for (auto _ : state) {
    char buffer[4096];
    const int n =
        std::snprintf(buffer, sizeof buffer, "Unknown argument '%s' for '%s'.", name, function);
    std::string text(buffer, static_cast<size_t>(n));
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_Snprintf_TwoStrings);

}  // namespace
