// The window program's platform on Qt Widgets (window/window_platform.h):
// the frame on Qt, the main window of main_window.ui, timers, the window's
// picture, and the close question's Cancel button pressed as a user would.
#pragma once

#include "frame/qt/qt_frame.h"
#include "window/qt/main_window.h"
#include "window/window_platform.h"

namespace kelvarn {

class QtWindowPlatform final : public WindowPlatform {
 public:
  QtWindowPlatform() = default;  // a QApplication must exist

  FramePlatform& Frame() override { return frame_; }
  void AddMainWindowFactory() override;
  std::optional<MainWindowParts> Parts() override;
  void OpenUrl(std::string_view url) override;
  void After(int ms, std::function<void()> task) override;
  bool SaveScreenshot(const std::string& path) override;
  void AnswerForExport(std::string path) override;
  void CloseMainWindow() override;

  // The main window once it is made, else null.
  MainWindow* Window() const { return window_; }

 private:
  QtFramePlatform frame_;
  MainWindow* window_ = nullptr;  // owned by the frame, which destroys it at the end
};

// Installs Qt's own Chinese texts (standard buttons, file dialogs) when the
// system has them; false when it has not.
bool LoadQtTranslations();

}  // namespace kelvarn
