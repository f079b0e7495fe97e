#include "window/win32/win32_main_window.h"

#include <commctrl.h>

#include "app/main_window.h"

namespace kelvarn {
namespace {

constexpr const char* kWindowClass = "KelvarnMainWindow";
// The window's outer size; the client area is what its border leaves.
constexpr int kWidth = 383, kHeight = 439;
// "宋体", "关键字", "相关关键字", "工作设置", "工作线程:", "采集级别:", "开始采集".
constexpr std::string_view kFont = "\xCB\xCE\xCC\xE5";
constexpr std::string_view kSeedsTitle = "\xB9\xD8\xBC\xFC\xD7\xD6";
constexpr std::string_view kPhrasesTitle = "\xCF\xE0\xB9\xD8\xB9\xD8\xBC\xFC\xD7\xD6";
constexpr std::string_view kSettingsTitle = "\xB9\xA4\xD7\xF7\xC9\xE8\xD6\xC3";
constexpr std::string_view kWorkersCaption = "\xB9\xA4\xD7\xF7\xCF\xDF\xB3\xCC:";
constexpr std::string_view kDepthCaption = "\xB2\xC9\xBC\xAF\xBC\xB6\xB1\xF0:";
constexpr std::string_view kStartCaption = "\xBF\xAA\xCA\xBC\xB2\xC9\xBC\xAF";

// Control identifiers start above IDOK and IDCANCEL, which dialog
// navigation sends for Enter and Escape.
enum : int { kSeedsId = 100, kPhrasesId, kWorkersId, kDepthId, kStartId, kStatusId };

// A component's place inside a group box, in the window's client area.
ControlRect In(ControlRect group, ControlRect rect) {
  return {group.x + rect.x, group.y + rect.y, rect.width, rect.height};
}

}  // namespace

Win32MainWindow::Win32MainWindow(UiThread& ui, EventSink events) : ui_(ui), events_(std::move(events)) {}

std::unique_ptr<Win32MainWindow> Win32MainWindow::Create(UiThread& ui, EventSink events) {
  std::unique_ptr<Win32MainWindow> window(new Win32MainWindow(ui, std::move(events)));
  if (!window->Build()) return nullptr;
  return window;
}

Win32MainWindow::~Win32MainWindow() {
  if (hwnd_) {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);  // no events from a window going with its object
    DestroyWindow(hwnd_);
  }
  if (font_) DeleteObject(font_);
}

