// Items per second added to a list from 20 worker threads through the
// component layer, and heap bytes per item at one million items beyond the
// text itself: the Qt list (offscreen) against the headless one, same run.
#include <malloc.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QListView>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

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

  std::printf("adds per second, 20 threads:   Qt list %.0f   headless %.0f   ratio %.2f\n", qtRate, headlessRate,
              qtRate / headlessRate);
  std::printf("bytes per item beyond its text at 1M items:   Qt list %.1f   headless %.1f\n", qtBytes, headlessBytes);
  return 0;
}
