// What the window program (window/window_program.h) needs of a window
// system: the frame's platform, the main window, and the few things the
// options for scripts do that only the window system can. Qt's is in
// window/qt, Win32's in window/win32; the start-up order, the settings, the
// harvester and the options themselves are the program's, written once.
//
// Thread safety: every call belongs to the window thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/harvester.h"
#include "frame/frame.h"
#include "ui/dialogs.h"

namespace kelvarn {

// What the harvester drives: the main window's components and its dialogs.
struct MainWindowParts {
  MainComponents components;
  Dialogs& dialogs;
};

class WindowPlatform {
 public:
  virtual ~WindowPlatform() = default;

  virtual FramePlatform& Frame() = 0;

  // Registers the main window's maker with the frame under kMainWindow:
  // LoadWindow then makes the window and shows it. The window lives as long
  // as the process, as the harvester that holds its components does.
  virtual void AddMainWindowFactory() = 0;
  // The main window's parts once it is made; none before, or when it could
  // not be made.
  virtual std::optional<MainWindowParts> Parts() = 0;

  // Opens a page in the desktop's browser. A failure (no browser) is not
  // reported: it is not the user's business at that point.
  virtual void OpenUrl(std::string_view url) = 0;

  // Runs `task` once, from the message loop, `ms` ms from now (0: as soon as
  // the loop runs), also inside a modal loop such as a message box's.
  virtual void After(int ms, std::function<void()> task) = 0;
  // Saves a picture of the main window, as it stands on the screen, as a PNG
  // file; false when it cannot be taken or written.
  virtual bool SaveScreenshot(const std::string& path) = 0;
  // For a script that exports: from then on the main window's file dialog
  // is answered with `path` (its first type) without being shown, and a
  // message box with its OK button, as no one is there to read it.
  virtual void AnswerForExport(std::string path) = 0;
  // Closes the main window as a user would, and from then on answers the
  // message boxes that come up (the close question) with their Cancel button.
  virtual void CloseMainWindow() = 0;
};

}  // namespace kelvarn
