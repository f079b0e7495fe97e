// Text operations on GBK byte texts.
//
// A text is a std::string of GBK bytes, or GB18030, GBK's superset (no
// embedded zero bytes expected, none checked). Lengths and positions count
// bytes; positions are 1-based. Only TextFind, TextSplit and
// TrimLeadingSpaces step over characters (a byte of 0x80 or above starts a
// two-byte character, or a four-byte one when it is GB18030's lead, digit,
// lead, digit); the others cut raw bytes and may split a character in half. Page cutting relies on that split:
// positions from TextFind are fed to TextMid.
//
// Every operation is a pure function: it never fails, never changes its
// arguments and answers unusable input with the empty text, the empty array,
// 0 or -1. Safe to call from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvarn {

using Text = std::string;
using TextArray = std::vector<Text>;
using ByteArray = std::vector<std::uint8_t>;

// Number of bytes. Texts are below 2 GiB here (pages are capped far lower).
std::int32_t TextLength(std::string_view text);

// The first min(count, length) bytes; empty when count <= 0.
Text TextLeft(std::string_view text, std::int32_t count);

// The last min(count, length) bytes; empty when count <= 0.
Text TextRight(std::string_view text, std::int32_t count);

// Up to `count` bytes from 1-based `start`, cut at the end of the text; empty
// when start < 1, start > length or count <= 0.
Text TextMid(std::string_view text, std::int32_t start, std::int32_t count);

// 1-based position of the first match of `sought` at or after `start`
// (absent, or below 1: the whole text), or -1. Candidates step
// over double-byte characters from the window's start, so a match never begins
// on a trail byte. With `caseInsensitive`, 'A'-'Z' fold to 'a'-'z' byte by byte
// (trail bytes included) and nothing else folds. An empty `sought` gives 1 when
// the window is non-empty, else -1 (never the start position).
std::int32_t TextFind(std::string_view text, std::string_view sought, std::optional<std::int32_t> start = std::nullopt,
                      bool caseInsensitive = false);

// Splits at exact matches of `delimiter` that begin on character boundaries.
// Consecutive or leading delimiters give empty pieces; a trailing one gives no
// trailing empty piece. With `maxCount` N, at most N pieces, and the text after
// the N-th delimiter is dropped. Empty text or maxCount <= 0: empty array;
// empty delimiter: the whole text as one piece.
TextArray TextSplit(std::string_view text, std::string_view delimiter = ",",
                    std::optional<std::int32_t> maxCount = std::nullopt);

// The pieces TextSplit gives without a maxCount, handed to `piece` one by
// one as views into `text`, for texts too large to copy piece by piece.
void TextSplitEach(std::string_view text, std::string_view delimiter,
                   const std::function<void(std::string_view)>& piece);

// Drops leading 0x20 bytes and 0xA1 0xA1 (ideographic space) pairs; tabs and
// line breaks are not spaces, and trailing spaces stay.
Text TrimLeadingSpaces(std::string_view text);

// One byte: the low 8 bits of `code`; empty when that byte is 0.
Text CharText(std::int32_t code);

// Upper-case hexadecimal without leading zeros or prefix; negative numbers
// give their 32-bit two's complement (8 digits).
Text HexText(std::int32_t value);

// Length of a byte array (0 for the empty one).
std::int32_t BytesLength(const ByteArray& bytes);

// GBK <-> UTF-8 for the edges of the program only (terminal, command line,
// UTF-8 pages): texts stay GBK everywhere else. The GBK side is GB18030, GBK's
// superset: GBK text is the same in both, and every Unicode character has a
// form, so nothing UTF-8 brings in is lost. Bytes that do not convert become
// U+FFFD (to UTF-8) or '?' (to GB18030: only bytes that are not UTF-8); the
// result is never shorter than the convertible part of the input.
std::string GbkToUtf8(std::string_view gbk);
Text Utf8ToGbk(std::string_view utf8);

}  // namespace kelvarn
