// The window program: the frame on Qt, the start-up routine, the main window
// and the harvester that drives it.
#pragma once

#include "app/harvester.h"
#include "app/main_window.h"
#include "frame/qt/qt_frame.h"
#include "window/main_window.h"

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

// A path given on the command line, made absolute against the working
// directory: called before the frame makes the program's directory the
// working directory, so that a relative path means what the user meant.
std::string FromStartDirectory(std::string path);

// Runs Kelvarn's window until it is closed; returns only through the end
// sequence's exit. Options: --search-url URL (as KELVARN_SEARCH_URL),
// --seeds FILE (added to the seed list at start), --harvest (press start
// once the window is up), and those of window/automation.h.
int RunWindowProgram(int argc, char** argv);

}  // namespace kelvarn
