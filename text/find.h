// Character-aware byte search shared by the text operations. Internal to text/.
#pragma once

#include <cstddef>
#include <string_view>

namespace kelvarn::detail {

inline bool IsDigitByte(char c) { return c >= '0' && c <= '9'; }

// The bytes of the character that starts at `p`: one below 0x80; four for
// GB18030's four-byte form (lead 0x81-0xFE, digit, lead, digit, all there);
// else two, a lead byte of 0x80 or above and whatever follows it.
inline std::size_t CharBytes(std::string_view text, std::size_t p) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  if (b(p) < 0x80) return 1;
  if (p + 3 < text.size() && b(p) >= 0x81 && IsDigitByte(text[p + 1]) && b(p + 2) >= 0x81 && IsDigitByte(text[p + 3])) {
    return 4;
  }
  return 2;
}

// Whether the position after this byte is a character boundary however the
// text is stepped: a byte below 0x80 that is not a digit is a character of
// its own or the trail of a two-byte one, never inside a four-byte form.
inline bool EndsACharacter(char c) { return static_cast<unsigned char>(c) < 0x80 && !IsDigitByte(c); }

// Index of the first match of `sought` in `text` at or after `origin` that lies
// on a character boundary when stepping from `origin` (CharBytes at a time),
// or npos. `fold` compares after folding ASCII 'A'-'Z' to lower case.
// Requires origin <= text.size() and a non-empty `sought`. Linear in the bytes
// examined: candidates come from a fast byte search, and each is checked by
// walking from the last position known to be a boundary: the walk never goes
// back, and jumps ahead to the position after the last byte that
// EndsACharacter before the candidate.
std::size_t FindOnBoundary(std::string_view text, std::string_view sought, std::size_t origin, bool fold);

}  // namespace kelvarn::detail
