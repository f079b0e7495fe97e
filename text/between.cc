#include "text/between.h"

#include <algorithm>
#include <vector>

#include "text/find.h"

namespace kelvarn {
namespace {

constexpr std::size_t npos = std::string_view::npos;

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

}  // namespace

void AllMatchesBetween(std::string_view text, std::string_view startMark, std::string_view endMark, TextArray& matches,
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

Text TextBetween(std::string_view text, std::string_view startMark, std::string_view endMark, int allMode,
                 TextArray* matches) {
  if (allMode == 1) {
    if (startMark.empty() || endMark.empty() || !matches) return {};
    AllMatchesBetween(text, startMark, endMark, *matches, npos, 0);
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
