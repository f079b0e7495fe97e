#include "pool/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace kelvarn {
namespace {

using Clock = std::chrono::steady_clock;

// Waits for `done` to hold, for at most `limit`.
template <class Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

// Routines take two integers only, so what they touch is global.
std::atomic<int> ran{0};
std::atomic<int> blocked{0}, unblocked{0}, cutOffSeen{0};
std::atomic<bool> release{false};
std::atomic<int> refusedPosts{0};
ThreadPool* currentPool = nullptr;

void Count(std::int32_t, std::int32_t) { ran.fetch_add(1); }

void Block(std::int32_t, std::int32_t) {
  blocked.fetch_add(1);
  WaitUntil([] { return release.load(); });
  if (ThreadPool::IsCutOff()) cutOffSeen.fetch_add(1);
  unblocked.fetch_add(1);
}

class ThreadPoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ran = blocked = unblocked = cutOffSeen = refusedPosts = 0;
    release = false;
    currentPool = &pool_;
  }
  void TearDown() override {
    release = true;
    pool_.Destroy(-1);
  }
  ThreadPool pool_;
};

TEST_F(ThreadPoolTest, CreateStartsWorkersOnce) {
  EXPECT_EQ(ThreadPool::kClosed, pool_.State());
  EXPECT_EQ(20, pool_.Create(0));
  EXPECT_EQ(ThreadPool::kNormal, pool_.State());
  EXPECT_EQ(20, pool_.Create(5));  // already running: the current count
  pool_.Destroy(-1);
  EXPECT_EQ(ThreadPool::kClosed, pool_.State());
  EXPECT_EQ(3, pool_.Create(3));  // a fresh pool
  EXPECT_EQ(3, pool_.Create(7));
  EXPECT_EQ(ThreadPool::kNormal, pool_.State());
}

TEST_F(ThreadPoolTest, HugeCountsAreCapped) {
  EXPECT_EQ(static_cast<std::int32_t>(ThreadPool::kMaxWorkers), pool_.Create(-1));
}

TEST_F(ThreadPoolTest, RefusedPosts) {
  EXPECT_FALSE(pool_.PostWorkItem(Count));  // never created
  pool_.Destroy(1);                         // nothing to destroy
  ASSERT_EQ(2, pool_.Create(2));
  EXPECT_FALSE(pool_.PostWorkItem(nullptr));
  pool_.Destroy(-1);
  EXPECT_FALSE(pool_.PostWorkItem(Count));  // closed
  pool_.Destroy(-1);                        // closed: nothing happens
  EXPECT_EQ(ThreadPool::kClosed, pool_.State());
  EXPECT_EQ(0, ran.load());
}

TEST_F(ThreadPoolTest, DestroyWithoutLimitRunsEveryEarlierItem) {
  ASSERT_EQ(4, pool_.Create(4));
  for (int i = 0; i < 20000; ++i) ASSERT_TRUE(pool_.PostWorkItem(Count, i, 0));
  pool_.Destroy(-1);
  EXPECT_EQ(20000, ran.load());
  EXPECT_EQ(ThreadPool::kClosed, pool_.State());
}

TEST_F(ThreadPoolTest, ItemsRunWithTheirParameters) {
  static std::atomic<std::int64_t> sum{0};
  sum = 0;
  ASSERT_EQ(3, pool_.Create(3));
  for (int i = 1; i <= 100; ++i) pool_.PostWorkItem([](std::int32_t a, std::int32_t b) { sum += a * b; }, i, 2);
  pool_.Destroy(-1);
  EXPECT_EQ(2 * 5050, sum.load());
}

TEST_F(ThreadPoolTest, DeadlineLetsBusyWorkersGoAndDropsTheQueue) {
  ASSERT_EQ(3, pool_.Create(3));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(pool_.PostWorkItem(Block));
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(pool_.PostWorkItem(Count));
  ASSERT_TRUE(WaitUntil([] { return blocked.load() == 3; }));

  const auto before = Clock::now();
  pool_.Destroy(1);
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(2));
  EXPECT_EQ(ThreadPool::kClosed, pool_.State());
  EXPECT_FALSE(pool_.PostWorkItem(Count));

  release = true;
  ASSERT_TRUE(WaitUntil([] { return unblocked.load() == 3; }));
  EXPECT_EQ(3, cutOffSeen.load());
  EXPECT_EQ(0, ran.load());  // the queued items never ran

  // The stragglers do not disturb a fresh pool.
  ASSERT_EQ(2, pool_.Create(2));
  for (int i = 0; i < 10; ++i) pool_.PostWorkItem(Count);
  pool_.Destroy(-1);
  EXPECT_EQ(10, ran.load());
}

