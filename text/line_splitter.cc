#include "text/line_splitter.h"

#include "text/find.h"

namespace kelvarn {
namespace {

constexpr std::string_view kCrLf = "\r\n";

// Hands on the lines that end in `text`, which starts a line, and returns
// where the unfinished last one starts. `resume` is a character boundary
// before which the first line holds neither a CR LF nor a zero byte.
std::size_t HandOnEndedLines(std::string_view text, std::size_t resume, const LineSplitter::Line& line) {
  std::size_t start = 0, from = resume;  // the line's start; a boundary in it to search on from
  for (;;) {
    const std::size_t zero = text.find('\0', from);
    const std::string_view upToZero = text.substr(0, zero);
    for (std::size_t end; (end = detail::FindOnBoundary(upToZero, kCrLf, from, false)) != std::string_view::npos;) {
      line(upToZero.substr(start, end - start));
      start = from = end + kCrLf.size();
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
    rest = HandOnEndedLines(bytes, 0, line_);
    held_.assign(bytes.substr(rest));
  } else {
    held_.append(bytes);
    rest = HandOnEndedLines(held_, resume_, line_);
    held_.erase(0, rest);
  }
  resume_ = held_.empty() ? 0 : LastBoundaryBeforeEnd(held_, rest == 0 ? resume_ : 0);
}

void LineSplitter::Finish() {
  if (!held_.empty()) line_(held_);
  held_.clear();
  resume_ = 0;
}

void LineSplitter::Split(std::string_view text, const Line& line) {
  const std::size_t rest = HandOnEndedLines(text, 0, line);
  if (rest < text.size()) line(text.substr(rest));
}

}  // namespace kelvarn
