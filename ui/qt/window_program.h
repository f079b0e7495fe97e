// The window program: the frame on Qt, the start-up routine, the main window.
#pragma once

namespace kelvarn {

// Runs Kelvarn's window until it is closed; returns only through the end
// sequence's exit. Options: --search-url URL (as KELVARN_SEARCH_URL),
// --seeds FILE (added to the seed list at start), --harvest (press start
// once the window is up), --screenshot PNG (save the window once the first
// run completes, then close without asking), --print (once the first run
// completes, print the collected phrases as UTF-8 and the status text, then
// close without asking), --close-after MS (close the window MS ms after
// start, as a user would, print "closing" to standard error then, and answer
// the question that follows with Cancel).
int RunWindowProgram(int argc, char** argv);

}  // namespace kelvarn
