// The frame: event delivery, the end sequence and run-time errors, on the
// headless platform and on Qt's offscreen one.
#include "frame/frame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <climits>
#include <thread>

#include "frame/headless_frame.h"
#include "frame/qt/qt_frame.h"
#include "frame/runtime.h"
#include "pool/thread_pool.h"
#include "text/files.h"

namespace kelvarn {
namespace {

using ::testing::ExitedWithCode;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

void Say(const char* text) { static_cast<void>(::write(2, text, std::strlen(text))); }

std::vector<std::string> notifications;
std::intptr_t RecordingModule(std::int32_t code, std::intptr_t value1, std::intptr_t) {
  if (code == kNotifyProgramEnds) Say("modules told\n");
  notifications.push_back(std::to_string(code) + (value1 == reinterpret_cast<std::intptr_t>(&FrameNotify) ? "f" : ""));
  return 0;
}

std::intptr_t FailingModule(std::int32_t code, std::intptr_t, std::intptr_t) {
  if (code == kNotifyProgramEnds) RaiseRuntimeError(4);
  return 0;
}

class FrameTest : public ::testing::Test {
 protected:
  static HeadlessFramePlatform& Platform() {
    static HeadlessFramePlatform platform;
    return platform;
  }
  static void SetUpTestSuite() {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    notifications.clear();
    InitFrame(Platform(), {&RecordingModule, &ThreadPool_ProcessNotifyLib});
    RegisterWindow(
        {"main",
         {{"button", ComponentKind::kButton}, {"group", ComponentKind::kGroupBox}, {"silent", ComponentKind::kButton}}},
        {{"main", "button", kEventClicked, [](const EventArgs& args) -> std::optional<std::int64_t> {
            const auto source = GetEventSource();
            Say(("handler " + source->window + "/" + source->component + "\n").c_str());
            return args.empty() ? 0 : args[0] * 2;
          }}});
    ASSERT_TRUE(LoadWindow("main"));
  }
};

TEST_F(FrameTest, StartUpPreparedTheProcess) {
  char cwd[PATH_MAX];
  ASSERT_NE(nullptr, ::getcwd(cwd, sizeof cwd));
  EXPECT_EQ(ProgramDirectory(), std::string(cwd) + "/");  // relative paths resolve beside the program
  EXPECT_EQ((std::vector<std::string>{"1f"}), notifications);
  EXPECT_FALSE(LoadWindow("no such window"));
}

TEST_F(FrameTest, EventsReachTheirHandlers) {
  EXPECT_EQ(std::optional<std::int64_t>(42), DeliverEvent("main", "button", kEventClicked, {21}));
  EXPECT_EQ(std::nullopt, DeliverEvent("main", "silent", kEventClicked));  // no handler bound
  EXPECT_EQ(std::nullopt, DeliverEvent("main", "", kEventCreated));
  EXPECT_FALSE(GetEventSource().has_value());  // only while delivering
}

TEST_F(FrameTest, BadEventSourcesAreRunTimeErrors) {
  EXPECT_EXIT(DeliverEvent("other", "button", kEventClicked), ExitedWithCode(255),
              HasSubstr("错误信息：未找到引发事件的窗口\r\n"));
  // A window the platform destroyed has left the frame, as on Qt.
  EXPECT_EXIT(
      {
        Platform().DestroyWindows();
        DeliverEvent("main", "button", kEventClicked);
      },
      ExitedWithCode(255), HasSubstr("错误信息：未找到引发事件的窗口\r\n"));
  EXPECT_EXIT(DeliverEvent("main", "nothing", kEventClicked), ExitedWithCode(255),
              HasSubstr("错误信息：未找到引发事件的窗口组件\r\n"));
  EXPECT_EXIT(DeliverEvent("main", "group", kEventClicked), ExitedWithCode(255),
              HasSubstr("错误信息：引发事件的窗口组件无效\r\n"));
}

TEST_F(FrameTest, EndFromAWorkerRunsTheCleanUpOnceAndNoHandlerAfter) {
  EXPECT_EXIT(
      {
        SetExitCleanup([] {
          DeliverEvent("main", "button", kEventClicked, {1});  // too late: reaches nothing
          Say("cleanup\n");
        });
        std::thread([] { EndProgram(7); }).join();
        std::thread([] { EndProgram(8); }).join();
        Say("not reached\n");
      },
      ExitedWithCode(7), MatchesRegex("cleanup\nmodules told\n"));
}

TEST_F(FrameTest, RunTimeErrorSkipsTheCleanUp) {
  EXPECT_EXIT(
      {
        SetExitCleanup([] { Say("cleanup\n"); });
        std::thread([] { RaiseRuntimeError(5); }).join();
      },
      ExitedWithCode(255), ::testing::AllOf(HasSubstr("错误代码：5"), ::testing::Not(HasSubstr("cleanup"))));
}

// The end sequence meeting a run-time error of its own still ends, with -1.
TEST_F(FrameTest, RunTimeErrorWhileEndingEndsWithMinusOne) {
  EXPECT_EXIT(
      {
        SetExitCleanup([] { RaiseRuntimeError(3); });
        EndProgram(0);
      },
      ExitedWithCode(255), HasSubstr("错误代码：3"));
  EXPECT_EXIT(
      {
        static HeadlessFramePlatform failing;
        InitFrame(failing, {&FailingModule});
        RaiseRuntimeError(5);  // and the module told of the end fails too
      },
      ExitedWithCode(255), HasSubstr("错误代码：5"));
}

// A Qt frame on the offscreen platform with one plain window "main".
struct QtFrame {
  QtFrame() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QByteArray runtime = "/tmp/kelvarn-frame-test-" + QByteArray::number(::getpid());
    ::mkdir(runtime.constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", runtime);
    app = std::make_unique<QApplication>(argc, argv);
    platform = std::make_unique<QtFramePlatform>();
    InitFrame(*platform);
    platform->AddWindowFactory("main", [] { return new QWidget; });
    RegisterWindow({"main", {}}, {});
    if (!LoadWindow("main")) Say("no window\n");
    platform->Window("main")->show();
  }
  int argc = 1;
  char name[16] = "frame_test";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QApplication> app;
  std::unique_ptr<QtFramePlatform> platform;
};

// A worker's end request is carried out by the main thread in its loop.
void EndFromAWorker() {
  QtFrame frame;
  const auto mainThread = std::this_thread::get_id();
  SetExitCleanup([mainThread] { Say(std::this_thread::get_id() == mainThread ? "cleanup on main\n" : "elsewhere\n"); });
  std::thread([] { EndProgram(3); }).detach();
  RunMessageLoop();
  Say("loop ended\n");
}

void CloseTheLastWindow() {
  QtFrame frame;
  SetExitCleanup([] { Say("cleanup\n"); });
  QWidget* window = frame.platform->Window("main");
  QMetaObject::invokeMethod(
      window, [window] { window->close(); }, Qt::QueuedConnection);
  RunMessageLoop();
  EndProgram(0);
}

// The frame hears of a window destroyed without being closed.
void DestroyTheLastWindow() {
  QtFrame frame;
  QTimer::singleShot(0, [&frame] { delete frame.platform->Window("main"); });
  RunMessageLoop();
  Say("loop ended\n");
  DeliverEvent("main", "", kEventCreated);
}

void FailOnAWorker() {
  QtFrame frame;
  std::thread([] { RaiseRuntimeError(1); }).detach();
  RunMessageLoop();
}

TEST(QtFrameTest, EndProgramFromAWorkerWhileTheLoopRuns) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(EndFromAWorker(), ExitedWithCode(3), MatchesRegex("cleanup on main\n"));
}

TEST(QtFrameTest, ClosingTheLastWindowEndsTheLoop) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(CloseTheLastWindow(), ExitedWithCode(0), MatchesRegex("cleanup\n"));
}

TEST(QtFrameTest, ADestroyedWindowLeavesTheFrame) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(DestroyTheLastWindow(), ExitedWithCode(255),
              ::testing::AllOf(HasSubstr("loop ended\n"), HasSubstr("错误信息：未找到引发事件的窗口\r\n")));
}

TEST(QtFrameTest, RunTimeErrorWithoutADisplayGoesToStandardError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(FailOnAWorker(), ExitedWithCode(255),
              HasSubstr("运行时出错!\r\n\r\n错误代码：1\r\n\r\n错误信息：数组成员引用下标超出定义范围\r\n"));
}

}  // namespace
}  // namespace kelvarn
