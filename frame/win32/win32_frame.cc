#include "frame/win32/win32_frame.h"

#include <commctrl.h>

#include <algorithm>

namespace kelvarn {
namespace {

constexpr const char* kHiddenClass = "KelvarnHiddenWindow";
constexpr UINT kRunQueued = WM_APP + 1;  // calls wait in the queue
constexpr UINT kQuit = WM_APP + 2;       // a quit asked for from another thread
constexpr UINT_PTR kWatchId = 1;

}  // namespace

// A message-only window: it never shows, needs no display (Wine makes one
// without an X server) and sees no broadcasts.
Win32UiThread::Win32UiThread() : thread_(::GetCurrentThreadId()) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &HiddenProcedure;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
  windowClass.lpszClassName = kHiddenClass;
  ::RegisterClassExA(&windowClass);  // fails harmlessly for a second frame: the class exists
  hidden_ = ::CreateWindowExA(WS_EX_TOOLWINDOW, kHiddenClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
  ::SetWindowLongPtrA(hidden_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32UiThread::~Win32UiThread() {
  if (hidden_ && IsCurrent()) ::DestroyWindow(hidden_);
}

void Win32UiThread::Invoke(const std::function<void()>& effect) {
  if (IsCurrent()) {
    effect();
    return;
  }
  Call call(effect);
  SlimLockHold hold(lock_);
  // A message is already on its way when the queue holds calls: it takes
  // this one too.
  if (queue_.empty()) ::PostMessageA(hidden_, kRunQueued, 0, 0);
  queue_.push_back(&call);
  while (!call.done) lock_.Wait(finished_);
}

bool Win32UiThread::IsCurrent() const { return ::GetCurrentThreadId() == thread_; }

void Win32UiThread::PostQuit() {
  if (IsCurrent()) {
    ::PostQuitMessage(0);
  } else {
    ::PostMessageA(hidden_, kQuit, 0, 0);
  }
}

// An effect may open a modal loop of its own (a message box) that dispatches
// a later kRunQueued inside it: the batch is taken off the queue before any of
// it runs, so a nested pass takes only the calls queued after it.
void Win32UiThread::RunQueued() {
  std::deque<Call*> batch;
  {
    SlimLockHold hold(lock_);
    batch.swap(queue_);
  }
  if (batch.empty()) return;
  for (Call* call : batch) call->effect();
  {
    SlimLockHold hold(lock_);
    for (Call* call : batch) call->done = true;
  }
  ::WakeAllConditionVariable(&finished_);
}

LRESULT CALLBACK Win32UiThread::HiddenProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<Win32UiThread*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self && message == kRunQueued) {
    self->RunQueued();
    return 0;
  }
  if (message == kQuit) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

struct Win32FramePlatform::Made {
  std::string name;
  HWND window;
};

Win32FramePlatform::Win32FramePlatform() = default;

Win32FramePlatform::~Win32FramePlatform() {
  // A window outliving the platform must not report to it.
  for (const auto& made : windows_) {
    if (made->window) ::RemoveWindowSubclass(made->window, &Watch, kWatchId);
  }
}

void Win32FramePlatform::AddWindowFactory(std::string window, WindowFactory factory) {
  factories_[std::move(window)] = std::move(factory);
}

bool Win32FramePlatform::MakeWindow(const WindowTemplate& window) {
  const auto factory = factories_.find(window.name);
  if (factory == factories_.end()) return false;
  const HWND made = factory->second();
  if (!made) return false;
  std::erase_if(windows_, [](const auto& w) { return !w->window; });
  windows_.push_back(std::make_unique<Made>(Made{window.name, made}));
  ::SetWindowSubclass(made, &Watch, kWatchId, reinterpret_cast<DWORD_PTR>(windows_.back().get()));
  return true;
}

LRESULT CALLBACK Win32FramePlatform::Watch(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR made) {
  if (message != WM_NCDESTROY) return ::DefSubclassProc(window, message, wParam, lParam);
  const LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
  ::RemoveWindowSubclass(window, &Watch, kWatchId);
  auto* record = reinterpret_cast<Made*>(made);
  record->window = nullptr;
  WindowDestroyed(record->name);
  return result;
}

void Win32FramePlatform::RunLoop() {
  const bool open = std::any_of(windows_.begin(), windows_.end(), [](const auto& w) { return w->window; });
  if (!open) return;
  MSG message;
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

void Win32FramePlatform::QuitLoop() { ui_.PostQuit(); }

bool Win32FramePlatform::ShowErrorBox(std::string_view gbkText) {
  // "错误": no owner, the error icon, OK (flags 0x10). Without a display the
  // call fails at once.
  return ::MessageBoxA(nullptr, std::string(gbkText).c_str(), "\xB4\xED\xCE\xF3", MB_OK | MB_ICONERROR) > 0;
}

void Win32FramePlatform::DestroyWindows() {
  // Each destruction reports through Watch; one that fails stops no other.
  for (const auto& made : windows_) {
    if (made->window) ::DestroyWindow(made->window);
  }
  std::erase_if(windows_, [](const auto& w) { return !w->window; });
}

HWND Win32FramePlatform::Window(const std::string& name) const {
  for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
    if ((*it)->name == name && (*it)->window) return (*it)->window;
  }
  return nullptr;
}

}  // namespace kelvarn
