#include "window/win32/automation.h"

#include <cstdio>

#include "frame/frame.h"
#include "window/win32/png.h"

namespace kelvarn {
namespace {

// Thread timers carry no pointer: there is one program, and one automation.
Automation* automation = nullptr;

// The close question is a message box of this thread: the standard dialog
// class "#32770" with a Cancel button.
BOOL CALLBACK PressCancel(HWND window, LPARAM) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::string_view(name) != "#32770" || !IsWindowVisible(window)) return TRUE;
  if (HWND cancel = GetDlgItem(window, IDCANCEL)) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
  }
  return TRUE;
}

}  // namespace

void Automation::Prepare(Harvester::Options& options) {
  automation = this;
  LogOpenedUrls(options_, options);
  if (options_.screenshot.empty() && !options_.print) return;
  // Once the completed run's texts are drawn.
  options.onRunComplete = [] { SetTimer(nullptr, 0, 300, RunCompleteTimer); };
}

void CALLBACK Automation::RunCompleteTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  Win32MainWindow* window = automation->window_;
  if (!window) return;
  if (!automation->options_.screenshot.empty() &&
      !SaveWindowPicture(window->Handle(), automation->options_.screenshot)) {
    std::fprintf(stderr, "kelvarn: cannot write %s\n", automation->options_.screenshot.c_str());
  }
  if (automation->options_.print) PrintCollected(window->Components());
  std::fflush(nullptr);
  EndProgram(0);
}

void Automation::Start(Win32MainWindow& window) {
  window_ = &window;
  if (options_.closeAfterMs > 0) SetTimer(nullptr, 0, static_cast<UINT>(options_.closeAfterMs), CloseTimer);
}

void CALLBACK Automation::CloseTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  // Thread timers fire inside the message box's own loop too.
  SetTimer(nullptr, 0, 20, AnswerTimer);
  std::fprintf(stderr, "closing\n");
  std::fflush(stderr);
  if (automation->window_) PostMessageA(automation->window_->Handle(), WM_CLOSE, 0, 0);
}

void CALLBACK Automation::AnswerTimer(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), PressCancel, 0);
}

}  // namespace kelvarn
