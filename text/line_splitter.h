// The lines of a keyword file as its bytes arrive, in pieces of any size.
//
// Lines end at CR LF on a character boundary (a byte of 0x80 or above starts
// a two- or four-byte character, so a CR that is a trail byte ends nothing) and at a
// zero byte, which also starts the character count afresh: a text stops at a
// zero byte, and a stray one must not cut off the rest of the file. Every
// line is handed on, empty ones between two CR LFs included; the bytes between
// two zero bytes give none, and a final line end gives no empty last line.
// However the bytes are cut into pieces, the lines are those of the whole.
//
// UTF-8 text (and GBK text converted from it) ends its lines at LF instead,
// with a CR before the LF dropped: no byte of a multi-byte character is an
// LF, so no boundaries are needed. Zero bytes work as above.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace kelvarn {

class LineSplitter {
 public:
  using Line = std::function<void(std::string_view line)>;

  enum class Ends { kCrLf, kLf };

  explicit LineSplitter(Line line, Ends ends = Ends::kCrLf) : line_(std::move(line)), ends_(ends) {}

  // Hands on every line that these bytes end; the unfinished last one is
  // held back, and only it is kept.
  void Feed(std::string_view bytes);
  // The end of the input: hands on the line held back, if any.
  void Finish();

  // The lines of a whole text, without copying it.
  static void Split(std::string_view text, const Line& line, Ends ends = Ends::kCrLf);

 private:
  Line line_;
  Ends ends_;
  std::string held_;        // the unfinished line; never holds a zero byte
  std::size_t resume_ = 0;  // a character boundary in held_ before which no line end starts
};

}  // namespace kelvarn
