#include "window/win32/win32_window_platform.h"

#include <shellapi.h>
#include <windows.h>

#include <map>
#include <utility>

#include "app/main_window.h"
#include "window/win32/png.h"

namespace kelvarn {
namespace {

// Thread timers carry no pointer: their tasks wait here, by timer, on the
// window thread.
std::map<UINT_PTR, std::function<void()>>& Waiting() {
  static std::map<UINT_PTR, std::function<void()>> tasks;
  return tasks;
}

void CALLBACK RunTask(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  auto task = Waiting().extract(timer);
  if (!task.empty()) task.mapped()();
}

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

void CALLBACK AnswerTimer(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), PressCancel, 0); }

// A failed export's box: the same dialog class, with its OK button.
BOOL CALLBACK PressOk(HWND window, LPARAM) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::string_view(name) != "#32770" || !IsWindowVisible(window)) return TRUE;
  if (HWND ok = GetDlgItem(window, IDOK)) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
  }
  return TRUE;
}

void CALLBACK AnswerOkTimer(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), PressOk, 0); }

}  // namespace

void Win32WindowPlatform::AddMainWindowFactory() {
  frame_.AddWindowFactory(std::string(kMainWindow), [this]() -> HWND {
    window_ = Win32MainWindow::Create(frame_.Ui(), DeliverToFrame(std::string(kMainWindow)));
    if (!window_) return nullptr;
    window_->Show();
    return window_->Handle();
  });
}

std::optional<MainWindowParts> Win32WindowPlatform::Parts() {
  if (!window_) return std::nullopt;
  return MainWindowParts{window_->Components(), window_->dialogs()};
}

void Win32WindowPlatform::OpenUrl(std::string_view url) {
  ShellExecuteA(nullptr, "open", std::string(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void Win32WindowPlatform::After(int ms, std::function<void()> task) {
  // Thread timers fire inside a message box's own loop too.
  if (const UINT_PTR timer = SetTimer(nullptr, 0, static_cast<UINT>(ms), &RunTask)) Waiting()[timer] = std::move(task);
}

bool Win32WindowPlatform::SaveScreenshot(const std::string& path) {
  return window_ && SaveWindowPicture(window_->Handle(), path);
}

void Win32WindowPlatform::AnswerForExport(std::string path) {
  if (window_) {
    window_->SetFileChooser([path](const FileRequest&) -> std::optional<FileChoice> { return FileChoice{path}; });
  }
  SetTimer(nullptr, 0, 20, &AnswerOkTimer);
}

void Win32WindowPlatform::CloseMainWindow() {
  SetTimer(nullptr, 0, 20, &AnswerTimer);
  if (window_) PostMessageA(window_->Handle(), WM_CLOSE, 0, 0);
}

}  // namespace kelvarn
