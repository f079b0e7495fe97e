// The window program: the frame on Qt, the start-up routine, the main window
// and the harvester that drives it.
#pragma once

#include "app/harvester.h"
#include "app/main_window.h"
#include "frame/qt/qt_frame.h"
#include "window/qt/main_window.h"

namespace kelvarn {

// Registers the main window with the frame and creates it, then the
// harvester that drives it, and delivers the window's created event. The
// harvester is the process's own state: it is never destroyed, as the process
// ends through the end sequence. Returns the window, or null when it could
// not be made.
MainWindow* OpenMainWindow(QtFramePlatform& platform, AppHandles& handles, Harvester::Options options);

// Installs Qt's own Chinese texts (standard buttons, file dialogs) when the
// system has them; false when it has not.
bool LoadQtTranslations();

// Runs Kelvarn's window until it is closed; returns only through the end
// sequence's exit. Options: those of window/options.h.
int RunWindowProgram(int argc, char** argv);

}  // namespace kelvarn
