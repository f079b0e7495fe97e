// ThreadPool (线程池): a fixed set of worker threads fed from one first-in,
// first-out queue. A work item is a routine and two 32-bit integers; posting
// copies those three values into the queue and allocates nothing once the
// queue has grown to its working size. The pool counts neither pending nor
// running items: callers that need to know when their work is done count it
// themselves.
//
// Life: Create starts the workers; Destroy queues one leave packet per worker
// behind the items already queued and waits up to a deadline. Workers still
// inside a routine at the deadline are let go (a thread cannot be killed
// safely): the queue is closed and emptied, nothing queued runs any more, the
// routine runs on to its end and its worker then leaves without touching the
// pool again. Such a routine can see that it was cut off (IsCutOff) and cut its
// own work short. Create after Destroy starts a fresh pool.
//
// Thread safety: PostWorkItem and State may be called from any thread,
// including from inside a routine. Create and Destroy are meant for one
// controlling thread; Destroy must not be called from one of the pool's own
// workers (it would wait for itself).
#pragma once

#include <cstdint>
#include <memory>

#include "base/thread_safety.h"

namespace kelvarn {

using WorkRoutine = void (*)(std::int32_t param1, std::int32_t param2);

struct PoolRecord;

class ThreadPool {
 public:
  // State() values.
  static constexpr std::int32_t kClosed = 0, kNormal = 1, kClosing = 2;
  // Counts above this (negative counts read as huge unsigned numbers) start
  // this many: one pool cannot take the whole machine's threads.
  static constexpr std::uint32_t kMaxWorkers = 1024;

  ThreadPool() = default;
  // Releases only this object's hold on its record: running workers keep
  // going. Call Destroy first.
  ~ThreadPool() = default;
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // Starts threadCount workers (0 means 20) and returns how many started, or
  // 0 when none could. On a pool that is normal or closing, starts nothing and
  // returns the current count.
  std::int32_t Create(std::int32_t threadCount = 20) EXCLUDES(mutex_);

  // Closes a normal pool: items queued before the call still run while the
  // wait lasts; returns when every worker has left or after waitTime ms
  // (-1: no limit), the pool closed either way. Does nothing on a pool that is
  // not normal.
  void Destroy(std::int32_t waitTime = -1) EXCLUDES(mutex_);

  // Queues one item; false (nothing queued) when the pool is not normal, the
  // routine is null, or the caller is a worker that has been cut off.
  bool PostWorkItem(WorkRoutine routine, std::int32_t param1 = 0, std::int32_t param2 = 0) EXCLUDES(mutex_);

  // kClosed, kNormal or kClosing; kClosed when never created.
  std::int32_t State() const EXCLUDES(mutex_);

  // True on a worker thread whose pool was destroyed while it ran its routine.
  static bool IsCutOff();

 private:
  mutable Mutex mutex_;  // taken before a record's own lock
  std::shared_ptr<PoolRecord> record_ GUARDED_BY(mutex_);
};

}  // namespace kelvarn

// The pool's notification entry, handed to the frame as a component module's
// (frame/frame.h): 1 (the host's entry, which the pool never calls) and 16
// return 0; 14 returns the list of entry points the pool offers a host by
// name, none, so only the closing null; 15 returns
// "ThreadPool_ProcessNotifyLib"; any other code returns -1. Pointers travel
// as integers.
extern "C" std::intptr_t ThreadPool_ProcessNotifyLib(std::int32_t code, std::intptr_t value1, std::intptr_t value2);
