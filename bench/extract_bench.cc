// Page extraction throughput against two baselines on the same bytes: a
// search that ignores characters, and a search stepping one character at a
// time.
#include <benchmark/benchmark.h>

#include "app/page_forms.h"
#include "app/search_page.h"
#include "bench/result_page.h"
#include "tests/reference.h"
#include "tools/engine/offline_engine.h"

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

// Every form of the block, on a 300 KB page of the offline engine in the
// form's own encoding, the block near the end: the classic form by its byte
// rule, the others by a scan for their container and the HTML parser on it.
void BM_FindRelatedBlock(benchmark::State& state) {
  static constexpr const char* kNames[] = {"classic", "2008", "2018", "2021", "2022", "mobile"};
  EngineOptions options;
  options.layout = static_cast<EngineLayout>(state.range(0));
  options.pageBytes = 300 * 1024;
  const Text keyword = Utf8ToGbk("关键字");
  const std::string page = OfflineEngine::PageFor(keyword, options, EngineFault::kNone);
  const std::string type = OfflineEngine::IsUtf8Page(keyword, options) ? "text/html; charset=utf-8" : "text/html";
  for (auto _ : state) benchmark::DoNotOptimize(FindRelatedBlock(page, type));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
  state.SetLabel(kNames[state.range(0)]);
  state.counters["phrases"] = static_cast<double>(FindRelatedBlock(page, type).phrases.size());
}

BENCHMARK(BM_ExtractRelatedPhrases);
BENCHMARK(BM_FindRelatedBlock)->DenseRange(0, 5);
BENCHMARK(BM_TextFindBlockStart);
BENCHMARK(BM_BaselineStringViewFind);
BENCHMARK(BM_BaselineCharacterStepping);

}  // namespace
}  // namespace kelvarn

BENCHMARK_MAIN();
