// The window program's platform on Win32 (window/window_platform.h): the
// frame on Win32, Win32MainWindow, thread timers, the window's picture, and
// the close question's Cancel button pressed as a user would.
#pragma once

#include <memory>

#include "frame/win32/win32_frame.h"
#include "window/win32/win32_main_window.h"
#include "window/window_platform.h"

namespace kelvarn {

class Win32WindowPlatform final : public WindowPlatform {
 public:
  Win32WindowPlatform() = default;  // on the thread that will run the loop

  FramePlatform& Frame() override { return frame_; }
  void AddMainWindowFactory() override;
  std::optional<MainWindowParts> Parts() override;
  void OpenUrl(std::string_view url) override;
  void After(int ms, std::function<void()> task) override;
  bool SaveScreenshot(const std::string& path) override;
  void AnswerForExport(std::string path) override;
  void CloseMainWindow() override;

  // The main window once it is made, else null.
  Win32MainWindow* Window() const { return window_.get(); }

 private:
  Win32FramePlatform frame_;
  std::unique_ptr<Win32MainWindow> window_;
};

}  // namespace kelvarn
