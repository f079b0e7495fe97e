// Items per second added to a list from 20 worker threads through the
// component layer, and heap bytes per item at one million items beyond the
// text itself: the Qt list (offscreen) against the headless one, same run.
// Then the operations over a whole list of a million items (find, copy all,
// sort, and the distinct count a run ends with), each against filling that
// list from the window thread in the same run.
#include <malloc.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QListView>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/phrase_set.h"
#include "frame/qt/qt_frame.h"
#include "ui/headless.h"
#include "ui/qt/qt_components.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kThreads = 20, kEach = 10000, kMillion = 1000000;

std::string Item(int i) { return "\xB9\xD8\xBC\xFC\xD7\xD6" + std::to_string(i); }  // 关键字 + number

// Adds kThreads x kEach items; `pump` keeps the window thread serving.
double AddsPerSecond(kelvarn::ListBox& list, const std::function<void()>& pump) {
  std::atomic<int> done{0};
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) list.AddItem(Item(t * kEach + i));
      done.fetch_add(1);
    });
  }
  while (done.load() < kThreads) pump();
  for (auto& th : threads) th.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return kThreads * kEach / seconds;
}

double BytesPerItem(kelvarn::ListBox& list) {
  list.ClearItems();
  malloc_trim(0);
  const auto inUse = [] {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;  // small blocks and mapped ones
  };
  const std::size_t before = inUse();
  std::size_t textBytes = 0;
  for (int i = 0; i < kMillion; ++i) {
    const std::string item = Item(i);
    textBytes += item.size();
    list.AddItem(item);
  }
  return (static_cast<double>(inUse() - before) - static_cast<double>(textBytes)) / kMillion;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// A million items in no order (a stride coprime with the count), then each
// operation over the whole list once; the seconds of each, filling first.
std::vector<std::pair<const char*, double>> WholeList(kelvarn::ListBox& list) {
  list.ClearItems();
  auto start = Clock::now();
  for (int i = 0; i < kMillion; ++i) list.AddItem(Item(static_cast<int>((i * 999983LL) % kMillion)));
  std::vector<std::pair<const char*, double>> took{{"fill", Seconds(start)}};
  const auto time = [&](const char* name, const std::function<void()>& operation) {
    start = Clock::now();
    operation();
    took.emplace_back(name, Seconds(start));
  };
  time("find (no item matches)", [&] { list.FindItem("\xC3\xBB\xD3\xD0"); });  // 没有
  time("copy all", [&] { list.CopyItems(true); });
  time("sort A-Z", [&] { list.SortItems(kelvarn::ItemOrder::kAlphabetical); });
  time("sort by length", [&] { list.SortItems(kelvarn::ItemOrder::kByLength); });
  time("distinct count", [&] { kelvarn::CountDistinct(list.Items()); });
  return took;
}

void PrintWholeList(const char* name, const std::vector<std::pair<const char*, double>>& took) {
  std::printf("%s, one million items: fill %.3f s", name, took.front().second);
  for (std::size_t i = 1; i < took.size(); ++i) {
    std::printf(";  %s %.3f s (%.2fx fill)", took[i].first, took[i].second, took[i].second / took.front().second);
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  kelvarn::HeadlessUiThread headlessUi;
  kelvarn::MemoryListStore store;
  kelvarn::GuardedListBox headless(headlessUi, store, true);
  const double headlessRate =
      AddsPerSecond(headless, [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
  const double headlessBytes = BytesPerItem(headless);

  kelvarn::QtUiThread ui;
  QWidget window;
  auto* view = new QListView(&window);
  window.show();
  kelvarn::QtListBox qt(ui, view, true);
  const double qtRate =
      AddsPerSecond(qt.Operations(), [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); });
  const double qtBytes = BytesPerItem(qt.Operations());

  const auto qtWhole = WholeList(qt.Operations());
  const auto headlessWhole = WholeList(headless);

  std::printf("adds per second, 20 threads:   Qt list %.0f   headless %.0f   ratio %.2f\n", qtRate, headlessRate,
              qtRate / headlessRate);
  std::printf("bytes per item beyond its text at 1M items:   Qt list %.1f   headless %.1f\n", qtBytes, headlessBytes);
  PrintWholeList("Qt list", qtWhole);
  PrintWholeList("headless", headlessWhole);
  return 0;
}
