#include "app/phrase_filter.h"

#include <algorithm>

#include "app/phrase_set.h"
#include "text/encoding.h"

namespace kelvarn {
namespace {

// Bytes of the character at `i`, as FoldPhrase steps: so that counting and
// cutting agree with the comparison.
std::size_t CharAt(std::string_view gbk, std::size_t i) {
  const auto b = static_cast<unsigned char>(gbk[i]);
  if (b < 0x81 || i + 1 >= gbk.size()) return 1;
  const auto second = static_cast<unsigned char>(gbk[i + 1]);
  return std::min<std::size_t>(second >= 0x30 && second <= 0x39 ? 4 : 2, gbk.size() - i);
}

bool Holds(std::string_view folded, std::string_view word) {
  // TextFind steps over whole characters, so a word cannot match across two.
  return TextFind(folded, word) > 0;
}

bool HoldsAny(std::string_view folded, const TextArray& words) {
  return std::any_of(words.begin(), words.end(), [&](const Text& word) { return Holds(folded, word); });
}

TextArray Folded(const TextArray& words) {
  TextArray folded;
  for (const Text& word : words) {
    if (Text f = FoldPhrase(word); !f.empty()) folded.push_back(std::move(f));
  }
  return folded;
}

// A space or a punctuation mark, ASCII or full-width (GBK's rows A1 and A3
// but for A3's letters and digits): where a seed's words part.
bool Separates(std::string_view c) {
  const auto lead = static_cast<unsigned char>(c[0]);
  if (c.size() == 1)
    return !((c[0] >= '0' && c[0] <= '9') || (c[0] >= 'a' && c[0] <= 'z') || (c[0] >= 'A' && c[0] <= 'Z') ||
             lead >= 0x80);
  if (c.size() != 2) return false;
  const auto trail = static_cast<unsigned char>(c[1]);
  if (lead == 0xA1) return true;
  if (lead != 0xA3) return false;
  const bool alnum =
      (trail >= 0xB0 && trail <= 0xB9) || (trail >= 0xC1 && trail <= 0xDA) || (trail >= 0xE1 && trail <= 0xFA);
  return !alnum;
}

std::string_view Trimmed(std::string_view gbk) {
  for (;;) {
    if (gbk.starts_with(' ') || gbk.starts_with('\t') || gbk.starts_with('\r')) {
      gbk.remove_prefix(1);
    } else if (gbk.starts_with("\xA1\xA1")) {
      gbk.remove_prefix(2);
    } else {
      break;
    }
  }
  for (;;) {
    // A trailing 0xA1 0xA1 is an ideographic space only when it starts a
    // character: counted from the front.
    std::size_t last = 0;
    for (std::size_t i = 0; i < gbk.size(); i += CharAt(gbk, i)) last = i;
    const std::string_view c = gbk.substr(last);
    if (c == " " || c == "\t" || c == "\r" || c == "\xA1\xA1") {
      gbk.remove_suffix(c.size());
    } else {
      return gbk;
    }
  }
}

}  // namespace

std::optional<MustContain> ParseMustContain(std::string_view name) {
  if (name == "seed") return MustContain::kSeed;
  if (name == "root-words") return MustContain::kRootWords;
  return std::nullopt;
}

PhraseFilter::PhraseFilter(FilterRules rules)
    : rules_(std::move(rules)), include_(Folded(rules_.include)), exclude_(Folded(rules_.exclude)) {}

bool PhraseFilter::Empty() const {
  return include_.empty() && exclude_.empty() && rules_.mustContain == MustContain::kNothing && rules_.minChars <= 0 &&
         rules_.maxChars <= 0;
}

bool PhraseFilter::Passes(std::string_view phrase, std::string_view seed) const {
  if (rules_.minChars > 0 || rules_.maxChars > 0) {
    const std::int32_t n = CharacterCount(phrase);
    if (n < rules_.minChars || (rules_.maxChars > 0 && n > rules_.maxChars)) return false;
  }
  if (include_.empty() && exclude_.empty() && !NeedsSeed()) return true;
  const Text folded = FoldPhrase(phrase);
  if (!include_.empty() && !HoldsAny(folded, include_)) return false;
  if (HoldsAny(folded, exclude_)) return false;
  switch (rules_.mustContain) {
    case MustContain::kNothing:
      return true;
    case MustContain::kSeed: {
      const Text root = FoldPhrase(seed);
      return root.empty() || Holds(folded, root);
    }
    case MustContain::kRootWords: {
      const TextArray roots = Folded(RootWords(seed));
      return roots.empty() || HoldsAny(folded, roots);
    }
  }
  return true;
}

TextArray FilterWords(std::string_view gbk) {
  TextArray words;
  std::size_t start = 0;
  const auto take = [&](std::size_t end) {
    if (const std::string_view word = Trimmed(gbk.substr(start, end - start)); !word.empty()) words.emplace_back(word);
  };
  for (std::size_t i = 0; i < gbk.size();) {
    const std::size_t n = CharAt(gbk, i);
    const std::string_view c = gbk.substr(i, n);
    i += n;
    if (c == "," || c == "\xA3\xAC") take(i - n), start = i;
  }
  take(gbk.size());
  return words;
}

TextArray FilterWordsFile(std::string_view bytes) {
  const Text gbk = ToGbk(bytes, ReadAs(DetectEncoding(bytes)));
  TextArray words;
  // LF is never a GBK trail byte: the lines part there whatever the encoding.
  for (std::size_t start = 0; start < gbk.size();) {
    const std::size_t end = std::min(gbk.find('\n', start), gbk.size());
    if (const std::string_view word = Trimmed(std::string_view(gbk).substr(start, end - start)); !word.empty()) {
      words.emplace_back(word);
    }
    start = end + 1;
  }
  return words;
}

TextArray RootWords(std::string_view seed) {
  TextArray words;
  std::size_t start = 0;
  std::int32_t characters = 0;
  const auto take = [&](std::size_t end) {
    if (characters >= 2) words.emplace_back(seed.substr(start, end - start));
    characters = 0;
  };
  for (std::size_t i = 0; i < seed.size();) {
    const std::size_t n = CharAt(seed, i);
    if (Separates(seed.substr(i, n))) {
      take(i);
      start = i + n;
    } else {
      ++characters;
    }
    i += n;
  }
  take(seed.size());
  if (words.empty()) words.emplace_back(seed);
  return words;
}

std::int32_t CharacterCount(std::string_view gbk) {
  std::int32_t n = 0;
  for (std::size_t i = 0; i < gbk.size(); i += CharAt(gbk, i)) ++n;
  return n;
}

}  // namespace kelvarn
