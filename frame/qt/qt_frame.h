// The frame's platform on Qt Widgets: the hidden main-thread object that
// carries out calls for other threads, windows made by registered factories,
// the message loop, and the run-time error box.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "frame/frame.h"

namespace kelvarn {

// Lives on the main thread (the hidden window). Invoke from another thread
// queues the effect, wakes the main thread through an event descriptor and
// waits until the effect has run; the caller must hold no lock the main
// thread may need. The hand-off uses standard mutexes only, so the thread
// sanitizer sees every edge of it.
class QtUiThread final : public QObject, public UiThread {
 public:
  QtUiThread();
  ~QtUiThread() override;
  void Invoke(const std::function<void()>& effect) override;
  bool IsCurrent() const override;

 private:
  struct Call {
    const std::function<void()>* effect = nullptr;
    bool done = false;                 // guarded by mutex_
    std::condition_variable finished;  // one per call: only its caller wakes
  };
  void RunQueued();

  int wake_ = -1;
  std::mutex mutex_;
  std::deque<Call*> queue_;  // guarded by mutex_
};

class QtFramePlatform final : public FramePlatform {
 public:
  // Makes the window of a template; null when it cannot.
  using WindowFactory = std::function<QWidget*(const WindowTemplate&)>;

  QtFramePlatform();  // a QApplication must exist
  UiThread& Ui() override { return ui_; }
  void AddWindowFactory(std::string window, WindowFactory factory);
  bool CreateWindow(const WindowTemplate& window) override;
  void RunLoop() override;
  // Shows the box unless Qt has no real display (the offscreen and minimal
  // platforms), in which case it returns false.
  bool ShowErrorBox(std::string_view gbkText) override;
  void DestroyWindows() override;
  QWidget* Window(const std::string& name) const;

 private:
  QtUiThread ui_;
  std::map<std::string, WindowFactory, std::less<>> factories_;
  std::map<std::string, QPointer<QWidget>, std::less<>> windows_;
};

}  // namespace kelvarn
