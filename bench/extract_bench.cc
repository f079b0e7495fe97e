// Page extraction throughput against two baselines on the same bytes: a
// search that ignores characters, and a search stepping one character at a
// time.
#include <benchmark/benchmark.h>

#include "app/search_page.h"
#include "bench/result_page.h"
#include "tests/reference.h"

namespace kelvarn {
namespace {

const std::string& Page() {
  static const std::string page = bench::ResultPage();
  return page;
}

const std::string kBlockStart = Utf8ToGbk("相关搜索</th><th>");

void BM_ExtractRelatedPhrases(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ExtractRelatedPhrases(Page()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Page().size()));
  state.counters["phrases"] = static_cast<double>(ExtractRelatedPhrases(Page()).size());
  state.counters["page_bytes"] = static_cast<double>(Page().size());
}

void BM_TextFindBlockStart(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(TextFind(Page(), kBlockStart));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Page().size()));
}

// Baseline: the speed of a search that ignores characters.
void BM_BaselineStringViewFind(benchmark::State& state) {
  const std::string_view page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(page.find(kBlockStart));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Page().size()));
}

// Baseline: the plain loop that steps one character at a time.
void BM_BaselineCharacterStepping(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(reference::TextFind(Page(), kBlockStart));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Page().size()));
}

BENCHMARK(BM_ExtractRelatedPhrases);
BENCHMARK(BM_TextFindBlockStart);
BENCHMARK(BM_BaselineStringViewFind);
BENCHMARK(BM_BaselineCharacterStepping);

}  // namespace
}  // namespace kelvarn

BENCHMARK_MAIN();
