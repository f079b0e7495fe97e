// The engine's search suggestions for a keyword: the list under its search
// box, asked for as a second source of phrases beside the related searches.
//
//   GET /su?wd=<percent-encoded UTF-8 keyword>&action=opensearch&ie=utf-8
//   ["keyword",["phrase",…]]
//
// Pure text work; no state, safe on every worker thread at once.
#pragma once

#include <optional>
#include <string_view>

#include "text/text.h"

namespace kelvarn {

// base + "/su?wd=" + the GBK keyword percent-encoded as UTF-8, then
// "&action=opensearch&ie=utf-8".
Text BuildSuggestUrl(std::string_view keyword, std::string_view base);

// The phrases of a suggestion answer, GBK, in its order; nothing when the
// body is no suggestion list. The list is the second element of a JSON
// array; an answer wrapped in a script callback ("cb(…);"), or in GBK rather
// than UTF-8, as the engine sends to clients of its older form, is read
// too. Items that are not texts, empty ones and ones holding a line break
// are left out; the phrases stop at the same cost bound as a results
// page's (kMaxPhraseBytesPerPage).
std::optional<TextArray> ReadSuggestions(std::string_view body);

}  // namespace kelvarn
