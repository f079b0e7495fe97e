// The frame on Win32: calls handed to the window thread, the message loop
// ending with the last window, the error box when there is no display, and
// the end sequence. Windows here are message-only windows, which need no
// display, so the suite runs under Wine without an X server.
#include "frame/win32/win32_frame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "frame/runtime.h"

namespace kelvarn {
namespace {

using ::testing::ExitedWithCode;
using ::testing::HasSubstr;

void Say(std::string_view text) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

HWND MessageOnlyWindow() {
  return ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ::GetModuleHandleA(nullptr), nullptr);
}

// A frame with one window "main"; its message loop runs until "main" is
// destroyed.
struct Frame {
  Frame() {
    InitFrame(platform);
    platform.AddWindowFactory("main", &MessageOnlyWindow);
    RegisterWindow({"main", {}}, {});
    if (!LoadWindow("main")) Say("no window\n");
  }
  void DestroyMain() {
    platform.Ui().Invoke([this] { ::DestroyWindow(platform.Window("main")); });
  }
  Win32FramePlatform platform;
};

TEST(Win32FrameTest, CallsFromTwentyThreadsRunOnTheWindowThreadWhileTheyWait) {
  Frame frame;
  constexpr int kThreads = 20, kCalls = 50;
  int effects = 0;  // touched on the window thread only
  std::vector<int> seen(kThreads * kCalls, -1), onWindowThread(kThreads * kCalls, 0);
  std::atomic<int> finished{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        const int slot = t * kCalls + i;
        frame.platform.Ui().Invoke([&] {
          onWindowThread[slot] = frame.platform.Ui().IsCurrent();
          seen[slot] = effects++;
        });
        if (seen[slot] < 0) onWindowThread[slot] = -1;  // Invoke came back before its effect ran
      }
      if (++finished == kThreads) frame.DestroyMain();  // the last window gone ends the loop
    });
  }
  RunMessageLoop();
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(kThreads * kCalls, effects);
  EXPECT_THAT(onWindowThread, ::testing::Each(1));
  EXPECT_EQ(nullptr, frame.platform.Window("main"));
}

// Whether a box could be shown: on a desktop it would wait for a click.
bool HaveADisplay() {
  const HWND window = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (window) ::DestroyWindow(window);
  return window != nullptr;
}

TEST(Win32FrameDeathTest, RunTimeErrorWithoutADisplayGoesToStandardError) {
  if (HaveADisplay()) GTEST_SKIP() << "the box would wait for a click";
  EXPECT_EXIT(
      {
        Frame frame;
        SetExitCleanup([] { Say("cleanup\n"); });
        std::thread([] { RaiseRuntimeError(1); }).detach();
        RunMessageLoop();
      },
      ExitedWithCode(-1),
      ::testing::AllOf(HasSubstr("\xB4\xED\xCE\xF3\xB4\xFA\xC2\xEB\xA3\xBA"
                                 "1"),  // 错误代码：1
                       ::testing::Not(HasSubstr("cleanup"))));
}

// The end asked for by a worker runs on the window thread, in its loop, and
// the process ends with the code. Run by itself by CTest, which checks that a
// POSIX shell sees -1 as 255 (tests/CMakeLists.txt).
TEST(Win32FrameEndTest, DISABLED_EndFromAWorkerEndsThroughTheWindowThread) {
  static Frame frame;
  const DWORD windowThread = ::GetCurrentThreadId();
  SetExitCleanup([windowThread] { Say(::GetCurrentThreadId() == windowThread ? "cleanup on main\n" : "elsewhere\n"); });
  std::thread([] { EndProgram(-1); }).detach();
  RunMessageLoop();
  Say("loop ended\n");
}

}  // namespace
}  // namespace kelvarn
