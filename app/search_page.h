// The search URL of a keyword and the related phrases of a results page.
//
// Pure text work on GBK bytes; no state, safe on every worker thread at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text/text.h"

namespace kelvarn {

// "http://www.baidu.com": the search engine's web-search host.
inline constexpr std::string_view kDefaultSearchBase = "http://www.baidu.com";

// The scheme, host and port that search URLs start with: the environment
// variable KELVARN_SEARCH_URL when set and not empty (tests and offline use,
// e.g. "http://127.0.0.1:8080"), else kDefaultSearchBase. Trailing slashes are
// dropped. Read on every call, so set it before the workers start.
std::string SearchBase();

// `base` without its trailing slashes: the one form search URLs start from.
std::string WithoutTrailingSlashes(std::string_view base);

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

}  // namespace kelvarn
