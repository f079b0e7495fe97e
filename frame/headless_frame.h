// The frame without a window system, for tests and the command line.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "frame/frame.h"

namespace kelvarn {

// The "window thread" is whichever thread holds this lock: Invoke runs the
// effect under it, so effects never interleave, and code running inside an
// effect counts as being on the window thread.
class HeadlessUiThread final : public UiThread {
 public:
  void Invoke(const std::function<void()>& effect) override {
    std::lock_guard lock(mutex_);
    const std::thread::id previous = owner_;
    owner_ = std::this_thread::get_id();
    effect();
    owner_ = previous;
  }
  bool IsCurrent() const override { return owner_ == std::this_thread::get_id(); }

 private:
  std::recursive_mutex mutex_;  // handlers run inside Invoke may call back in
  std::thread::id owner_;
};

// Windows exist in name only; the loop returns at once; errors go to
// standard error.
class HeadlessFramePlatform final : public FramePlatform {
 public:
  UiThread& Ui() override { return ui_; }
  bool MakeWindow(const WindowTemplate& window) override {
    windows_.insert(window.name);
    return true;
  }
  void RunLoop() override {}
  void QuitLoop() override {}
  bool ShowErrorBox(std::string_view) override { return false; }
  // Each window destroyed is reported, as the Qt and Win32 platforms report
  // theirs.
  void DestroyWindows() override {
    for (const std::string& window : std::exchange(windows_, {})) WindowDestroyed(window);
  }

 private:
  HeadlessUiThread ui_;
  std::set<std::string> windows_;
};

}  // namespace kelvarn
