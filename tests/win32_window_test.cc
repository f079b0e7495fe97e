// The window program's main window on Win32 under Wine (code page 936): where
// its controls sit, what they show, and the events they raise.
#include <gtest/gtest.h>

#include "window/win32/win32_main_window.h"

#include <string>
#include <utility>
#include <vector>

#include "app/main_window.h"
#include "frame/win32/win32_frame.h"

namespace kelvarn {
namespace {

Text TextOf(HWND hwnd) {
  char buffer[512] = {};
  GetWindowTextA(hwnd, buffer, sizeof buffer);
  return buffer;
}

TEST(Win32MainWindowTest, FollowsTheTableAndRaisesItsEvents) {
  ASSERT_EQ(936u, GetACP());
  // Error 1400 (no window): no display, and Wine's null driver not chosen.
  if (HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr)) {
    DestroyWindow(probe);
  } else {
    GTEST_SKIP() << "no display for windows (error " << GetLastError() << ")";
  }
  Win32UiThread ui;
  std::vector<std::pair<std::string, std::int32_t>> events;
  EventArgs rightButtonArgs;
  EventArgs keyArgs;
  auto window = Win32MainWindow::Create(
      ui, [&](std::string_view component, std::int32_t event, const EventArgs& a) -> std::optional<std::int64_t> {
        events.emplace_back(std::string(component), event);
        if (event == kEventRightButtonDown) rightButtonArgs = a;
        if (event == kEventKeyDown) keyArgs = a;
        return std::nullopt;
      });
  ASSERT_NE(nullptr, window);
  window->Show();
  HWND hwnd = window->Handle();
  RECT outer{};
  GetWindowRect(hwnd, &outer);
  EXPECT_EQ(383, outer.right - outer.left);
  EXPECT_EQ(439, outer.bottom - outer.top);
  EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - 383) / 2, outer.left);
  EXPECT_EQ("Kelvarn", TextOf(hwnd));
  const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_THICKFRAME));

  // Places in the client area, and texts, by control.
  const auto place = [&](HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&r), 2);
    return std::vector<LONG>{r.left, r.top, r.right - r.left, r.bottom - r.top};
  };
  EXPECT_EQ((std::vector<LONG>{16, 24, 160, 296}), place(window->ControlNamed(kSeedList)));
  EXPECT_EQ((std::vector<LONG>{200, 24, 160, 296}), place(window->ControlNamed(kPhraseList)));
  EXPECT_EQ((std::vector<LONG>{72, 352, 56, 24}), place(window->ControlNamed(kWorkersBox)));
  EXPECT_EQ("\xB9\xA4\xD7\xF7\xC9\xE8\xD6\xC3", TextOf(window->ControlNamed(kSettingsGroup)));  // 工作设置
  EXPECT_EQ(nullptr, window->ControlNamed(kFileDialog));                                        // no control of its own
  HWND start = window->ControlNamed(kStartButton);
  EXPECT_EQ((std::vector<LONG>{256, 352, 104, 24}), place(start));
  EXPECT_EQ("\xBF\xAA\xCA\xBC\xB2\xC9\xBC\xAF", TextOf(start));  // 开始采集
  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(start, WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_EQ(Text("\xCB\xCE\xCC\xE5"), Text(font.lfFaceName));  // 宋体

  // Tab goes round the lists, the edit boxes and the button, not the labels
  // or group boxes.
  std::vector<HWND> tabOrder;
  SetFocus(window->ControlNamed(kSeedList));
  for (int i = 0; i < 5; ++i) {
    SendMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    tabOrder.push_back(GetFocus());
  }
  EXPECT_EQ((std::vector<HWND>{window->ControlNamed(kPhraseList), window->ControlNamed(kWorkersBox),
                               window->ControlNamed(kDepthBox), start, window->ControlNamed(kSeedList)}),
            tabOrder);

  window->Components().编辑框_工作线程.SetContent("20");
  SendMessageA(start, BM_CLICK, 0, 0);
  SendMessageA(window->ControlNamed(kSeedList), WM_RBUTTONDOWN, MK_RBUTTON | MK_SHIFT, MAKELPARAM(5, 6));
  EXPECT_EQ((EventArgs{5, 6, MK_RBUTTON | MK_SHIFT}), rightButtonArgs);
  SendMessageA(window->ControlNamed(kPhraseList), WM_KEYDOWN, kKeyF3, 0);
  EXPECT_EQ((EventArgs{kKeyF3, 0}), keyArgs);
  bool destroyed = false;
  window->OnDestroyed([&] { destroyed = true; });
  SendMessageA(hwnd, WM_CLOSE, 0, 0);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ((std::vector<std::pair<std::string, std::int32_t>>{{kWorkersBox, kEventContentChanged},
                                                               {kStartButton, kEventClicked},
                                                               {kSeedList, kEventRightButtonDown},
                                                               {kPhraseList, kEventKeyDown},
                                                               {"", kEventDestroying}}),
            events);
}

}  // namespace
}  // namespace kelvarn
