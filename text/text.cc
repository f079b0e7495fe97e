#include "text/text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "text/find.h"

namespace kelvarn {
namespace detail {
namespace {

constexpr unsigned char FoldAscii(unsigned char b) { return (b >= 'A' && b <= 'Z') ? b + ('a' - 'A') : b; }
constexpr bool IsAsciiLetter(unsigned char b) { return FoldAscii(b) >= 'a' && FoldAscii(b) <= 'z'; }

bool FoldedEqual(const char* a, std::string_view b) {
  for (std::size_t i = 0; i < b.size(); ++i) {
    if (FoldAscii(static_cast<unsigned char>(a[i])) != FoldAscii(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// Raw search, no regard for characters. Case-sensitive searches use the
// standard library's search (memchr on the first byte, then a compare); folded ones anchor memchr on a byte of `sought`
// that folding leaves alone, when there is one.
class RawSearcher {
 public:
  RawSearcher(std::string_view text, std::string_view sought, bool fold) : text_(text), sought_(sought), fold_(fold) {
    if (fold_) {
      for (std::size_t i = 0; i < sought_.size(); ++i) {
        if (!IsAsciiLetter(static_cast<unsigned char>(sought_[i]))) {
          anchor_ = i;
          break;
        }
      }
    }
  }

  std::size_t Next(std::size_t from) const {
    const std::size_t n = text_.size(), m = sought_.size();
    if (from > n || m > n - from) return std::string_view::npos;
    const char* base = text_.data();
    if (!fold_) {
      return text_.find(sought_, from);
    }
    const std::size_t last = n - m;  // last possible match start
    if (anchor_ != std::string_view::npos) {
      const char anchorByte = sought_[anchor_];
      std::size_t p = from;
      while (p <= last) {
        const void* hit = std::memchr(base + p + anchor_, anchorByte, last - p + 1);
        if (!hit) break;
        p = static_cast<std::size_t>(static_cast<const char*>(hit) - base) - anchor_;
        if (FoldedEqual(base + p, sought_)) return p;
        ++p;
      }
      return std::string_view::npos;
    }
    const unsigned char first = FoldAscii(static_cast<unsigned char>(sought_[0]));
    for (std::size_t p = from; p <= last; ++p) {
      if (FoldAscii(static_cast<unsigned char>(base[p])) == first && FoldedEqual(base + p, sought_)) return p;
    }
    return std::string_view::npos;
  }

 private:
  std::string_view text_, sought_;
  bool fold_;
  std::size_t anchor_ = std::string_view::npos;
};

}  // namespace

std::size_t FindOnBoundary(std::string_view text, std::string_view sought, std::size_t origin, bool fold) {
  const RawSearcher raw(text, sought, fold);
  // `walk` is a boundary of the stepping from origin, and only moves ahead;
  // bytes before `scanned` have been looked back at. Each byte is walked over
  // and looked back at once at most.
  std::size_t walk = origin, scanned = origin;
  for (std::size_t from = origin;;) {
    const std::size_t p = raw.Next(from);
    if (p == std::string_view::npos) return p;
    std::size_t j = p;
    while (j > scanned && !EndsACharacter(text[j - 1])) --j;
    if (j > scanned && j > walk) walk = j;  // a boundary whatever the stepping
    scanned = p;
    while (walk < p) walk += CharBytes(text, walk);
    if (walk == p) return p;
    from = p + 1;
  }
}

}  // namespace detail

namespace {

std::size_t Clamp32(std::int32_t v) { return v < 0 ? 0 : static_cast<std::size_t>(v); }

}  // namespace

std::int32_t TextLength(std::string_view text) { return static_cast<std::int32_t>(text.size()); }

Text TextLeft(std::string_view text, std::int32_t count) { return Text(text.substr(0, Clamp32(count))); }

Text TextRight(std::string_view text, std::int32_t count) {
  const std::size_t n = std::min(Clamp32(count), text.size());
  return Text(text.substr(text.size() - n));
}

Text TextMid(std::string_view text, std::int32_t start, std::int32_t count) {
  const std::int64_t i = static_cast<std::int64_t>(start) - 1;
  if (i < 0 || i >= static_cast<std::int64_t>(text.size()) || count <= 0) return {};
  return Text(text.substr(static_cast<std::size_t>(i), static_cast<std::size_t>(count)));
}

std::int32_t TextFind(std::string_view text, std::string_view sought, std::optional<std::int32_t> start,
                      bool caseInsensitive) {
  const std::size_t n = text.size();
  const std::int64_t s = start ? std::max<std::int64_t>(static_cast<std::int64_t>(*start) - 1, 0) : 0;
  const bool windowEmpty = n == 0 || (s > 0 && s >= static_cast<std::int64_t>(n));
  if (sought.empty()) return windowEmpty ? -1 : 1;
  if (windowEmpty) return -1;
  const std::size_t p = detail::FindOnBoundary(text, sought, static_cast<std::size_t>(s), caseInsensitive);
  return p == std::string_view::npos ? -1 : static_cast<std::int32_t>(p + 1);
}

namespace {

// Hands the pieces of `text` between delimiters to `piece`, in order, until it
// returns false. An empty text has no pieces; an empty delimiter leaves the
// text whole; a text ending in the delimiter has no empty last piece.
template <class F>
void ForEachPiece(std::string_view text, std::string_view delimiter, F&& piece) {
  if (text.empty()) return;
  if (delimiter.empty()) {
    piece(text);
    return;
  }
  std::size_t q = 0;
  for (std::size_t p; (p = detail::FindOnBoundary(text, delimiter, q, false)) != std::string_view::npos;) {
    if (!piece(text.substr(q, p - q))) return;
    q = p + delimiter.size();
  }
  if (q < text.size()) piece(text.substr(q));
}

}  // namespace

TextArray TextSplit(std::string_view text, std::string_view delimiter, std::optional<std::int32_t> maxCount) {
  TextArray pieces;
  std::int64_t left = maxCount ? std::max<std::int32_t>(*maxCount, 0) : -1;  // -1: unlimited
  if (left == 0) return pieces;
  ForEachPiece(text, delimiter, [&](std::string_view piece) {
    pieces.emplace_back(piece);
    return left < 0 || --left > 0;
  });
  return pieces;
}

void TextSplitEach(std::string_view text, std::string_view delimiter,
                   const std::function<void(std::string_view)>& piece) {
  ForEachPiece(text, delimiter, [&](std::string_view p) {
    piece(p);
    return true;
  });
}

Text TrimLeadingSpaces(std::string_view text) {
  std::size_t i = 0;
  for (;;) {
    if (i < text.size() && text[i] == ' ') {
      ++i;
    } else if (i + 1 < text.size() && text[i] == '\xA1' && text[i + 1] == '\xA1') {
      i += 2;
    } else {
      break;
    }
  }
  return Text(text.substr(i));
}

Text CharText(std::int32_t code) {
  const char byte = static_cast<char>(code & 0xFF);
  return byte == 0 ? Text() : Text(1, byte);
}

Text HexText(std::int32_t value) {
  char buffer[16];
  const int n = std::snprintf(buffer, sizeof buffer, "%X", static_cast<unsigned>(value));
  return Text(buffer, static_cast<std::size_t>(n));
}

std::int32_t BytesLength(const ByteArray& bytes) { return static_cast<std::int32_t>(bytes.size()); }

}  // namespace kelvarn
