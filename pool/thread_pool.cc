#include "pool/thread_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <new>
#include <system_error>
#include <thread>

namespace kelvarn {

namespace {

struct Packet {
  WorkRoutine routine;  // null: leave packet
  std::int32_t param1, param2;
};

// A ring buffer that doubles when full and never shrinks, so that posting
// allocates nothing once it has reached the pool's working depth.
class PacketQueue {
 public:
  bool Empty() const { return size_ == 0; }

  void Push(const Packet& packet) {
    if (size_ == capacity_) Grow();
    slots_[(head_ + size_) & (capacity_ - 1)] = packet;
    ++size_;
  }

  Packet Pop() {
    const Packet packet = slots_[head_];
    head_ = (head_ + 1) & (capacity_ - 1);
    --size_;
    return packet;
  }

  void Clear() { head_ = size_ = 0; }

 private:
  void Grow() {
    const std::size_t capacity = capacity_ ? capacity_ * 2 : 256;
    auto slots = std::make_unique<Packet[]>(capacity);
    for (std::size_t i = 0; i < size_; ++i) slots[i] = slots_[(head_ + i) & (capacity_ - 1)];
    slots_ = std::move(slots);
    capacity_ = capacity;
    head_ = 0;
  }

  std::unique_ptr<Packet[]> slots_;
  std::size_t capacity_ = 0, head_ = 0, size_ = 0;
};

}  // namespace

struct PoolRecord {
  std::atomic<std::int32_t> state{ThreadPool::kClosed};
  // Set at a deadline: workers still inside a routine were let go.
  std::atomic<bool> cutOff{false};

  Mutex lock;
  std::condition_variable packetReady;  // a packet was queued or the queue closed
  std::condition_variable allLeft;      // the last worker left
  PacketQueue queue GUARDED_BY(lock);
  bool queueClosed GUARDED_BY(lock) = false;  // after a deadline: nothing queued runs any more
  // Guarded although set once: the workers start before it is known.
  std::uint32_t threadCount GUARDED_BY(lock) = 0;
  std::uint32_t exitedCount GUARDED_BY(lock) = 0;
};

namespace {

// The record of the pool whose worker this thread is.
thread_local PoolRecord* currentRecord = nullptr;

// Each worker holds the record, so a worker let go at a deadline still finds
// it valid when its routine returns.
void WorkerLoop(std::shared_ptr<PoolRecord> record) {
  currentRecord = record.get();
  for (;;) {
    Packet packet;
    {
      MutexLock lock(record->lock);
      record->lock.Wait(record->packetReady,
                        [&]() REQUIRES(record->lock) { return record->queueClosed || !record->queue.Empty(); });
      if (record->queueClosed) return;  // let go: leave without touching the pool's counts
      packet = record->queue.Pop();
    }
    if (!packet.routine) break;
    packet.routine(packet.param1, packet.param2);
  }
  MutexLock lock(record->lock);
  if (++record->exitedCount == record->threadCount) {
    record->state.store(ThreadPool::kClosed);
    record->allLeft.notify_all();
  }
}

}  // namespace

std::int32_t ThreadPool::Create(std::int32_t threadCount) {
  MutexLock guard(mutex_);
  if (record_ && record_->state.load() != kClosed) {
    MutexLock lock(record_->lock);
    return static_cast<std::int32_t>(record_->threadCount);
  }
  record_.reset();
  std::uint32_t wanted = static_cast<std::uint32_t>(threadCount);
  if (wanted == 0) wanted = 20;
  wanted = std::min(wanted, kMaxWorkers);
  std::shared_ptr<PoolRecord> record;
  try {
    record = std::make_shared<PoolRecord>();
  } catch (const std::bad_alloc&) {
    return 0;
  }
  std::uint32_t started = 0;
  {
    // Held while starting so that no worker can leave before the count is set.
    MutexLock lock(record->lock);
    for (std::uint32_t i = 0; i < wanted; ++i) {
      try {
        std::thread(WorkerLoop, record).detach();  // workers are never joined: see the cut-off above
        ++started;
      } catch (const std::system_error&) {
        // A thread that cannot start is skipped; the pool runs with the rest.
      }
    }
    record->threadCount = started;
  }
  if (started == 0) return 0;
  record->state.store(kNormal);
  record_ = std::move(record);
  return static_cast<std::int32_t>(started);
}

void ThreadPool::Destroy(std::int32_t waitTime) {
  std::shared_ptr<PoolRecord> record;
  {
    MutexLock guard(mutex_);
    if (!record_ || record_->state.load() != kNormal) return;
    record = record_;
    record->state.store(kClosing);  // from here on posts are refused
    MutexLock lock(record->lock);
    for (std::uint32_t i = 0; i < record->threadCount; ++i) record->queue.Push({nullptr, 0, 0});
    record->packetReady.notify_all();
  }
  // The object's mutex is free while waiting, so routines can still call
  // PostWorkItem (and be refused) instead of blocking on it.
  MutexLock lock(record->lock);
  const auto allLeft = [&]() REQUIRES(record->lock) { return record->exitedCount == record->threadCount; };
  if (waitTime < 0) {
    record->lock.Wait(record->allLeft, allLeft);
  } else if (!record->lock.WaitFor(record->allLeft, std::chrono::milliseconds(waitTime), allLeft)) {
    record->cutOff.store(true);
    record->queueClosed = true;
    record->queue.Clear();
    record->packetReady.notify_all();
  }
  record->state.store(kClosed);
}

bool ThreadPool::PostWorkItem(WorkRoutine routine, std::int32_t param1, std::int32_t param2) {
  if (!routine || IsCutOff()) return false;
  MutexLock guard(mutex_);
  PoolRecord* record = record_.get();
  if (!record || record->state.load() != kNormal) return false;
  {
    MutexLock lock(record->lock);
    if (record->queueClosed) return false;
    try {
      record->queue.Push({routine, param1, param2});
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  record->packetReady.notify_one();
  return true;
}

std::int32_t ThreadPool::State() const {
  MutexLock guard(mutex_);
  return record_ ? record_->state.load() : kClosed;
}

bool ThreadPool::IsCutOff() { return currentRecord && currentRecord->cutOff.load(); }

}  // namespace kelvarn

namespace {

const char* const kNoEntryPoints[] = {nullptr};

}  // namespace

std::intptr_t ThreadPool_ProcessNotifyLib(std::int32_t code, std::intptr_t /*value1*/, std::intptr_t /*value2*/) {
  switch (code) {
    case 1:
    case 16:
      return 0;
    case 14:
      return reinterpret_cast<std::intptr_t>(kNoEntryPoints);
    case 15:
      return reinterpret_cast<std::intptr_t>("ThreadPool_ProcessNotifyLib");
    default:
      return -1;
  }
}