TEST_F(ThreadPoolTest, PostsFromARoutineWhileClosingAreRefused) {
  ASSERT_EQ(2, pool_.Create(2));
  ASSERT_TRUE(pool_.PostWorkItem([](std::int32_t, std::int32_t) {
    WaitUntil([] { return currentPool->State() == ThreadPool::kClosing; });
    if (!currentPool->PostWorkItem(Count)) refusedPosts.fetch_add(1);
  }));
  pool_.Destroy(-1);
  EXPECT_EQ(1, refusedPosts.load());
  EXPECT_EQ(0, ran.load());
}

TEST_F(ThreadPoolTest, RoutinesPostFollowUpItems) {
  static std::atomic<int> leaves{0};
  leaves = 0;
  ASSERT_EQ(4, pool_.Create(4));
  // A binary tree of depth 10 of items, each posting its children.
  static WorkRoutine expand = [](std::int32_t depth, std::int32_t) {
    if (depth == 10) {
      leaves.fetch_add(1);
      return;
    }
    currentPool->PostWorkItem(expand, depth + 1);
    currentPool->PostWorkItem(expand, depth + 1);
  };
  pool_.PostWorkItem(expand, 0);
  ASSERT_TRUE(WaitUntil([] { return leaves.load() == 1024; }));
  pool_.Destroy(-1);
}

// Many short lives with busy routines and a 1 ms deadline: no item starts
// after Destroy has returned, except the few a worker had already taken.
TEST_F(ThreadPoolTest, StressCreatePostDestroyCycles) {
  static std::atomic<int> lateStarts{0}, active{0};
  static std::atomic<bool> closed{false};
  lateStarts = 0;
  int workers = 0;
  for (int cycle = 0; cycle < 200; ++cycle) {
    closed = false;
    workers = pool_.Create(4);
    ASSERT_EQ(4, workers);
    for (int i = 0; i < 40; ++i) {
      pool_.PostWorkItem([](std::int32_t, std::int32_t) {
        if (closed.load()) lateStarts.fetch_add(1);
        active.fetch_add(1);
        // Busy for a while, or until cut off; then post more while closing.
        for (int spin = 0; spin < 2000 && !ThreadPool::IsCutOff(); ++spin)
          std::atomic_signal_fence(std::memory_order_seq_cst);
        currentPool->PostWorkItem(Count);
        active.fetch_sub(1);
      });
    }
    pool_.Destroy(1);
    closed = true;
    ASSERT_EQ(ThreadPool::kClosed, pool_.State());
  }
  ASSERT_TRUE(WaitUntil([] { return active.load() == 0; }));
  EXPECT_LE(lateStarts.load(), 200 * workers);
}

TEST(ThreadPoolEntryPointsTest, HostNotificationCodes) {
  EXPECT_EQ(0, ThreadPool_ProcessNotifyLib(1, 1234, 0));
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the entry point hands pointers back as integers
  const auto* names = reinterpret_cast<const char* const*>(ThreadPool_ProcessNotifyLib(14, 0, 0));
  ASSERT_NE(nullptr, names);
  EXPECT_EQ(nullptr, names[0]);  // no entry point offered by name
  // NOLINTNEXTLINE(performance-no-int-to-ptr): as above
  EXPECT_STREQ("ThreadPool_ProcessNotifyLib", reinterpret_cast<const char*>(ThreadPool_ProcessNotifyLib(15, 0, 0)));
  EXPECT_EQ(0, ThreadPool_ProcessNotifyLib(16, 0, 0));
  EXPECT_EQ(-1, ThreadPool_ProcessNotifyLib(2, 0, 0));
}

}  // namespace
}  // namespace kelvarn
