// The window program, kelvarn-window (kelvarn.exe on Windows): the frame, the
// start-up routine, the main window and the harvester that drives it, and the
// options for scripts (window/options.h), on any window system.
#pragma once

#include <string>

#include "app/harvester.h"
#include "app/main_window.h"
#include "window/options.h"
#include "window/window_platform.h"

namespace kelvarn {

// Registers the main window with the frame and makes it, then the harvester
// that drives it, and delivers the window's created event. The harvester is
// the process's own state: it is never destroyed, as the process ends through
// the end sequence. False when the window could not be made.
bool OpenMainWindow(WindowPlatform& platform, AppHandles& handles, Harvester::Options options);

// Runs Kelvarn's window on `platform` until it is closed; returns only
// through the end sequence's exit. `options` were read from the command line
// before anything moved the working directory.
int RunWindowProgram(WindowPlatform& platform, const WindowOptions& options);

// Says what is wrong with the command line, as the harvest command does, and
// gives the usage status, 2: before any window is made.
int RefuseUsage(const std::string& error);

// The same from the command line, with the window system's own platform:
// each window system's window_program.cc makes it.
int RunWindowProgram(int argc, char** argv);

}  // namespace kelvarn
