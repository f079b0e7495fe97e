// The filters that keep a harvest on topic: a phrase they turn away is
// neither listed nor asked for, so it spends no request and brings no more.
//
// Words and phrases are GBK. They are compared as FoldPhrase makes them
// (full-width ASCII half-width, ASCII letters in lower case, runs of spaces
// one), so "ABC" in a word matches "ａｂｃ" in a phrase, and a match always
// starts and ends on a whole character: a GBK trail byte that looks like an
// ASCII letter matches nothing. Lengths count characters, not bytes.
//
// A filter is built once and only read afterwards: safe to share between
// threads. Bad input never fails: an empty word is dropped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/text.h"

namespace kelvarn {

enum class MustContain {
  kNothing,
  kSeed,       // the phrase holds its seed, whole
  kRootWords,  // the phrase holds one of its seed's words (RootWords)
};

// "seed" or "root-words"; nothing for another name.
std::optional<MustContain> ParseMustContain(std::string_view name);

struct FilterRules {
  TextArray include{};  // a phrase passes only when it holds one of them (none: any phrase)
  TextArray exclude{};  // a phrase holding one of them is turned away
  MustContain mustContain = MustContain::kNothing;
  std::int32_t minChars = 0, maxChars = 0;  // 0: no bound
};

class PhraseFilter {
 public:
  explicit PhraseFilter(FilterRules rules);

  // Whether `phrase`, found under `seed`, is to be listed and asked for.
  bool Passes(std::string_view phrase, std::string_view seed) const;
  // Whether it turns nothing away, and whether Passes reads its seed.
  bool Empty() const;
  bool NeedsSeed() const { return rules_.mustContain != MustContain::kNothing; }
  const FilterRules& Rules() const { return rules_; }

 private:
  FilterRules rules_;
  TextArray include_, exclude_;  // folded, empty words dropped
};

// A list of words as typed: split at "," and at the full-width "，" (an IME
// gives one or the other), each trimmed of spaces, empty ones dropped.
TextArray FilterWords(std::string_view gbk);

// The words of a stop-word file, one a line: GBK, or UTF-8 (or UTF-16) when
// the bytes clearly are (as a keyword file is judged), lines ending in LF or
// CR LF, each trimmed of spaces, empty ones dropped.
TextArray FilterWordsFile(std::string_view bytes);

// The seed's words of two or more characters: its runs between spaces and
// punctuation (ASCII or full-width). Chinese is written without spaces and no
// dictionary is at hand, so a seed without such separators is one word. A
// seed with no word that long gives itself.
TextArray RootWords(std::string_view seed);

// Characters of a GBK text: a byte below 0x80 is one, a lead byte and its
// trail one (four bytes for GB18030's long form).
std::int32_t CharacterCount(std::string_view gbk);

}  // namespace kelvarn
