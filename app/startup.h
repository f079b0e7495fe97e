// The start-up routine: what every program does before its window or its
// harvest exists.
#pragma once

#include <optional>
#include <string_view>

#include "app/harvester.h"

namespace kelvarn {

// The window takes the first processor, as the classic program did; the
// command line takes the one it runs on, so that several harvests started on
// one server spread over its processors.
enum class ProcessorChoice { kFirst, kCurrent };

// Binds the process to one processor (call it before any thread starts, so
// that every thread inherits the binding), asks for the debug privilege and
// returns the harvester options every program starts from: the program's
// directory (config.ini, cookies.txt) and the search base, from `searchUrl`
// (a --search-url flag) when given.
Harvester::Options StartUp(ProcessorChoice processor, std::optional<std::string_view> searchUrl);

}  // namespace kelvarn
