// The application frame: it owns the process from start to end, creates
// windows from their templates, delivers events to the handlers bound to them
// and ends the program through one end sequence, whether the end comes from
// the last window closing, from EndProgram or from a run-time error.
//
// The window system is reached through a FramePlatform: Qt widgets
// (frame/qt) or Win32 windows (frame/win32) in the program, a headless one in
// tests and on the command line.
//
// Thread safety: InitFrame, LoadWindow, RunMessageLoop and event delivery
// belong to the main thread. EndProgram may be called from any thread: other
// threads hand the end to the main thread and wait.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/main_thread.h"

namespace kelvarn {

enum class ComponentKind { kGroupBox, kLabel, kListBox, kEditBox, kButton, kStatusBar, kFileDialog, kMenu, kMenuItem };

struct ComponentTemplate {
  std::string name;
  ComponentKind kind;
};

// What the frame knows of a window before it exists: its components.
struct WindowTemplate {
  std::string name;
  std::vector<ComponentTemplate> components;
};

// Event numbers.
enum : std::int32_t {
  kEventCreated = 1,          // a window and all its components exist
  kEventDestroying = 2,       // a window is about to be destroyed
  kEventRightButtonDown = 3,  // arguments: x, y, modifier keys
  kEventClicked = 4,          // a button, or a menu item chosen
  kEventContentChanged = 5,   // an edit box's text changed
  kEventKeyDown = 6,          // arguments: the key's Windows virtual-key code, modifier keys (kKeyShift, kKeyControl)
};
// The modifier keys of kEventKeyDown, as the Windows mouse messages number them.
inline constexpr std::int64_t kKeyShift = 0x04, kKeyControl = 0x08;

using EventArgs = std::vector<std::int64_t>;
// A handler returns a value for its component, or nothing.
using EventHandler = std::function<std::optional<std::int64_t>(const EventArgs&)>;

struct EventBinding {
  std::string window, component;  // an empty component: the window itself
  std::int32_t event;
  EventHandler handler;
};

struct EventSource {
  std::string window, component;
};

class FramePlatform {
 public:
  virtual ~FramePlatform() = default;
  virtual UiThread& Ui() = 0;
  // Creates the window of a template; false when it cannot be made. (Not
  // CreateWindow: <windows.h> makes that name a macro.)
  virtual bool MakeWindow(const WindowTemplate& window) = 0;
  // Runs the message loop until QuitLoop.
  virtual void RunLoop() = 0;
  // Ends the message loop with exit code 0 once it runs (a posted quit).
  virtual void QuitLoop() = 0;
  // Shows the run-time error box (caption "错误", error icon, OK, no owner)
  // and returns when it is closed; false when there is no display to show it.
  // Called on the thread that met the error, whichever it is: a platform
  // whose boxes belong to the window thread hands the box to it.
  virtual bool ShowErrorBox(std::string_view gbkText) = 0;
  // Destroys every window still open.
  virtual void DestroyWindows() = 0;
};

// A component module's notification entry: code 1 hands it the frame's own
// entry, kNotifyProgramEnds says the program ends.
using ModuleNotify = std::intptr_t (*)(std::int32_t code, std::intptr_t value1, std::intptr_t value2);
inline constexpr std::int32_t kNotifyFrameEntry = 1, kNotifyProgramEnds = 2;
// The frame's entry handed to modules; it answers 0 to everything.
std::intptr_t FrameNotify(std::int32_t code, std::intptr_t value1, std::intptr_t value2);

// Prepares the frame: the program directory becomes the working directory,
// the calling thread is the main thread, the run-time error report shows its
// box through the platform (or writes to standard error when there is no
// display) and ends through the end sequence, and every registered module is
// handed the frame's entry.
void InitFrame(FramePlatform& platform, std::vector<ModuleNotify> modules = {});

// Registers the exit clean-up: run once by the end sequence, never after a
// run-time error. A second call replaces the first.
void SetExitCleanup(std::function<void()> cleanup);

// Registers a window's template and the bindings of its events.
void RegisterWindow(WindowTemplate window, std::vector<EventBinding> bindings);

// Creates a registered window; false when there is no such template or the
// platform cannot make it.
bool LoadWindow(std::string_view window);

// Runs the message loop while a window is open; returns when the last one
// is destroyed (at once when none is open).
void RunMessageLoop();

// The platform's word that a window made by LoadWindow has been destroyed: it
// leaves the loaded windows, so an event for it is a run-time error from now
// on, and when it was the last one the running loop ends.
void WindowDestroyed(std::string_view window);

// Runs the end sequence and ends the process with `exitCode`: the exit
// clean-up once, modules told, windows destroyed, standard streams flushed,
// then the process ends at once (_exit, ExitProcess). From another thread
// the end is handed to the main thread and the caller waits; if the main
// thread is already ending, the call returns.
// On the main thread during the end sequence (from the clean-up or a module
// told of the end), it ends the process at once with `exitCode`.
void EndProgram(std::int32_t exitCode);

// The source of the event being delivered, if one is.
std::optional<EventSource> GetEventSource();

// Delivers an event on the main thread: nothing once the end has begun; an
// unknown window, an unknown component or a component that raises no events is
// a run-time error; an unbound event does nothing. Returns the handler's value.
std::optional<std::int64_t> DeliverEvent(std::string_view window, std::string_view component, std::int32_t event,
                                         const EventArgs& args = {});

}  // namespace kelvarn
