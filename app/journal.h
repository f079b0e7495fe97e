// The journal of a harvest: one JSON line per page that ended, so that a run
// killed at any moment can be resumed without asking again for what it got.
//
//   {"journal":"kelvarn","version":1,"seeds":"fnv1a64:…","seedCount":20,"depth":3,"unique":false,
//    "source":"related","format":"text","encoding":"gbk","output":"out.txt","pace":"auto","end":0}
//   {"path":"3.5","keyword":"…","level":2,"parent":"…","seed":"…","outcome":"phrases","status":200,
//    "source":"related","phrases":["…",…],"end":1234}
//
// The header names what decides which pages a run asks for and how its
// output is written (a filtered run's filters too: "filters", absent for
// none); pacing is told, not compared, since it changes only
// when pages are asked. Each page line follows its phrases into the output,
// and `end` is the output's size just after them. Texts are UTF-8. The
// header's source is "related", "suggest" or "both"; a page's says what it
// asked, as its path does (a journal from before suggestions has neither,
// and is of the related searches). A page line holds every phrase of the
// page, those the filters turned away too: a replay filters them again,
// with the same filters.
//
// Reading tolerates what a crash leaves: a last line without its end is
// not a page, and a page whose `end` lies beyond the output's size (its
// phrases never reached the disk) is not either, nor is anything after it.
// Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "app/harvester.h"
#include "text/text.h"

namespace kelvarn {

// What a run asks for and how it writes, as its journal's header holds it.
struct JournalRun {
  std::string seeds;  // SeedsDigest
  std::int64_t seedCount = 0;
  std::int32_t depth = 0;
  bool unique = false;
  std::string source = "related";  // "related", "suggest" or "both"
  std::string format, encoding, output, pace;
  TextArray seedList;   // the seeds themselves, GBK: the window's journal keeps them, as nothing else does
  std::string filters;  // UTF-8, as FiltersText says them; empty: none
};

// A digest of the seeds in their order ("fnv1a64:" and 16 hex digits).
std::string SeedsDigest(const TextArray& seeds);

// A run's filters as the journal's header records them (UTF-8; empty for
// none): the rules in a fixed order, a stop-word file by the digest of its
// words, so that a resume under other filters is told from this run.
std::string FiltersText(const FilterRules& rules, const TextArray& stopWords, bool keepFiltered);

// The header line, and a page's line; each ends in LF.
std::string JournalHeaderLine(const JournalRun& run, std::int64_t outputEnd);
std::string JournalPageLine(const Harvester::PageEnd& page, std::int64_t outputEnd);
// The last line of a journal whose run ended, never to be resumed.
std::string_view RetiredLine();

// A GBK text as a JSON string, in UTF-8 (bytes that are not GBK become U+FFFD).
void AppendJsonText(std::string_view gbk, std::string& out);

// What a journal holds.
class JournalContents {
 public:
  // Reads a journal's bytes, given the size of the output it belongs to.
  static JournalContents Read(std::string_view bytes, std::int64_t outputSize);

  // Why it is no journal ("line 1: …"); empty when it is one.
  const std::string& Error() const { return error_; }
  const JournalRun& Run() const { return run_; }
  // The bytes of its whole, valid lines: the rest is cut off before appending.
  std::int64_t KeptBytes() const { return keptBytes_; }
  // The output's size after the last page kept: the rest is cut off too.
  std::int64_t OutputEnd() const { return outputEnd_; }
  std::int64_t Pages() const { return pages_; }
  // What the journal's last line for the page at `path` says it gave, when
  // that is phrases or no related block.
  std::optional<Harvester::Answered> Answered(std::string_view path) const;
  std::size_t AnsweredCount() const { return answered_.size(); }

  // Whether the journal ends with the line that retires it (RetiredLine).
  bool Retired() const { return retired_; }

  // The first of the header's fields that differs from `now`, said as
  // "depth: the journal's 3, this run's 2"; nothing when none does.
  std::optional<std::string> Differs(const JournalRun& now) const;

 private:
  struct Page {
    PageOutcome outcome;
    std::string phrases;  // UTF-8, each ended by a zero byte
  };
  std::string error_;
  JournalRun run_;
  std::int64_t keptBytes_ = 0, outputEnd_ = 0, pages_ = 0;
  bool retired_ = false;
  std::unordered_map<std::string, Page> answered_;
};

}  // namespace kelvarn
