// What resuming a long harvest costs before its first request: reading a
// journal of a million pages, and looking up every page once, as the
// harvest does when it replays them. Against a scan of the same bytes for
// line ends, so that the figures compare across machines (x_scan). Reading
// reports the memory its contents hold (rss_MiB) and its peak above what was
// resident before it (peak_MiB).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/journal.h"

namespace kelvarn {
namespace {

constexpr int kPages = 1'000'000, kPhrasesAPage = 10, kSeeds = 100;

struct Journal {
  std::string bytes;
  std::int64_t outputSize = 0;
  std::vector<std::string> paths;
};

// A tree of 100 seeds, each page with 10 children, breadth first: paths as a
// harvest names them ("37", "37.4", "37.4.9", ...). Phrases are 2 to 5 Chinese
// characters; one page in 50 has no block and one in 200 failed, so that
// the reader meets every kind of line it keeps or drops.
const Journal& MillionPages() {
  static const Journal journal = [] {
    Journal j;
    const std::string vocabulary = Utf8ToGbk("关键字搜索引擎优化网站排名推广营销工具软件下载手机电脑价格多少怎么样");
    const std::size_t characters = vocabulary.size() / 2;
    std::uint64_t random = 88172645463325252ull;
    const auto phrase = [&] {
      random ^= random << 13, random ^= random >> 7, random ^= random << 17;
      Text text;
      for (std::uint64_t n = 2 + random % 4, r = random >> 8; n > 0; --n, r /= characters) {
        text += vocabulary.substr(r % characters * 2, 2);
      }
      return text;
    };
    JournalRun run;
    run.seeds = "fnv1a64:0123456789abcdef";
    run.seedCount = kSeeds;
    run.depth = 5;
    run.format = "text", run.encoding = "gbk", run.output = "out.txt", run.pace = "auto";
    j.bytes = JournalHeaderLine(run, 0);
    struct Node {
      std::string path;
      Text keyword, parent, seed;
      std::int32_t level;
    };
    std::vector<Node> nodes;
    nodes.reserve(kPages);
    for (int s = 1; s <= kSeeds; ++s) {
      const Text seed = phrase();
      nodes.push_back({std::to_string(s), seed, "", seed, 1});
    }
    std::vector<Harvester::PhraseOrigin> origins;
    std::vector<Text> texts;
    for (std::size_t i = 0; i < nodes.size() && i < kPages; ++i) {
      const Node node = nodes[i];
      const bool failed = i % 200 == 199, noBlock = i % 50 == 49;
      texts.clear(), origins.clear();
      if (!failed && !noBlock) {
        for (int p = 0; p < kPhrasesAPage; ++p) texts.push_back(phrase());
      }
      for (std::size_t p = 0; p < texts.size(); ++p) {
        origins.push_back(
            {texts[p], node.level, node.keyword, node.seed, PageOutcome::kPhrases, static_cast<std::int32_t>(p + 1)});
        j.outputSize += static_cast<std::int64_t>(texts[p].size() + 2);  // CR LF
        if (nodes.size() < kPages) {
          nodes.push_back({node.path + "." + std::to_string(p + 1), texts[p], node.keyword, node.seed, node.level + 1});
        }
      }
      const PageOutcome outcome = failed    ? PageOutcome::kFailed
                                  : noBlock ? PageOutcome::kNoBlock
                                            : PageOutcome::kPhrases;
      const Harvester::PageEnd end{node.path,  node.keyword, node.parent,        node.seed,
                                   node.level, outcome,      failed ? 0u : 200u, origins};
      j.bytes += JournalPageLine(end, j.outputSize);
      j.paths.push_back(node.path);
    }
    return j;
  }();
  return journal;
}

// Kibibytes from /proc/self/status ("VmRSS", "VmHWM").
long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(field)) return std::strtol(line.c_str() + std::strlen(field) + 1, nullptr, 10);
  }
  return 0;
}

// Lets VmHWM restart from what is resident now.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

std::size_t LineEnds(std::string_view bytes) {
  std::size_t lines = 0;
  for (const char* p = bytes.data();
       (p = static_cast<const char*>(std::memchr(p, '\n', bytes.data() + bytes.size() - p))) != nullptr; ++p) {
    ++lines;
  }
  return lines;
}

// The ratios are of processor time: other work on the machine stretches
// wall time, and the two sides unevenly.
double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double ScanSeconds(std::string_view bytes) {
  double best = 1e9;
  for (int k = 0; k < 5; ++k) {
    const double start = CpuSeconds();
    benchmark::DoNotOptimize(LineEnds(bytes));
    best = std::min(best, CpuSeconds() - start);
  }
  return best;
}

void SetMemory(benchmark::State& state, long residentBefore) {
  state.counters["rss_MiB"] = static_cast<double>(StatusKiB("VmRSS:") - residentBefore) / 1024.0;
  state.counters["peak_MiB"] = static_cast<double>(StatusKiB("VmHWM:") - residentBefore) / 1024.0;
}

void BM_JournalRead(benchmark::State& state) {
  const Journal& journal = MillionPages();
  const double scan = ScanSeconds(journal.bytes);
  double seconds = 0;
  const long before = StatusKiB("VmRSS:");
  ResetPeak();
  std::unique_ptr<JournalContents> kept;
  for (auto _ : state) {
    const double start = CpuSeconds();
    auto contents = std::make_unique<JournalContents>(JournalContents::Read(journal.bytes, journal.outputSize));
    seconds += CpuSeconds() - start;
    state.PauseTiming();
    // Memory from the first reading only: the allocator keeps what the
    // others free, and freeing is not reading.
    if (!kept) SetMemory(state, before);
    kept = std::move(contents);
    state.ResumeTiming();
  }
  if (kept->Pages() != kPages || !kept->Error().empty()) state.SkipWithError("the journal did not read back whole");
  state.counters["pages"] = static_cast<double>(kept->Pages());
  state.counters["journal_MiB"] = static_cast<double>(journal.bytes.size()) / 1048576.0;
  state.counters["x_scan"] = seconds / static_cast<double>(state.iterations()) / scan;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * journal.bytes.size()));
}

void BM_JournalAnswerEveryPath(benchmark::State& state) {
  const Journal& journal = MillionPages();
  const double scan = ScanSeconds(journal.bytes);
  const JournalContents contents = JournalContents::Read(journal.bytes, journal.outputSize);
  double seconds = 0;
  std::size_t phrases = 0;
  for (auto _ : state) {
    const double start = CpuSeconds();
    phrases = 0;
    for (const std::string& path : journal.paths) {
      if (const auto answered = contents.Answered(path)) phrases += answered->phrases.size();
    }
    seconds += CpuSeconds() - start;
  }
  state.counters["phrases"] = static_cast<double>(phrases);
  state.counters["x_scan"] = seconds / static_cast<double>(state.iterations()) / scan;
}

// Baseline: finding the line ends and nothing else.
void BM_BaselineScanLineEnds(benchmark::State& state) {
  const Journal& journal = MillionPages();
  for (auto _ : state) benchmark::DoNotOptimize(LineEnds(journal.bytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * journal.bytes.size()));
}

BENCHMARK(BM_BaselineScanLineEnds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JournalRead)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_JournalAnswerEveryPath)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
}  // namespace kelvarn

BENCHMARK_MAIN();
