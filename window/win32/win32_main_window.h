// Kelvarn's main window on Win32, built in code from the window's table:
// group boxes, the two lists, the settings row, the status bar (all in
// "宋体" 9 pt), the file dialog and the dialogs. Each component raises its
// events under its window name through an EventSink; the window program
// passes one that hands them to the frame (DeliverToFrame). The window holds
// the components; the program creates the harvester that drives them.
//
// Construct, show and destroy on the window thread. The components'
// operations may be called from any thread (ui/components.h).
#pragma once

#include <map>
#include <memory>
#include <string>

#include "app/harvester.h"
#include "frame/frame.h"
#include "ui/win32/win32_components.h"
#include "ui/win32/win32_dialogs.h"

namespace kelvarn {

// Receives an event of a component (empty: the window itself); returns the
// handler's value, as DeliverEvent does.
using EventSink =
    std::function<std::optional<std::int64_t>(std::string_view component, std::int32_t event, const EventArgs& args)>;

// Hands events to the frame's bindings of `window`.
inline EventSink DeliverToFrame(std::string window) {
  return [window = std::move(window)](std::string_view component, std::int32_t event, const EventArgs& args) {
    return DeliverEvent(window, component, event, args);
  };
}

class Win32MainWindow {
 public:
  // Creates the window, centred on the screen and hidden; null when the
  // window system refuses (no display).
  static std::unique_ptr<Win32MainWindow> Create(UiThread& ui, EventSink events);
  ~Win32MainWindow();
  Win32MainWindow(const Win32MainWindow&) = delete;
  Win32MainWindow& operator=(const Win32MainWindow&) = delete;

  HWND Handle() const { return hwnd_; }
  void Show();
  // The control of a component, by its window name (kStartButton); null
  // for a name the window has no control for.
  HWND ControlNamed(std::string_view name) const;

  // The components under their window names, for the harvester.
  MainComponents Components();
  Win32Dialogs& dialogs() { return dialogs_; }
  // Lets tests answer the file dialog; the real one by default.
  void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
  // Called once the window is gone (WM_NCDESTROY): the frame's word that it
  // was destroyed.
  void OnDestroyed(std::function<void()> handler) { destroyed_ = std::move(handler); }

 private:
  Win32MainWindow(UiThread& ui, EventSink events);
  bool Build();
  LRESULT Procedure(UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  UiThread& ui_;
  EventSink events_;
  std::function<void()> destroyed_;
  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
  Win32Dialogs dialogs_;
  FileChooser chooser_;
  std::vector<std::unique_ptr<Win32PlainControl>> decoration_;  // group boxes and labels
  std::unique_ptr<Win32ListBox> seeds_, phrases_;
  std::unique_ptr<Win32EditBox> workers_, depth_;
  std::unique_ptr<Win32Button> start_;
  std::unique_ptr<Win32StatusBar> status_;
  std::unique_ptr<GuardedFileDialog> fileDialog_;
  std::map<std::string, HWND, std::less<>> named_;
};

}  // namespace kelvarn
