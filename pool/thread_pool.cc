#include "pool/thread_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <new>
#include <system_error>
#include <thread>

namespace kelvarn {

const char* const kThreadPoolCreateDescription =  // 创建并初始化线程池，如果成功返回已创建的线程数，失败返回零。
    "\xB4\xB4\xBD\xA8\xB2\xA2\xB3\xF5\xCA\xBC\xBB\xAF\xCF\xDF\xB3\xCC\xB3\xD8\xA3\xAC\xC8\xE7\xB9\xFB\xB3\xC9\xB9\xA6"
    "\xB7\xB5\xBB\xD8\xD2\xD1\xB4\xB4\xBD\xA8\xB5\xC4\xCF\xDF\xB3\xCC\xCA\xFD\xA3\xAC\xCA\xA7\xB0\xDC\xB7\xB5\xBB\xD8"
    "\xC1\xE3\xA1\xA3";
const char* const kThreadPoolPostDescription =  // 将一个任务投递给线程池(异步)，如果成功返回真，失败返回假。
    "\xBD\xAB\xD2\xBB\xB8\xF6\xC8\xCE\xCE\xF1\xCD\xB6\xB5\xDD\xB8\xF8\xCF\xDF\xB3\xCC\xB3\xD8(\xD2\xEC\xB2\xBD)\xA3\xAC"
    "\xC8\xE7\xB9\xFB\xB3\xC9\xB9\xA6\xB7\xB5\xBB\xD8\xD5\xE6\xA3\xAC\xCA\xA7\xB0\xDC\xB7\xB5\xBB\xD8\xBC\xD9\xA1\xA3";
const char* const kThreadPoolStateDescription =  // 查看线程池状态( 0 关闭; 1 正常; 2 正在关闭 )。
    "\xB2\xE9\xBF\xB4\xCF\xDF\xB3\xCC\xB3\xD8\xD7\xB4\xCC\xAC( 0 \xB9\xD8\xB1\xD5; 1 \xD5\xFD\xB3\xA3; 2 \xD5\xFD\xD4"
    "\xDA\xB9\xD8\xB1\xD5 )\xA1\xA3";
const char* const kThreadPoolWaitTimeDescription =  // 超时强制关闭,单位 毫秒
    "\xB3\xAC\xCA\xB1\xC7\xBF\xD6\xC6\xB9\xD8\xB1\xD5,\xB5\xA5\xCE\xBB \xBA\xC1\xC3\xEB";

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

const char* const kEntryPoints[] = {"ThreadPool_Create", "ThreadPool_Destroy", "ThreadPool_PostWorkItem",
                                    "ThreadPool_State", nullptr};
std::atomic<std::intptr_t> hostCallback{0};

kelvarn::ThreadPool& Pool(void* pool) { return *static_cast<kelvarn::ThreadPool*>(pool); }

}  // namespace

extern "C" {

std::int32_t ThreadPool_Create(void* pool, std::int32_t threadCount) { return Pool(pool).Create(threadCount); }

void ThreadPool_Destroy(void* pool, std::int32_t waitTime) { Pool(pool).Destroy(waitTime); }

std::int32_t ThreadPool_PostWorkItem(void* pool, kelvarn::WorkRoutine routine, std::int32_t param1,
                                     std::int32_t param2) {
  return Pool(pool).PostWorkItem(routine, param1, param2) ? 1 : 0;
}

std::int32_t ThreadPool_State(void* pool) { return Pool(pool).State(); }

std::intptr_t ThreadPool_ProcessNotifyLib(std::int32_t code, std::intptr_t value1, std::intptr_t /*value2*/) {
  switch (code) {
    case 1:
      hostCallback.store(value1);
      return 0;
    case 14:
      return reinterpret_cast<std::intptr_t>(kEntryPoints);
    case 15:
      return reinterpret_cast<std::intptr_t>("ThreadPool_ProcessNotifyLib");
    case 16:
      return 0;
    default:
      return -1;
  }
}

std::intptr_t ThreadPool_HostCallback() { return hostCallback.load(); }

}  // extern "C"
