// Character-aware byte search shared by the text operations. Internal to text/.
#pragma once

#include <cstddef>
#include <string_view>

namespace kelvarn::detail {

// Index of the first match of `sought` in `text` at or after `origin` that lies
// on a character boundary when stepping from `origin` (a lead byte, 0x80 or
// above, steps two bytes; any other byte one), or npos. `fold` compares after
// folding ASCII 'A'-'Z' to lower case. Requires origin <= text.size() and a
// non-empty `sought`. Linear in the bytes examined: candidates come from a
// fast byte search and are checked by looking back only to the last byte below
// 0x80, because the position after such a byte is always a boundary.
std::size_t FindOnBoundary(std::string_view text, std::string_view sought, std::size_t origin, bool fold);

}  // namespace kelvarn::detail
