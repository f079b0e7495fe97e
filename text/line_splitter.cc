#include "text/line_splitter.h"

#include "text/find.h"

namespace kelvarn {
namespace {

constexpr std::string_view kCrLf = "\r\n";

// Hands on the lines that end in `text`, which starts a line, and returns
// where the unfinished last one starts. `resume` is a character boundary
// before which the first line holds neither a line end nor a zero byte.
std::size_t HandOnEndedLines(std::string_view text, std::size_t resume, LineSplitter::Ends ends,
                             const LineSplitter::Line& line) {
  const bool lf = ends == LineSplitter::Ends::kLf;
  std::size_t start = 0, from = resume;  // the line's start; a boundary in it to search on from
  for (;;) {
    const std::size_t zero = text.find('\0', from);
    const std::string_view upToZero = text.substr(0, zero);
    for (std::size_t end;
         (end = lf ? upToZero.find('\n', from) : detail::FindOnBoundary(upToZero, kCrLf, from, false)) !=
         std::string_view::npos;) {
      std::string_view piece = upToZero.substr(start, end - start);
      if (lf && !piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
      line(piece);
      start = from = end + (lf ? 1 : kCrLf.size());
    }
    if (zero == std::string_view::npos) return start;
    if (zero > start) line(upToZero.substr(start));
    // A run of zero bytes ends nothing but empty lines: /dev/zero is all run.
    for (start = zero + 1; start < text.size() && text[start] == '\0';) ++start;
    from = start;
  }
}

// The last character boundary before the final byte of a non-empty `held`,
// stepping on from the boundary `from`: a CR LF that more bytes complete
// starts there or later. Stepping on from the last answer keeps a long line
// from being searched again for every piece of it.
std::size_t LastBoundaryBeforeEnd(std::string_view held, std::size_t from) {
  for (;;) {
    const std::size_t next = from + detail::CharBytes(held, from);
    if (next >= held.size()) return from;
    from = next;
  }
}

}  // namespace

void LineSplitter::Feed(std::string_view bytes) {
  std::size_t rest = 0;
  if (held_.empty()) {
    // Straight from the caller's bytes: only the unfinished line is copied.
    rest = HandOnEndedLines(bytes, 0, ends_, line_);
    held_.assign(bytes.substr(rest));
  } else {
    held_.append(bytes);
    rest = HandOnEndedLines(held_, resume_, ends_, line_);
    held_.erase(0, rest);
  }
  if (held_.empty()) {
    resume_ = 0;
  } else {
    // An LF is one byte: the held line has none to search again.
    resume_ = ends_ == Ends::kLf ? held_.size() : LastBoundaryBeforeEnd(held_, rest == 0 ? resume_ : 0);
  }
}

void LineSplitter::Finish() {
  if (!held_.empty()) line_(held_);
  held_.clear();
  resume_ = 0;
}

void LineSplitter::Split(std::string_view text, const Line& line, Ends ends) {
  const std::size_t rest = HandOnEndedLines(text, 0, ends, line);
  if (rest < text.size()) line(text.substr(rest));
}

}  // namespace kelvarn
