// The options for scripts (window/options.h) on Qt: timers, the window's
// picture, and the close question's Cancel button pressed as a user would.
#pragma once

#include "app/harvester.h"
#include "window/options.h"
#include "window/qt/main_window.h"

namespace kelvarn {

class Automation {
 public:
  explicit Automation(const WindowOptions& options) : options_(options) {}
  // Sets the harvester's hooks the options need.
  void Prepare(Harvester::Options& options);
  // Starts --close-after's timer.
  void Start(MainWindow& window);

 private:
  void OnRunComplete();

  const WindowOptions& options_;
  MainWindow* window_ = nullptr;
};

}  // namespace kelvarn
