// Task pool throughput: items posted and run per second with 20 workers on a
// trivial routine, against a plain mutex + condition variable +
// deque<function> pool, and heap allocations per post.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "pool/thread_pool.h"

namespace {

std::atomic<std::int64_t> allocations{0};

}  // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr int kWorkers = 20;
constexpr int kItems = 100000;

std::atomic<int> done{0};

void Trivial(std::int32_t, std::int32_t) { done.fetch_add(1, std::memory_order_relaxed); }

void WaitForAll(int n) {
  while (done.load(std::memory_order_relaxed) < n) std::this_thread::yield();
}

void BM_ThreadPool(benchmark::State& state) {
  kelvarn::ThreadPool pool;
  pool.Create(kWorkers);
  // One round first, so the queue has grown to its working size.
  done = 0;
  for (int i = 0; i < kItems; ++i) pool.PostWorkItem(Trivial, i, 0);
  WaitForAll(kItems);
  std::int64_t postAllocations = 0, posts = 0;
  for (auto _ : state) {
    done = 0;
    const std::int64_t before = allocations.load();
    for (int i = 0; i < kItems; ++i) pool.PostWorkItem(Trivial, i, 0);
    postAllocations += allocations.load() - before;
    posts += kItems;
    WaitForAll(kItems);
  }
  pool.Destroy(-1);
  state.SetItemsProcessed(state.iterations() * kItems);
  state.counters["allocs_per_post"] = static_cast<double>(postAllocations) / static_cast<double>(posts);
}

// Baseline: the pool most people would write first.
class PlainPool {
 public:
  explicit PlainPool(int n) {
    for (int i = 0; i < n; ++i) threads_.emplace_back([this] { Loop(); });
  }
  ~PlainPool() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    ready_.notify_all();
    for (auto& t : threads_) t.join();
  }
  void Post(std::function<void()> item) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(item));
    }
    ready_.notify_one();
  }

 private:
  void Loop() {
    for (;;) {
      std::function<void()> item;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;
        item = std::move(queue_.front());
        queue_.pop_front();
      }
      item();
    }
  }
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

void BM_BaselinePlainPool(benchmark::State& state) {
  PlainPool pool(kWorkers);
  done = 0;
  for (int i = 0; i < kItems; ++i) pool.Post([i] { Trivial(i, 0); });
  WaitForAll(kItems);
  std::int64_t postAllocations = 0, posts = 0;
  for (auto _ : state) {
    done = 0;
    const std::int64_t before = allocations.load();
    for (int i = 0; i < kItems; ++i) pool.Post([i] { Trivial(i, 0); });
    postAllocations += allocations.load() - before;
    posts += kItems;
    WaitForAll(kItems);
  }
  state.SetItemsProcessed(state.iterations() * kItems);
  state.counters["allocs_per_post"] = static_cast<double>(postAllocations) / static_cast<double>(posts);
}

BENCHMARK(BM_ThreadPool)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BaselinePlainPool)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
