// The frame's platform on Win32: the hidden message-only window that carries
// out calls for other threads, windows made by registered factories (the
// frame hears when each is destroyed), the message loop, and the run-time
// error box.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/thread_safety.h"
#include "frame/frame.h"

namespace kelvarn {

// Win32's slim lock as a capability. Under Wine it waits on a futex, where
// winpthreads' mutex and condition variable (std::mutex with this toolchain)
// go through the Wine server on every wait and wake: a hundred times dearer
// for a hand-off that every list addition makes.
class CAPABILITY("mutex") SlimLock {
 public:
  void Lock() ACQUIRE() { ::AcquireSRWLockExclusive(&lock_); }
  void Unlock() RELEASE() { ::ReleaseSRWLockExclusive(&lock_); }
  // Waits for `condition` to be woken; the lock must be held, and is again.
  void Wait(CONDITION_VARIABLE& condition) REQUIRES(this) {
    ::SleepConditionVariableSRW(&condition, &lock_, INFINITE, 0);
  }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class SCOPED_CAPABILITY SlimLockHold {
 public:
  explicit SlimLockHold(SlimLock& lock) ACQUIRE(lock) : lock_(lock) { lock_.Lock(); }
  ~SlimLockHold() RELEASE() { lock_.Unlock(); }
  SlimLockHold(const SlimLockHold&) = delete;
  SlimLockHold& operator=(const SlimLockHold&) = delete;

 private:
  SlimLock& lock_;
};

// Made on the window thread, which it belongs to from then on. Invoke from
// another thread queues the effect, posts the hidden window a message when the
// queue was empty and waits until the window thread has run the effect (in its
// message loop, or in any modal loop it is in: a message box, a menu). The
// window thread runs the queued calls as one batch and wakes their callers
// with one wake. The caller must hold no lock the window thread may need.
class Win32UiThread final : public UiThread {
 public:
  Win32UiThread();
  ~Win32UiThread() override;
  Win32UiThread(const Win32UiThread&) = delete;
  Win32UiThread& operator=(const Win32UiThread&) = delete;

  void Invoke(const std::function<void()>& effect) override EXCLUDES(lock_);
  bool IsCurrent() const override;
  // Posts the quit message to the window thread's loop, from any thread.
  void PostQuit();

 private:
  struct Call {
    explicit Call(const std::function<void()>& effect) : effect(effect) {}
    const std::function<void()>& effect;
    bool done = false;  // under lock_, which an annotation here cannot name
  };

  static LRESULT CALLBACK HiddenProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void RunQueued() EXCLUDES(lock_);

  // Constant after construction.
  DWORD thread_;
  HWND hidden_ = nullptr;

  SlimLock lock_;
  CONDITION_VARIABLE finished_ = CONDITION_VARIABLE_INIT;
  std::deque<Call*> queue_ GUARDED_BY(lock_);
};

class Win32FramePlatform final : public FramePlatform {
 public:
  // Makes the window registered under a template's name (a top-level window
  // of the calling thread); null when it cannot.
  using WindowFactory = std::function<HWND()>;

  Win32FramePlatform();  // on the thread that will run the loop
  ~Win32FramePlatform() override;
  UiThread& Ui() override { return ui_; }
  void AddWindowFactory(std::string window, WindowFactory factory);
  bool MakeWindow(const WindowTemplate& window) override;
  // GetMessage, TranslateMessage, DispatchMessage until the quit message.
  void RunLoop() override;
  void QuitLoop() override;
  // MessageBoxA on the calling thread, as the classic program showed it; false
  // when no box can be shown (no display).
  bool ShowErrorBox(std::string_view gbkText) override;
  void DestroyWindows() override;
  // The newest window made for a template that still exists, or null.
  HWND Window(const std::string& name) const;

 private:
  struct Made;  // a window made by MakeWindow, watched until it is destroyed
  static LRESULT CALLBACK Watch(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR made);

  Win32UiThread ui_;
  std::map<std::string, WindowFactory, std::less<>> factories_;
  std::vector<std::unique_ptr<Made>> windows_;  // Watch holds their addresses
};

}  // namespace kelvarn
