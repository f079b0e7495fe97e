#include "app/search_page.h"

#include <algorithm>
#include <cstdlib>

#include "text/find.h"

namespace kelvarn {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// "相关搜索</th><th>": the related-searches block begins after it.
constexpr std::string_view kBlockStart = "\xCF\xE0\xB9\xD8\xCB\xD1\xCB\xF7</th><th>";
constexpr std::string_view kBlockEnd = "</table></div>";
constexpr std::string_view kPhraseStart = "\">";
constexpr std::string_view kPhraseEnd = "</a>";

bool IsKept(unsigned char b) {
  return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '*' || b == '-' ||
         b == '.' || b == '@' || b == '_';
}

// Answers "first end marker from origin o, ASCII case ignored", for origins
// that only grow, without rescanning the text for every start marker: a page
// of start markers with no end marker would otherwise take quadratic time.
//
// Stepping from o visits o, o + 2, ... across the run of bytes >= 0x80 that
// begins at o, up to the first byte below 0x80 (j); after j every origin
// visits the same positions. So the answer is the first match aligned with o
// that starts at or before j, else the first match from j + 1, and each part
// is cached: per parity of o within the current run, and for the common tail.
class EndMarkFinder {
 public:
  EndMarkFinder(std::string_view text, std::string_view mark) : text_(text), mark_(mark) {}

  std::size_t From(std::size_t o) {
    const std::size_t n = text_.size();
    if (runLow_ == npos || o < runLow_ || o > runEnd_) {
      std::size_t j = o;
      while (j < n && static_cast<unsigned char>(text_[j]) >= 0x80) ++j;
      runLow_ = o;
      runEnd_ = j;
      slots_[0] = slots_[1] = {};
    }
    const std::size_t j = runEnd_;
    Cached& slot = slots_[o % 2];
    if (!slot.Answers(o)) {
      const std::string_view head = text_.substr(0, std::min(n, j + mark_.size()));
      slot = {o, detail::FindOnBoundary(head, mark_, o, true)};
    }
    if (slot.found != npos || j >= n) return slot.found;
    if (!tail_.Answers(j + 1)) tail_ = {j + 1, detail::FindOnBoundary(text_, mark_, j + 1, true)};
    return tail_.found;
  }

 private:
  struct Cached {
    std::size_t from = npos, found = npos;
    // A later origin of the same alignment sees the same first match unless
    // that match lies before it.
    bool Answers(std::size_t o) const { return from != npos && from <= o && (found == npos || found >= o); }
  };

  std::string_view text_, mark_;
  std::size_t runLow_ = npos, runEnd_ = npos;  // bytes in [runLow_, runEnd_) are >= 0x80
  Cached slots_[2];
  Cached tail_;
};

// All-matches mode, stopping before the matches cost more than `budget`: a
// match costs its bytes plus `overhead`.
void AllMatches(std::string_view text, std::string_view startMark, std::string_view endMark, TextArray& matches,
                std::size_t budget, std::size_t overhead) {
  matches.clear();
  EndMarkFinder endFinder(text, endMark);
  std::size_t spent = 0;
  for (std::size_t p = detail::FindOnBoundary(text, startMark, 0, true); p != npos;
       p = detail::FindOnBoundary(text, startMark, p + 1, true)) {
    const std::size_t q = endFinder.From(p);
    const std::size_t from = p + startMark.size();
    const std::size_t length = q == npos || q <= from ? 0 : q - from;
    if (length > budget - spent || overhead > budget - spent - length) return;
    spent += length + overhead;
    matches.emplace_back(text.substr(from, length));
  }
}

}  // namespace

std::string SearchBase() {
  const char* env = std::getenv("KELVARN_SEARCH_URL");
  std::string base = env && *env ? env : std::string(kDefaultSearchBase);
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

Text BuildSearchUrl(std::string_view keyword) { return BuildSearchUrl(keyword, SearchBase()); }

Text BuildSearchUrl(std::string_view keyword, std::string_view base) {
  Text url(base);
  url += "/s?wd=";
  url += UrlEncode(keyword);
  return url;
}

TextArray ExtractRelatedPhrases(std::string_view page) {
  bool blockFound = false;
  return ExtractRelatedPhrases(page, blockFound);
}

TextArray ExtractRelatedPhrases(std::string_view page, bool& blockFound) {
  TextArray phrases;
  const std::int32_t start = TextFind(page, kBlockStart);
  const std::string_view rest = start < 0 ? std::string_view() : page.substr(start - 1 + kBlockStart.size());
  const std::int32_t end = start < 0 ? -1 : TextFind(rest, kBlockEnd);
  blockFound = end > 0;
  if (blockFound) {
    AllMatches(rest.substr(0, static_cast<std::size_t>(end - 1)), kPhraseStart, kPhraseEnd, phrases,
               kMaxPhraseBytesPerPage, kPhraseOverheadBytes);
  }
  return phrases;
}

Text UrlEncode(std::string_view text) {
  Text out;
  out.reserve(text.size() * 3);
  for (const char c : text) {
    if (IsKept(static_cast<unsigned char>(c))) {
      out += c;
    } else {
      out += '%';
      out += HexByte(static_cast<unsigned char>(c));
    }
  }
  return out;
}

Text HexByte(std::int32_t value) {
  Text hex = HexText(value & 0xFF);
  return hex.size() == 1 ? "0" + hex : hex;
}

Text TextBetween(std::string_view text, std::string_view startMark, std::string_view endMark, int allMode,
                 TextArray* matches) {
  if (allMode == 1) {
    if (startMark.empty() || endMark.empty() || !matches) return {};
    AllMatches(text, startMark, endMark, *matches, npos, 0);
    return {};
  }
  const std::int32_t length = TextLength(text);
  if (endMark.empty()) {
    const std::int32_t p = TextFind(text, startMark);
    return p == -1 ? Text() : TextMid(text, p + TextLength(startMark), length);
  }
  if (startMark.empty()) {
    const std::int32_t p = TextFind(text, endMark);
    return p == -1 ? Text() : TextLeft(text, p - 1);
  }
  const std::int32_t p = TextFind(text, startMark);
  if (p == -1) return {};
  const Text rest = TextMid(text, p + TextLength(startMark), length);
  return TextMid(rest, 1, TextFind(rest, endMark) - 1);
}

}  // namespace kelvarn
