// The window program on Win32: the frame's platform, the start-up routine,
// the main window and the harvester that drives it.
#pragma once

#include "app/harvester.h"
#include "app/main_window.h"
#include "frame/win32/win32_frame.h"
#include "window/win32/win32_main_window.h"

namespace kelvarn {

// Registers the main window with the frame and creates it, then the
// harvester that drives it, and delivers the window's created event. The
// harvester is the process's own state: it is never destroyed, as the process
// ends through the end sequence. Returns the window, or null when it could
// not be made.
Win32MainWindow* OpenMainWindow(Win32FramePlatform& platform, AppHandles& handles, Harvester::Options options);

// Runs Kelvarn's window until it is closed; returns only through the end
// sequence's exit. Options: those of window/options.h.
int RunWindowProgram(int argc, char** argv);

}  // namespace kelvarn