bool Win32MainWindow::Build() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA windowClass{};
  if (!GetClassInfoExA(instance, kWindowClass, &windowClass)) {
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Win32MainWindow::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassExA(&windowClass)) return false;
  }
  const INITCOMMONCONTROLSEX common{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
  InitCommonControlsEx(&common);

  // Centred on the screen; a fixed single border, the system menu and a
  // minimize button, no maximize button.
  const int x = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
  hwnd_ = CreateWindowExA(0, kWindowClass, "Kelvarn", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, x, y,
                          kWidth, kHeight, nullptr, nullptr, instance, this);
  if (!hwnd_) return false;

  HDC screen = GetDC(nullptr);
  const int height = -MulDiv(9, GetDeviceCaps(screen, LOGPIXELSY), 72);
  ReleaseDC(nullptr, screen);
  font_ = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, std::string(kFont).c_str());

  // In the order of the window's table, which is also the Tab order.
  const ControlRect group1{8, 8, 176, 320}, group2{192, 8, 176, 320}, group3{8, 336, 360, 48};
  const auto decoration = [&](const char* windowClass, std::string_view text, DWORD style, ControlRect rect) {
    decoration_.push_back(std::make_unique<Win32PlainControl>(hwnd_, windowClass, text, style, rect));
    decoration_.back()->SetFont(font_);
  };
  decoration("BUTTON", kSeedsTitle, BS_GROUPBOX | WS_CLIPSIBLINGS, group1);
  seeds_ = std::make_unique<Win32ListBox>(ui_, hwnd_, In(group1, {8, 16, 160, 296}), kSeedsId, true);
  decoration("BUTTON", kPhrasesTitle, BS_GROUPBOX | WS_CLIPSIBLINGS, group2);
  phrases_ = std::make_unique<Win32ListBox>(ui_, hwnd_, In(group2, {8, 16, 160, 296}), kPhrasesId, true);
  decoration("BUTTON", kSettingsTitle, BS_GROUPBOX | WS_CLIPSIBLINGS, group3);
  decoration("STATIC", kWorkersCaption, SS_LEFT | SS_CENTERIMAGE, In(group3, {8, 16, 56, 24}));
  workers_ = std::make_unique<Win32EditBox>(ui_, hwnd_, In(group3, {64, 16, 56, 24}), kWorkersId);
  decoration("STATIC", kDepthCaption, SS_LEFT | SS_CENTERIMAGE, In(group3, {128, 16, 56, 24}));
  depth_ = std::make_unique<Win32EditBox>(ui_, hwnd_, In(group3, {184, 16, 56, 24}), kDepthId);
  start_ = std::make_unique<Win32Button>(ui_, hwnd_, In(group3, {248, 16, 104, 24}), kStartId, kStartCaption);
  RECT client{};
  GetClientRect(hwnd_, &client);
  status_ =
      std::make_unique<Win32StatusBar>(ui_, hwnd_, ControlRect{0, client.bottom - 20, client.right, 20}, kStatusId);
  for (Win32ListBox* list : {seeds_.get(), phrases_.get()}) list->SetRowFont(font_);
  for (Win32Control* control :
       std::initializer_list<Win32Control*>{workers_.get(), depth_.get(), start_.get(), status_.get()}) {
    control->SetFont(font_);
  }

  named_ = {{kSeedGroup, decoration_[0]->Handle()},
            {kSeedList, seeds_->Handle()},
            {kPhraseGroup, decoration_[1]->Handle()},
            {kPhraseList, phrases_->Handle()},
            {kSettingsGroup, decoration_[2]->Handle()},
            {kWorkersLabel, decoration_[3]->Handle()},
            {kWorkersBox, workers_->Handle()},
            {kDepthLabel, decoration_[4]->Handle()},
            {kDepthBox, depth_->Handle()},
            {kStartButton, start_->Handle()},
            {kStatusBar, status_->Handle()}};
  dialogs_.SetOwner(hwnd_);
  chooser_ = Win32FileChooser(hwnd_, "txt");
  fileDialog_ =
      std::make_unique<GuardedFileDialog>(ui_, [this](const FileRequest& request) { return chooser_(request); });

  seeds_->OnRightButtonDown([this](int x, int y, WPARAM keys) {
    events_(kSeedList, kEventRightButtonDown, {x, y, static_cast<std::int64_t>(keys)});
  });
  phrases_->OnRightButtonDown([this](int x, int y, WPARAM keys) {
    events_(kPhraseList, kEventRightButtonDown, {x, y, static_cast<std::int64_t>(keys)});
  });
  // MK_SHIFT and MK_CONTROL are the event's kKeyShift and kKeyControl.
  seeds_->OnKeyDown([this](WPARAM key, WPARAM held) {
    return events_(kSeedList, kEventKeyDown, {static_cast<std::int64_t>(key), static_cast<std::int64_t>(held)})
        .has_value();
  });
  phrases_->OnKeyDown([this](WPARAM key, WPARAM held) {
    return events_(kPhraseList, kEventKeyDown, {static_cast<std::int64_t>(key), static_cast<std::int64_t>(held)})
        .has_value();
  });
  workers_->Operations().OnContentChanged([this] { events_(kWorkersBox, kEventContentChanged, {}); });
  depth_->Operations().OnContentChanged([this] { events_(kDepthBox, kEventContentChanged, {}); });
  start_->OnClicked([this] { events_(kStartButton, kEventClicked, {}); });
  return true;
}

MainComponents Win32MainWindow::Components() {
  return {seeds_->Operations(), phrases_->Operations(), workers_->Operations(),
          depth_->Operations(), start_->Operations(),   status_->Operations(),
          *fileDialog_};
}

HWND Win32MainWindow::ControlNamed(std::string_view name) const {
  const auto it = named_.find(name);
  return it == named_.end() ? nullptr : it->second;
}

void Win32MainWindow::Show() {
  ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
}

LRESULT CALLBACK Win32MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* window = static_cast<Win32MainWindow*>(reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams);
    window->hwnd_ = hwnd;  // before CreateWindowExA returns it
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
  }
  auto* window = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  return window ? window->Procedure(message, wParam, lParam) : DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT Win32MainWindow::Procedure(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = hwnd_;
  LRESULT result = 0;
  if (ReflectToControl(message, wParam, lParam, result)) return result;
  switch (message) {
    case WM_DESTROY:
      // Closing is always allowed (WM_CLOSE's default destroys the window,
      // which has left the screen by now); the close sequence follows.
      events_("", kEventDestroying, {});
      break;
    case WM_NCDESTROY: {
      hwnd_ = nullptr;
      const std::function<void()> destroyed = destroyed_;
      const LRESULT done = DefWindowProcA(hwnd, message, wParam, lParam);
      if (destroyed) destroyed();
      return done;
    }
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace kelvarn
