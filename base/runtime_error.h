// A run-time error met below the frame.
//
// The run-time error report (frame/runtime.h) belongs to the frame, above the
// folders that may meet such an error (net/: a client used from a foreign
// thread). They hand the error here instead, and the frame's run-time
// support, once installed, takes it over: the report's box, exit code -1.
//
// Thread safety: any thread may raise; the route is set once at start-up.
#pragma once

#include <cstdint>
#include <string_view>

namespace kelvarn {

// Reports the error and ends the program; it never returns.
using RuntimeErrorRoute = void (*)(std::string_view message, std::int32_t code);
void SetRuntimeErrorRoute(RuntimeErrorRoute route);  // nullptr: none

// Hands the error to the route. Without one (no frame run-time support in the
// program) the message goes to standard error as it is and the process ends
// with exit code -1 all the same.
[[noreturn]] void RaiseRuntimeErrorBelowFrame(std::string_view message, std::int32_t code);

}  // namespace kelvarn
