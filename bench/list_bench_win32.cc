// The Win32 list under Wine, as list_bench measures the Qt one: items per
// second added from 20 worker threads through the component layer (the
// window thread carrying out every addition), the memory each item takes
// beyond its text at one million items, and what the control costs with a
// million rows (publishing the count, scrolling to the end and drawing).
// Then the operations over the whole list of a million items (find, copy
// all to the clipboard, sort), each against filling it in the same run.
#include "frame/win32/win32_frame.h"
#include "ui/win32/win32_components.h"
#include "ui/win32/win32_dialogs.h"

#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kThreads = 20, kEach = 10000, kMillion = 1000000;

std::string Item(int i) { return "\xB9\xD8\xBC\xFC\xD7\xD6" + std::to_string(i); }  // 关键字 + number

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) kelvarn::DispatchWindowMessage(message);
}

// Adds kThreads x kEach items while the window thread serves them.
double AddsPerSecond(kelvarn::ListBox& list) {
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
  while (done.load() < kThreads) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    Pump();
  }
  for (auto& th : threads) th.join();
  return kThreads * kEach / Seconds(start);
}

// Bytes in use in every heap of the process: the C library's and the
// control's (the system keeps a list box's selection states in its heap).
std::size_t HeapBytesInUse() {
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
  heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
  std::size_t inUse = 0;
  for (HANDLE heap : heaps) {
    PROCESS_HEAP_ENTRY entry{};
    HeapLock(heap);
    while (HeapWalk(heap, &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) inUse += entry.cbData;
    }
    HeapUnlock(heap);
  }
  return inUse;
}

// Each operation over the whole list once, after the list was filled in
// `fill` seconds.
void PrintWholeList(kelvarn::ListBox& list, double fill) {
  std::printf("one million items, against filling them (%.3f s):", fill);
  const auto time = [&](const char* name, const std::function<void()>& operation) {
    const auto start = Clock::now();
    operation();
    const double took = Seconds(start);
    std::printf("  %s %.3f s (%.2fx);", name, took, took / fill);
  };
  time("find (no item matches)", [&] { list.FindItem("\xC3\xBB\xD3\xD0"); });  // 没有
  time("copy all", [&] { list.CopyItems(true); });
  time("sort A-Z", [&] { list.SortItems(kelvarn::ItemOrder::kAlphabetical); });
  time("sort by length", [&] { list.SortItems(kelvarn::ItemOrder::kByLength); });
  std::printf("\n");
}

}  // namespace

int main() {
  const INITCOMMONCONTROLSEX common{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
  InitCommonControlsEx(&common);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    LRESULT result = 0;
    return kelvarn::ReflectToControl(message, wParam, lParam, result) ? result
                                                                      : DefWindowProcA(hwnd, message, wParam, lParam);
  };
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "KelvarnBench";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, windowClass.lpszClassName, "bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 400,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
  if (!window) {
    std::fprintf(stderr, "no window (error %lu)\n", GetLastError());
    return 1;
  }

  kelvarn::Win32UiThread ui;
  kelvarn::HeadlessUiThread headlessUi;
  kelvarn::MemoryListStore store;
  kelvarn::GuardedListBox headless(headlessUi, store, true);
  const double headlessRate = AddsPerSecond(headless);

  kelvarn::Win32ListBox list(ui, window, {0, 0, 160, 296}, 10, true);
  const double rate = AddsPerSecond(list.Operations());

  // A million items from the window thread, then the control told at once.
  list.Operations().ClearItems();
  Pump();
  const std::size_t before = HeapBytesInUse();
  std::size_t textBytes = 0;
  auto start = Clock::now();
  for (int i = 0; i < kMillion; ++i) {
    const std::string item = Item(static_cast<int>((i * 999983LL) % kMillion));  // in no order, for the sorts
    textBytes += item.size();
    list.Operations().AddItem(item);
  }
  const double addMillion = Seconds(start);
  start = Clock::now();
  list.Publish();
  const double publish = Seconds(start);
  const double bytesPerItem =
      (static_cast<double>(HeapBytesInUse() - before) - static_cast<double>(textBytes)) / kMillion;
  start = Clock::now();
  SendMessageA(list.Handle(), LB_SETTOPINDEX, kMillion - 1, 0);
  UpdateWindow(list.Handle());
  const double scroll = Seconds(start);
  const LRESULT count = SendMessageA(list.Handle(), LB_GETCOUNT, 0, 0);

  std::printf("adds per second, 20 threads:   Win32 list %.0f   headless %.0f   ratio %.2f\n", rate, headlessRate,
              rate / headlessRate);
  std::printf(
      "one million items: added in %.2f s on the window thread, control count %ld published in %.3f s, "
      "scrolled to the end and drawn in %.3f s\n",
      addMillion, static_cast<long>(count), publish, scroll);
  std::printf("bytes per item beyond its text at 1M items:   Win32 list %.1f\n", bytesPerItem);
  PrintWholeList(list.Operations(), addMillion);
  DestroyWindow(window);
  return 0;
}
