// A window thread for the Win32 component tests and the list benchmark: the
// thread that makes it. Other threads queue their effect, wake it with one
// posted message per batch and wait; its message loop (any pump, modal ones
// included) runs the whole batch. The lock and the condition are Win32's
// slim ones: under Wine they wait on futexes, where winpthreads' mutex and
// condition variable (std::mutex in this toolchain) go through the Wine
// server on every wait and wake, which cost a hundred times more here.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef CreateWindow

#include <deque>
#include <functional>

#include "frame/main_thread.h"

namespace kelvarn {

class TestWin32UiThread final : public UiThread {
 public:
  TestWin32UiThread() : thread_(GetCurrentThreadId()) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &Proc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KelvarnTestUiThread";
    RegisterClassA(&windowClass);
    hwnd_ = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            windowClass.hInstance, nullptr);
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~TestWin32UiThread() override { DestroyWindow(hwnd_); }

  void Invoke(const std::function<void()>& effect) override {
    if (IsCurrent()) return effect();
    Call call(effect);
    AcquireSRWLockExclusive(&lock_);
    if (queue_.empty()) PostMessageA(hwnd_, WM_APP, 0, 0);
    queue_.push_back(&call);
    while (!call.done) SleepConditionVariableSRW(&finished_, &lock_, INFINITE, 0);
    ReleaseSRWLockExclusive(&lock_);
  }
  bool IsCurrent() const override { return GetCurrentThreadId() == thread_; }

 private:
  struct Call {
    explicit Call(const std::function<void()>& e) : effect(e) {}
    const std::function<void()>& effect;
    bool done = false;
  };

  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_APP) return DefWindowProcA(hwnd, message, wParam, lParam);
    reinterpret_cast<TestWin32UiThread*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA))->RunQueued();
    return 0;
  }

  void RunQueued() {
    AcquireSRWLockExclusive(&lock_);
    std::deque<Call*> batch;
    batch.swap(queue_);
    ReleaseSRWLockExclusive(&lock_);
    for (Call* call : batch) call->effect();
    // Every caller of the batch at once: one wake for all of them.
    AcquireSRWLockExclusive(&lock_);
    for (Call* call : batch) call->done = true;
    ReleaseSRWLockExclusive(&lock_);
    WakeAllConditionVariable(&finished_);
  }

  const DWORD thread_;
  HWND hwnd_ = nullptr;
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE finished_ = CONDITION_VARIABLE_INIT;
  std::deque<Call*> queue_;
};

}  // namespace kelvarn
