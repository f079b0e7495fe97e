// What a requested page gave, decided in one place for the window, the
// command line and `kelvarn check`.
//
// Pure functions over a page already fetched; safe on any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "text/text.h"

namespace kelvarn {

enum class PageOutcome : std::uint8_t {
  kPhrases,       // the related block was found
  kNoBlock,       // status 200, a whole page, no block on it
  kVerification,  // the engine answered with its verification page
  kErrorStatus,   // the final status is not 200 (its phrases still count)
  kFailed,        // no response, or a broken one: a failed connection, a time-out, a body cut off
};
inline constexpr std::size_t kPageOutcomeCount = 5;

// As the README's table of outcomes names them: "phrases", "no block",
// "verification", "error status", "failed" (journals and jsonl lines).
std::string_view OutcomeName(PageOutcome outcome);

// Where a keyword's phrases come from: the related searches of its results
// page, or the engine's search suggestions for it.
enum class PhraseSource : std::uint8_t { kRelated, kSuggest };
// "related" or "suggest", as files and flags name them.
std::string_view SourceName(PhraseSource source);

// Pages of each outcome, indexed by the outcome.
using PageCounts = std::array<std::int64_t, kPageOutcomeCount>;

struct FetchedPage {
  bool answered = false;      // a response came
  bool whole = false;         // and it was read to its end
  std::uint32_t status = 0;   // the final response's
  std::string_view finalUrl;  // after every redirect
  std::string_view body;
  bool blockFound = false;  // the related block was cut out of the body
};

// In this order: no answer is a failure; a verification page is one whatever
// its status; then a status other than 200; then a block found, even on a
// page cut short after it; then a page cut short; else no block.
PageOutcome DecidePageOutcome(const FetchedPage& page);

// The same for a suggestion answer, where blockFound says the body was read
// as a suggestion list, holding `phrases`. The engine never redirects a
// client it serves, so an answer from another path than /su is a
// verification; else, in order: an error status; a list with phrases; an
// empty list (no block); anything else, a body cut off or not a list (an
// HTML page that is not the verification page, garbage), failed.
PageOutcome DecideSuggestOutcome(const FetchedPage& answer, std::size_t phrases);

// The engine's verification page: a final URL on its verification host or
// path, or, on a page without the related block, its title or its texts (in
// UTF-8 or GBK). A results page that merely mentions such a text, as the page
// of a keyword would, is not one: it holds the block.
bool IsVerificationPage(std::string_view finalUrl, std::string_view body, bool blockFound);

// Whether a page looks like a results page: it has the search form or result
// containers. One of those without a related block in any known form is the
// early sign that the engine has changed its page again.
bool LooksLikeResultsPage(std::string_view body);

// Whether any page went wrong: failed, verification or error status.
bool AnyProblemPages(const PageCounts& counts);

// GBK, for the status bar: ";问题页面:失败(N) 验证页(N) 错误状态(N)", naming
// only the outcomes that occurred; empty when none did.
Text ProblemPagesText(const PageCounts& counts);

// GBK, for the status bar's progress field: "页面 N 短语 N 待处理 N", then the
// outcomes other than phrases that occurred, each with its count, and the
// pages of a layout not recognised ("版式未识别 N") when there are any.
Text ProgressText(const PageCounts& counts, std::int64_t phrases, std::int64_t pending, std::int64_t unrecognised = 0);

}  // namespace kelvarn
