// The window program's options for scripts and tests: --print, --screenshot
// PNG and --close-after MS. They reach the window only through its component
// operations and its close button, as a user would. KELVARN_OPEN_URL_LOG=FILE
// appends each page the program would open to FILE instead of opening it.
#pragma once

#include <string>

#include "app/harvester.h"
#include "window/main_window.h"

namespace kelvarn {

class Automation {
 public:
  // Before the frame changes the working directory: relative paths are the
  // user's.
  Automation();
  // Takes argv[i], with its value, when it is one of the options; true then.
  bool TakeOption(int argc, char** argv, int& i);
  // With --print or --screenshot, the first run to complete prints the
  // collected phrases as UTF-8 lines and the status text to standard error,
  // or saves the window as a PNG, then ends the program without asking.
  // With KELVARN_OPEN_URL_LOG, pages go to the log instead.
  void Prepare(Harvester::Options& options);
  // With --close-after, closes the window MS ms from now, as a user would:
  // prints "closing" to standard error then, and answers the question that
  // follows with Cancel.
  void Start(MainWindow& window);

 private:
  void OnRunComplete();

  std::string screenshot_, openUrlLog_;
  bool print_ = false;
  int closeAfterMs_ = 0;
  MainWindow* window_ = nullptr;
};

}  // namespace kelvarn
