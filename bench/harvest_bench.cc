// A depth-3 harvest of 10 seeds against the offline engine (50 ms a page, 10
// phrases a page, 20 workers): wall time against the ideal time of the same
// schedule, and peak memory per collected phrase. The engine runs as a
// process of its own so that its memory is not counted.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <queue>
#include <string>
#include <thread>
#include <vector>

#include "app/headless_window.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSeeds = 10, kDepth = 3, kPhrases = 10, kWorkers = 20, kLatencyMs = 50, kSpacingMs = 5;

// The makespan of the schedule itself: seeds posted 5 ms apart, a task of a
// fetched level takes the page's latency plus 5 ms after each of its posts,
// deeper tasks take nothing, and free workers take tasks first in, first out.
double IdealSeconds() {
  struct Task {
    double ready;
    int level;
  };
  std::queue<Task> queue;
  for (int i = 0; i < kSeeds; ++i) queue.push({i * kSpacingMs / 1000.0, 1});
  std::priority_queue<double, std::vector<double>, std::greater<>> freeAt;
  for (int i = 0; i < kWorkers; ++i) freeAt.push(0);
  double end = 0;
  while (!queue.empty()) {
    const Task task = queue.front();
    queue.pop();
    const double start = std::max(task.ready, freeAt.top());
    freeAt.pop();
    double t = start;
    if (task.level <= kDepth) {
      t += kLatencyMs / 1000.0;
      for (int p = 0; p < kPhrases; ++p) {
        queue.push({t, task.level + 1});  // posted now, then the pause
        t += kSpacingMs / 1000.0;
      }
    }
    freeAt.push(t);
    end = std::max(end, t);
  }
  return end;
}

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main() {
  int pipefd[2];
  if (pipe(pipefd) != 0) return 1;
  const pid_t engine = fork();
  if (engine == 0) {
    dup2(pipefd[1], STDOUT_FILENO);
    const std::string latency = std::to_string(kLatencyMs), phrases = std::to_string(kPhrases);
    execl(KELVARN_ENGINE, KELVARN_ENGINE, "--latency", latency.c_str(), "--phrases", phrases.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  char line[256] = {};
  FILE* out = fdopen(pipefd[0], "r");
  if (!out || !fgets(line, sizeof line, out)) return 1;
  std::string base(line);
  while (!base.empty() && (base.back() == '\n' || base.back() == '\r')) base.pop_back();

  kelvarn::HeadlessWindow w;
  kelvarn::Harvester::Options options;
  options.settingsDir = "/tmp/";
  options.searchBase = base;
  kelvarn::Harvester harvester(w.Components(), w.ui, w.dialogs, options);
  for (int i = 0; i < kSeeds; ++i) w.列表框_关键字.AddItem("seed" + std::to_string(i));
  w.编辑框_工作线程.SetContent(std::to_string(kWorkers));
  w.编辑框_采集级别.SetContent(std::to_string(kDepth));

  const long before = PeakKilobytes();
  const auto start = Clock::now();
  w.ui.Invoke([&] { harvester.OnStartButton(); });
  const kelvarn::Text idle = kelvarn::Utf8ToGbk("开始采集");
  while (w.按钮_开始采集.Caption() != idle) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const long after = PeakKilobytes();
  const int collected = w.列表框_相关关键字.ItemCount();

  kill(engine, SIGTERM);
  waitpid(engine, nullptr, 0);
  const double ideal = IdealSeconds();
  std::printf("phrases collected: %d (expected %d)\n", collected, kSeeds * (10 + 100 + 1000));
  std::printf("wall time %.3f s, ideal %.3f s, ratio %.3f\n", seconds, ideal, seconds / ideal);
  std::printf("peak memory growth %ld KiB: %.0f bytes per phrase (peak RSS %ld KiB)\n", after - before,
              static_cast<double>(after - before) * 1024.0 / collected, after);
  return 0;
}
