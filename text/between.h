// Text between markers: the cut that takes phrases out of a results page.
// Pure functions on GBK bytes; safe from any thread.
#pragma once

#include <cstddef>
#include <string_view>

#include "text/text.h"

namespace kelvarn {

// Text between two markers.
//
// Single mode (allMode other than 1), case-sensitive, first occurrences: the
// text between the first startMark and the first endMark after it; everything
// after startMark when endMark is empty; everything before endMark when
// startMark is empty; empty when a marker is missing.
//
// All-matches mode (allMode == 1), ASCII case ignored: fills `*matches` (when
// not null) with, for every startMark, the text from its end up to the first
// endMark found from that startMark's beginning (empty if none follows); the
// next startMark is sought from one byte after the previous one's start, so
// markers nested in a match yield matches of their own. Returns the empty text.
// With an empty marker, returns the empty text and leaves `*matches` alone.
Text TextBetween(std::string_view text, std::string_view startMark, std::string_view endMark, int allMode = 0,
                 TextArray* matches = nullptr);

// All-matches mode with a budget: stops before the matches cost more than
// `budget`, a match costing its bytes plus `overhead`, so that a hostile text
// cannot ask for more than memory holds. `matches` is replaced.
void AllMatchesBetween(std::string_view text, std::string_view startMark, std::string_view endMark, TextArray& matches,
                       std::size_t budget, std::size_t overhead);

}  // namespace kelvarn
