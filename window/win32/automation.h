// The options for scripts (window/options.h) on Win32: thread timers, the
// window's picture, and the close question's Cancel button pressed as a
// user would.
#pragma once

#include "app/harvester.h"
#include "window/options.h"
#include "window/win32/win32_main_window.h"

namespace kelvarn {

class Automation {
 public:
  explicit Automation(const WindowOptions& options) : options_(options) {}
  // Sets the harvester's hooks the options need.
  void Prepare(Harvester::Options& options);
  // Starts --close-after's timer.
  void Start(Win32MainWindow& window);

 private:
  static void CALLBACK RunCompleteTimer(HWND, UINT, UINT_PTR timer, DWORD);
  static void CALLBACK CloseTimer(HWND, UINT, UINT_PTR timer, DWORD);
  static void CALLBACK AnswerTimer(HWND, UINT, UINT_PTR timer, DWORD);

  const WindowOptions& options_;
  Win32MainWindow* window_ = nullptr;
};

}  // namespace kelvarn
