// What every program does before its window or its harvest exists.
#pragma once

#include <optional>
#include <string_view>

#include "app/harvester.h"

namespace kelvarn {

// The harvester options every program starts from: the program's directory
// (config.ini, cookies.txt) and the search base, from `searchUrl` (a
// --search-url flag) when given.
Harvester::Options StartUpOptions(std::optional<std::string_view> searchUrl);

}  // namespace kelvarn
