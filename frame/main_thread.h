// The window thread, as the rest of the program reaches it.
#pragma once

#include <functional>

namespace kelvarn {

// The thread that owns the windows: it runs the message loop, every event
// handler and the end of the program, and carries out component effects for
// other threads.
class UiThread {
 public:
  virtual ~UiThread() = default;
  // Runs `effect` on the window thread (directly when called there) and
  // returns when it has run. The caller must hold no lock the window thread
  // may need.
  virtual void Invoke(const std::function<void()>& effect) = 0;
  virtual bool IsCurrent() const = 0;
};

}  // namespace kelvarn
