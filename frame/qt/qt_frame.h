// The frame's platform on Qt Widgets: the hidden main-thread object that
// carries out calls for other threads, windows made by registered factories
// (the frame hears when each is destroyed), the message loop, and the
// run-time error box.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/thread_safety.h"
#include "frame/frame.h"

namespace kelvarn {

// Lives on the main thread (the hidden window). Invoke from another thread
// queues the effect, wakes the main thread through an event descriptor and
// waits until the effect has run; the caller must hold no lock the main
// thread may need. The hand-off uses a standard mutex underneath, so the
// thread sanitizer sees every edge of it.
class QtUiThread final : public QObject, public UiThread {
 public:
  QtUiThread();
  ~QtUiThread() override;
  void Invoke(const std::function<void()>& effect) override EXCLUDES(mutex_);
  bool IsCurrent() const override;

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
    friend bool QtUiThread::Done(const Call&) const;
    friend void QtUiThread::Finish(Call&);
    bool done_ = false;
  };

  void RunQueued() EXCLUDES(mutex_);

  int wake_ = -1;
  Mutex mutex_;
  std::deque<Call*> queue_ GUARDED_BY(mutex_);
};

class QtFramePlatform final : public FramePlatform {
 public:
  // Makes the window registered under a template's name; null when it cannot.
  using WindowFactory = std::function<QWidget*()>;

  QtFramePlatform();  // a QApplication must exist
  UiThread& Ui() override { return ui_; }
  void AddWindowFactory(std::string window, WindowFactory factory);
  bool MakeWindow(const WindowTemplate& window) override;
  void RunLoop() override;
  void QuitLoop() override;
  // Shows the box on the main thread (another thread waits for it) unless Qt
  // has no real display (the offscreen and minimal platforms), in which case
  // it returns false.
  bool ShowErrorBox(std::string_view gbkText) override;
  void DestroyWindows() override;
  QWidget* Window(const std::string& name) const;

 private:
  QtUiThread ui_;
  std::map<std::string, WindowFactory, std::less<>> factories_;
  std::map<std::string, QPointer<QWidget>, std::less<>> windows_;
};

}  // namespace kelvarn
