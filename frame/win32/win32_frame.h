// The frame's platform on Win32: the hidden message-only window that carries
// out calls for other threads, windows made by registered factories (the
// frame hears when each is destroyed), the message loop, and the run-time
// error box.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frame/frame.h"
#include "pool/thread_safety.h"

namespace kelvarn {

// Made on the window thread, which it belongs to from then on. Invoke from
// another thread queues the effect, posts the hidden window a message and
// waits until the window thread has run the effect (in its message loop, or in
// any modal loop it is in: a message box, a menu); the caller must hold no
// lock the window thread may need. One message is outstanding at most, so a
// full message queue cannot drop a call.
class Win32UiThread final : public UiThread {
 public:
  Win32UiThread();
  ~Win32UiThread() override;
  Win32UiThread(const Win32UiThread&) = delete;
  Win32UiThread& operator=(const Win32UiThread&) = delete;

  void Invoke(const std::function<void()>& effect) override EXCLUDES(mutex_);
  bool IsCurrent() const override;
  // Posts the quit message to the window thread's loop, from any thread.
  void PostQuit();

 private:
  class Call;
  // A call's flag is guarded by mutex_, which an annotation inside Call cannot
  // name; these two are the only way to it.
  bool Done(const Call& call) const REQUIRES(mutex_);
  void Finish(Call& call) REQUIRES(mutex_);

  class Call {
   public:
    explicit Call(const std::function<void()>& effect) : effect(effect) {}
    const std::function<void()>& effect;
    std::condition_variable finished;  // one per call: only its caller wakes

   private:
    friend bool Win32UiThread::Done(const Call&) const;
    friend void Win32UiThread::Finish(Call&);
    bool done_ = false;
  };

  static LRESULT CALLBACK HiddenProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void RunQueued() EXCLUDES(mutex_);

  // Constant after construction.
  DWORD thread_;
  HWND hidden_ = nullptr;

  Mutex mutex_;
  std::deque<Call*> queue_ GUARDED_BY(mutex_);
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
