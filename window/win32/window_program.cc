#include "window/win32/window_program.h"

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <windows.h>

#include <memory>
#include <string>

#include "app/startup.h"
#include "frame/process.h"
#include "pool/thread_pool.h"
#include "window/options.h"
#include "window/win32/automation.h"

namespace kelvarn {

Win32MainWindow* OpenMainWindow(Win32FramePlatform& platform, AppHandles& handles, Harvester::Options options) {
  // The window lives as long as the process, as the harvester that holds its
  // components does.
  static std::unique_ptr<Win32MainWindow> window;
  platform.AddWindowFactory(std::string(kMainWindow), [&platform]() -> HWND {
    window = Win32MainWindow::Create(platform.Ui(), DeliverToFrame(std::string(kMainWindow)));
    if (!window) return nullptr;
    window->Show();
    return window->Handle();
  });
  RegisterWindow(MainWindowTemplate(), MainWindowBindings(handles));
  if (!LoadWindow(kMainWindow) || !window) return nullptr;
  handles.harvester = new Harvester(window->Components(), platform.Ui(), window->dialogs(), std::move(options));
  handles.dialogs = &window->dialogs();
  DeliverEvent(kMainWindow, "", kEventCreated);
  return window.get();
}

namespace {

// --harvest presses start once the loop runs, as the user's first click would.
void CALLBACK PressStart(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  DeliverEvent(kMainWindow, kStartButton, kEventClicked);
}

}  // namespace

int RunWindowProgram(int argc, char** argv) {
  static const WindowOptions windowOptions = ParseWindowOptions(argc, argv);
  static Automation automation(windowOptions);
  // --print's lines end in LF, as on every platform, when output is redirected.
  _setmode(_fileno(stdout), _O_BINARY);

  static Win32FramePlatform platform;
  InitFrame(platform, {&ThreadPool_ProcessNotifyLib});
  static AppHandles handles;
  SetExitCleanup([] { handles = {}; });

  // The start-up routine.
  Harvester::Options options = StartUp(ProcessorChoice::kFirst, windowOptions.searchUrl);
  options.openUrl = [](std::string_view url) {
    // A failure (no browser) is not the user's business at this point.
    ShellExecuteA(nullptr, "open", std::string(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  };
  automation.Prepare(options);
  if (Win32MainWindow* window = OpenMainWindow(platform, handles, std::move(options))) {
    if (!windowOptions.seedsFile.empty()) handles.harvester->ImportFile(windowOptions.seedsFile);
    if (windowOptions.harvest) SetTimer(nullptr, 0, 0, PressStart);
    automation.Start(*window);
  }
  TrimWorkingSet();
  RunMessageLoop();
  EndProgram(0);
  return 0;
}

}  // namespace kelvarn
