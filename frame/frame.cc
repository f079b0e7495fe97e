#include "frame/frame.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <set>

#include "base/thread_safety.h"
#include "frame/runtime.h"
#include "frame/system.h"
#include "text/files.h"

namespace kelvarn {
namespace {

// "未找到引发事件的窗口", "未找到引发事件的窗口组件", "引发事件的窗口组件无效".
constexpr std::string_view kNoWindow =
    "\xCE\xB4\xD5\xD2\xB5\xBD\xD2\xFD\xB7\xA2\xCA\xC2\xBC\xFE\xB5\xC4\xB4\xB0\xBF\xDA";
constexpr std::string_view kNoComponent =
    "\xCE\xB4\xD5\xD2\xB5\xBD\xD2\xFD\xB7\xA2\xCA\xC2\xBC\xFE\xB5\xC4\xB4\xB0\xBF\xDA\xD7\xE9\xBC\xFE";
constexpr std::string_view kInvalidComponent =
    "\xD2\xFD\xB7\xA2\xCA\xC2\xBC\xFE\xB5\xC4\xB4\xB0\xBF\xDA\xD7\xE9\xBC\xFE\xCE\xDE\xD0\xA7";

struct BindingKey {
  std::string window, component;
  std::int32_t event;
  auto operator<=>(const BindingKey&) const = default;  // NOLINT(modernize-use-nullptr): there is no 0 to replace
};

// The frame record. The main thread owns everything but the exit clean-up
// and the atomics.
struct Frame {
  FramePlatform* platform = nullptr;
  std::vector<ModuleNotify> modules;
  std::map<std::string, WindowTemplate, std::less<>> templates;
  std::map<BindingKey, EventHandler> bindings;
  std::multiset<std::string, std::less<>> loaded;  // one entry per window made
  std::optional<EventSource> source;
  bool loopStarted = false;
  std::atomic<bool> endingBegun{false};  // the main thread runs the end sequence, once; not a second ending flag
  Mutex cleanupMutex;
  std::function<void()> exitCleanup GUARDED_BY(cleanupMutex);
};

Frame& TheFrame() {
  static Frame* frame = new Frame;  // never destroyed: the process ends without static destructors
  return *frame;
}

bool OnMainThread() {
  Frame& f = TheFrame();
  return !f.platform || f.platform->Ui().IsCurrent();
}

void ReportThroughPlatform(std::string_view text) {
  Frame& f = TheFrame();
  if (!f.platform || !f.platform->ShowErrorBox(text)) WriteRuntimeErrorToStandardError(text);
}

void EndAfterRuntimeError(int exitCode) {
  Frame& f = TheFrame();
  {
    MutexLock lock(f.cleanupMutex);
    f.exitCleanup = nullptr;  // a run-time error skips the clean-up
  }
  EndProgram(exitCode);
}

bool RaisesEvents(ComponentKind kind) {
  switch (kind) {
    case ComponentKind::kGroupBox:
    case ComponentKind::kLabel:
    case ComponentKind::kStatusBar:
    case ComponentKind::kFileDialog:
    case ComponentKind::kMenu:
      return false;
    default:
      return true;
  }
}

}  // namespace

std::intptr_t FrameNotify(std::int32_t, std::intptr_t, std::intptr_t) { return 0; }

void InitFrame(FramePlatform& platform, std::vector<ModuleNotify> modules) {
  Frame& f = TheFrame();
  f.platform = &platform;
  f.modules = std::move(modules);
  // Relative paths (config.ini among them) resolve against the program's own
  // directory whatever directory it was started from.
  if (!system::ChangeDirectory(ProgramDirectory())) std::perror("chdir");
  InstallRuntimeSupport();
  SetRuntimeErrorReporter(&ReportThroughPlatform);
  SetProgramEnder(&EndAfterRuntimeError);
  for (ModuleNotify notify : f.modules) notify(kNotifyFrameEntry, reinterpret_cast<std::intptr_t>(&FrameNotify), 0);
}

void SetExitCleanup(std::function<void()> cleanup) {
  Frame& f = TheFrame();
  MutexLock lock(f.cleanupMutex);
  f.exitCleanup = std::move(cleanup);
}

void RegisterWindow(WindowTemplate window, std::vector<EventBinding> bindings) {
  Frame& f = TheFrame();
  for (auto& b : bindings) f.bindings[{b.window, b.component, b.event}] = std::move(b.handler);
  const std::string name = window.name;
  f.templates[name] = std::move(window);
}

bool LoadWindow(std::string_view window) {
  Frame& f = TheFrame();
  const auto it = f.templates.find(window);
  if (it == f.templates.end() || !f.platform) return false;
  const auto entry = f.loaded.insert(it->first);  // before creating it: the created event comes from inside
  if (f.platform->MakeWindow(it->second)) return true;
  f.loaded.erase(entry);
  return false;
}

void WindowDestroyed(std::string_view window) {
  Frame& f = TheFrame();
  const auto entry = f.loaded.find(window);
  if (entry == f.loaded.end()) return;
  f.loaded.erase(entry);
  // The end sequence destroys the windows itself and ends the process.
  if (f.loaded.empty() && f.loopStarted && EndingCount() == 0 && f.platform) f.platform->QuitLoop();
}

void RunMessageLoop() {
  Frame& f = TheFrame();
  f.loopStarted = true;
  if (!f.loaded.empty() && f.platform) f.platform->RunLoop();
}

void EndProgram(std::int32_t exitCode) {
  Frame& f = TheFrame();
  BeginEnding();
  if (!OnMainThread()) {
    if (f.endingBegun.load()) return;  // the main thread is finishing the end
    // The main thread may have begun meanwhile and be waiting in the end
    // sequence; then it finishes, as above.
    f.platform->Ui().Invoke([&f, exitCode] {
      if (!f.endingBegun.load()) EndProgram(exitCode);
    });
    if (!f.endingBegun.load()) system::EndProcess(exitCode);
    return;
  }
  if (f.endingBegun.exchange(true)) {
    // Asked again by the sequence itself (a run-time error in the clean-up or
    // in a module told of the end): the sequence below it cannot be resumed,
    // and returning would leave the caller waiting for an end that never comes.
    system::EndProcess(exitCode);
  }
  f.source.reset();
  std::function<void()> cleanup;
  {
    MutexLock lock(f.cleanupMutex);
    cleanup = std::move(f.exitCleanup);
    f.exitCleanup = nullptr;
  }
  if (cleanup) cleanup();
  for (ModuleNotify notify : f.modules) notify(kNotifyProgramEnds, 0, 0);
  if (f.platform) f.platform->DestroyWindows();
  system::EndProcess(exitCode);
}

std::optional<EventSource> GetEventSource() { return TheFrame().source; }

std::optional<std::int64_t> DeliverEvent(std::string_view window, std::string_view component, std::int32_t event,
                                         const EventArgs& args) {
  if (EndingCount() >= 1) return std::nullopt;
  Frame& f = TheFrame();
  const auto loaded = f.loaded.find(window);
  if (loaded == f.loaded.end()) ReportRuntimeError(kNoWindow, 0);
  if (!component.empty()) {
    const WindowTemplate& t = f.templates.find(window)->second;
    const auto it = std::find_if(t.components.begin(), t.components.end(),
                                 [&](const ComponentTemplate& c) { return c.name == component; });
    if (it == t.components.end()) ReportRuntimeError(kNoComponent, 0);
    if (!RaisesEvents(it->kind)) ReportRuntimeError(kInvalidComponent, 0);
  }
  const auto handler = f.bindings.find(BindingKey{std::string(window), std::string(component), event});
  if (handler == f.bindings.end() || !handler->second) return std::nullopt;
  f.source = EventSource{std::string(window), std::string(component)};
  const std::optional<std::int64_t> result = handler->second(args);
  f.source.reset();
  return result;
}

}  // namespace kelvarn
