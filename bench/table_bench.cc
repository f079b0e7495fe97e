// A million phrases written as an XLSX workbook against the same rows as CSV:
// wall time, CPU time and peak memory of each, in a child process of its own
// so that one's memory is not the other's. "rows only" makes the same rows
// and writes nothing: what the writing itself costs is the rest.
//   table_bench [--rows N] [--keep] [DIRECTORY]
// The files are written in DIRECTORY (the current one), then removed unless
// --keep; past 1048575 rows the workbook goes on in a second sheet.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/table_export.h"
#include "text/text.h"

namespace kelvarn {
namespace {

std::int64_t rows = 1'000'000;
bool keep = false;

// Rows as a harvest of 100 seeds to depth 4 gives them: phrases of 2 to 6
// Chinese characters, sometimes with a Latin word or a number, a parent and
// a seed of the same kind, one row in four from the suggestions.
class Rows {
 public:
  Rows() : vocabulary_(Utf8ToGbk("关键字搜索引擎优化网站排名推广营销工具软件下载手机电脑价格多少怎么样教程官网")) {}
  bool Next(PhraseRow& row) {
    if (made_ == rows) return false;
    if (made_ % 10 == 0) parent_ = Phrase();
    if (made_ % 10000 == 0) seed_ = Phrase();
    phrase_ = Phrase();
    if (made_ % 7 == 0) phrase_ += made_ % 2 ? " app" : " 2026";
    row = {phrase_, static_cast<std::int32_t>(2 + made_ % 3), parent_, seed_,
           made_ % 4 == 0 ? PhraseSource::kSuggest : PhraseSource::kRelated};
    ++made_;
    return true;
  }

 private:
  Text Phrase() {
    random_ ^= random_ << 13, random_ ^= random_ >> 7, random_ ^= random_ << 17;
    const std::size_t characters = vocabulary_.size() / 2;
    Text text;
    for (std::uint64_t n = 2 + random_ % 5, r = random_ >> 8; n > 0; --n, r /= characters) {
      text += vocabulary_.substr(r % characters * 2, 2);
    }
    return text;
  }

  Text vocabulary_, phrase_, parent_, seed_;
  std::uint64_t random_ = 88172645463325252ull;
  std::int64_t made_ = 0;
};

// In the child: every row through a table of `kind`, or through none.
int Write(const PhraseTable::Kind* kind, const std::string& path) {
  Rows rows;
  PhraseRow row;
  if (!kind) {
    std::size_t bytes = 0;
    while (rows.Next(row)) bytes += row.phrase.size();
    return bytes > 0 ? 0 : 1;
  }
  std::string error;
  const std::unique_ptr<PhraseTable> table = PhraseTable::Open(*kind, path, true, &error);
  if (!table) return std::fprintf(stderr, "table_bench: %s\n", error.c_str()), 1;
  while (rows.Next(row)) {
    if (!table->Add(row)) break;
  }
  if (table->Finish()) return 0;
  std::fprintf(stderr, "table_bench: %s\n", table->Error().c_str());
  return 1;
}

struct Measure {
  double wall = 0, cpu = 0, peakMiB = 0, fileMiB = 0;
};

Measure Run(const PhraseTable::Kind* kind, const std::string& path) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(Write(kind, path));
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  Measure m;
  m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "table_bench: writing %s failed\n", path.c_str());
    std::exit(1);
  }
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  m.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  m.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024;
  std::error_code error;
  if (kind) m.fileMiB = static_cast<double>(std::filesystem::file_size(path, error)) / (1 << 20);
  if (!keep) std::filesystem::remove(path, error);
  return m;
}

}  // namespace
}  // namespace kelvarn

int main(int argc, char** argv) {
  using kelvarn::PhraseTable;
  std::string directory = "./";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rows" && i + 1 < argc) {
      kelvarn::rows = std::atoll(argv[++i]);
    } else if (arg == "--keep") {
      kelvarn::keep = true;
    } else {
      directory = arg + "/";
    }
  }
  constexpr PhraseTable::Kind kCsv = PhraseTable::Kind::kCsv, kXlsx = PhraseTable::Kind::kXlsx;
  const kelvarn::Measure none = kelvarn::Run(nullptr, "");
  const kelvarn::Measure csv = kelvarn::Run(&kCsv, directory + "table_bench.csv");
  const kelvarn::Measure xlsx = kelvarn::Run(&kXlsx, directory + "table_bench.xlsx");
  std::printf("%lld rows     wall s   cpu s  peak RSS MiB  file MiB\n", static_cast<long long>(kelvarn::rows));
  const auto line = [](const char* name, const kelvarn::Measure& m) {
    std::printf("%-14s %7.2f %7.2f %13.1f %9.1f\n", name, m.wall, m.cpu, m.peakMiB, m.fileMiB);
  };
  line("rows only", none);
  line("csv", csv);
  line("xlsx", xlsx);
  std::printf("xlsx / csv: wall %.2f, cpu %.2f, peak RSS %.2f (%.1f MiB more)\n", xlsx.wall / csv.wall,
              xlsx.cpu / csv.cpu, xlsx.peakMiB / csv.peakMiB, xlsx.peakMiB - csv.peakMiB);
  return 0;
}
