// The encodings of text that comes from outside: keyword files, settings
// files, the terminal. Inside, texts stay GBK (GB18030); these tell what a
// file's bytes are and bring them in.
//
// Pure functions, safe from any thread; bad bytes never fail a call.
#pragma once

#include <cstddef>
#include <string_view>

#include "text/text.h"

namespace kelvarn {

enum class Encoding {
  kAscii,    // no byte of 0x80 or above: GBK and UTF-8 alike
  kUtf8,     // valid UTF-8 with at least one multi-byte character
  kGb18030,  // anything else: the program's own encoding
  kUtf16Le,  // UTF-16, known only by its byte-order mark
  kUtf16Be,
};

enum class LineEnds {
  kNone,  // no LF at all
  kCrLf,  // every LF has a CR before it
  kLf,    // none has
  kMixed,
};

struct Detection {
  Encoding encoding = Encoding::kAscii;
  std::size_t bomBytes = 0;  // the byte-order mark's length, 0 without one
  LineEnds lineEnds = LineEnds::kNone;
  // A UTF-8 byte-order mark; or valid UTF-8 that GBK text hardly forms by
  // chance: at least kClearUtf8Characters multi-byte characters (where
  // uchardet, asked too, is surest), or lines ending in LF alone, which no
  // file in the window's own format has. Short GBK text is often valid UTF-8
  // ("一直" is), so fewer characters with CR LF ends are taken for GBK.
  bool clearlyUtf8 = false;
};
inline constexpr int kClearUtf8Characters = 6;

// What the bytes are, judged from all of them, or from the first part of a
// long file (a character cut at the end counts as valid). UTF-16 is
// recognised by its byte-order mark only.
Detection DetectEncoding(std::string_view bytes);

// The bytes, read as `from`, as GBK text: a byte-order mark of `from`
// dropped, UTF-8 and UTF-16 converted to GB18030 (an invalid sequence becomes
// "?"), GBK and ASCII as they are.
Text ToGbk(std::string_view bytes, Encoding from);

// How a file meant to be in the window's own format is read: GBK unless it
// clearly says otherwise (clearlyUtf8, or UTF-16's byte-order mark).
inline Encoding ReadAs(const Detection& detected) {
  if (detected.encoding == Encoding::kUtf16Le || detected.encoding == Encoding::kUtf16Be) return detected.encoding;
  return detected.clearlyUtf8 ? Encoding::kUtf8 : Encoding::kGb18030;
}

// Whether the locale's character set is UTF-8, from the first non-empty of
// LC_ALL, LC_CTYPE and LANG (null counts as empty), as the C library chooses:
// its codeset, between "." and "@", is "UTF-8" or "utf8" in any case.
bool LocaleIsUtf8(const char* lcAll, const char* lcCtype, const char* lang);

}  // namespace kelvarn
