// The frame's platform on Qt Widgets: the hidden main-thread object that
// carries out calls for other threads, windows made by registered factories,
// the message loop, and the run-time error box.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "frame/frame.h"

namespace kelvarn {

// Lives on the main thread; Invoke from another thread is a blocking queued
// call to it (the caller must hold no lock the main thread may need).
class QtUiThread final : public QObject, public UiThread {
 public:
  QtUiThread();
  void Invoke(const std::function<void()>& effect) override;
  bool IsCurrent() const override;
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
