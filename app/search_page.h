// The search URL of a keyword and the related phrases of a results page.
//
// Pure text work on GBK bytes; no state, safe on every worker thread at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/search_base.h"
#include "text/text.h"

namespace kelvarn {

// base + "/s?wd=" + UrlEncode(keyword); base defaults to SearchBase().
Text BuildSearchUrl(std::string_view keyword);
Text BuildSearchUrl(std::string_view keyword, std::string_view base);

// The texts of the links in the page's first related-searches block, in page
// order: not trimmed, not decoded, repeats and empty ones kept. A page without
// the block, or whose block never ends, gives none.
//
// A hostile page could ask for more than memory holds: links nested into each
// other give phrase text quadratic in the page, and millions of empty links
// give millions of tasks, each a record, a queue entry, a list row and a 5 ms
// pause. So every phrase costs its bytes plus kPhraseOverheadBytes (a harvest
// holds about 950 bytes a phrase besides its text), and the phrases of one page
// stop before they cost more than kMaxPhraseBytesPerPage: at most 16 384
// phrases, about 80 s of pauses and some 64 MiB with the copies a harvest makes.
TextArray ExtractRelatedPhrases(std::string_view page);
// The same, telling whether the block was there at all (it may hold no link).
TextArray ExtractRelatedPhrases(std::string_view page, bool& blockFound);
inline constexpr std::size_t kMaxPhraseBytesPerPage = std::size_t{16} << 20;
inline constexpr std::size_t kPhraseOverheadBytes = 1024;

// Percent-encodes every byte except "*-.@_", digits and ASCII letters, one
// byte at a time (a double-byte character may keep a literal trail byte).
Text UrlEncode(std::string_view text);

// Two upper-case hexadecimal digits of the low byte of `value`.
Text HexByte(std::int32_t value);

}  // namespace kelvarn
