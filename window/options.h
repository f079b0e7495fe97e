// The window program's command line and its options for scripts, the same on
// every window system. Parsed before the frame makes the program's directory
// the working directory, so that a relative path means what the user meant.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/harvester.h"

namespace kelvarn {

struct WindowOptions {
  std::optional<std::string> searchUrl;  // --search-url URL, as KELVARN_SEARCH_URL
  std::string seedsFile;                 // --seeds FILE: added to the seed list at start
  bool harvest = false;                  // --harvest: press start once the window is up
  // For scripts and tests. --print and --screenshot PNG: the first run to
  // complete prints the collected phrases as UTF-8 lines and the status text
  // to standard error, or saves a picture of the window, then the program ends
  // without asking. --close-after MS: the window is closed MS ms after it
  // opens, as a user would close it ("closing" goes to standard error), and
  // the question that follows is answered with Cancel. The program ends with
  // status 1 when the phrases or the picture cannot be written.
  bool print = false;
  std::string screenshot;
  // --export FILE: the same moment, the collected list is exported through
  // the window's export, its file dialog answered with FILE; the extension
  // picks the format (.csv, .xlsx, else the text file). The status text goes
  // to standard error; a file that cannot be written ends the program with 1,
  // the window's box answered.
  std::string exportFile;
  int closeAfterMs = 0;
  // KELVARN_OPEN_URL_LOG=FILE: each page the program would open is appended
  // to FILE instead.
  std::string openUrlLog;
  // What is wrong with the search base given by --search-url or
  // KELVARN_SEARCH_URL: the program says so and ends with status 2 before it
  // makes a window, as the harvest command does.
  std::optional<std::string> usageError;
};

// Unknown arguments are ignored, as a double-clicked program gets what the
// shell gives it.
WindowOptions ParseWindowOptions(int argc, char** argv);

// A path made absolute against the working directory.
std::string FromStartDirectory(std::string path);

// Sets the harvester's page opener to append to the log when one is named.
void LogOpenedUrls(const WindowOptions& options, Harvester::Options& harvester);

// --print's output: the collected phrases, then the status text; false,
// after saying why on standard error in place of the status, when standard
// output cannot take them (a full disk).
bool PrintCollected(MainComponents window);

}  // namespace kelvarn
