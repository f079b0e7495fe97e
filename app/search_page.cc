#include "app/search_page.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

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
// Every stepping passes the position after a byte that EndsACharacter: call
// the first such byte at or after o k. So the answer is the first match on
// o's own path that starts at or before k, else the first match from k + 1,
// which is the same for every origin up to k. Both parts are cached: the
// tail once, and the head for each path through the current stretch up to
// k. A path steps at most four bytes at a time, so only a few pass any
// point, and a later origin on a path sees the path's first match unless
// that match lies before it.
class EndMarkFinder {
 public:
  EndMarkFinder(std::string_view text, std::string_view mark) : text_(text), mark_(mark) {}

  std::size_t From(std::size_t o) {
    const std::size_t n = text_.size();
    if (stretchEnd_ == npos || o > stretchEnd_) {
      std::size_t k = o;
      while (k < n && !detail::EndsACharacter(text_[k])) ++k;
      stretchEnd_ = k;
      paths_.clear();
    }
    const std::size_t k = stretchEnd_;
    Path* mine = nullptr;
    for (Path& path : paths_) {
      while (path.walk < o) path.walk += detail::CharBytes(text_, path.walk);
      if (path.walk == o) mine = &path;
    }
    if (!mine) {
      if (paths_.size() >= kMaxPaths) paths_.erase(paths_.begin());  // the oldest: it lies furthest behind
      paths_.push_back({o, {}});
      mine = &paths_.back();
    }
    if (!mine->head.Answers(o)) {
      const std::string_view head = text_.substr(0, std::min(n, k + mark_.size()));  // matches starting at k or before
      mine->head = {o, detail::FindOnBoundary(head, mark_, o, true)};
    }
    if (mine->head.found != npos || k >= n) return mine->head.found;
    if (!tail_.Answers(k + 1)) tail_ = {k + 1, detail::FindOnBoundary(text_, mark_, k + 1, true)};
    return tail_.found;
  }

 private:
  struct Cached {
    std::size_t from = npos, found = npos;
    // A later origin on the same path sees the same first match unless that
    // match lies before it.
    bool Answers(std::size_t o) const { return from != npos && from <= o && (found == npos || found >= o); }
  };
  struct Path {
    std::size_t walk;  // a boundary on the path, walked ahead to the origins asked about
    Cached head;
  };
  static constexpr std::size_t kMaxPaths = 8;

  std::string_view text_, mark_;
  std::size_t stretchEnd_ = npos;  // k for the origins of the current stretch
  std::vector<Path> paths_;
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
  return WithoutTrailingSlashes(env && *env ? env : kDefaultSearchBase);
}

std::string WithoutTrailingSlashes(std::string_view base) {
  while (!base.empty() && base.back() == '/') base.remove_suffix(1);
  return std::string(base);
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
