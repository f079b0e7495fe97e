// GB18030 on Windows without code page 54936: Wine has none, and Windows'
// own is GB18030-2005 where glibc reads GB18030-2022. Code page 936 (the
// program's ANSI code page, so what the window shows agrees) gives the
// two-byte codes; gb18030_tables.h, made from glibc, gives what GB18030 reads
// otherwise and the four-byte codes. Both builds thus convert byte for byte
// alike. UTF-8 and UTF-16 are decoded and encoded here by hand: only the GBK
// side needs the system's tables.
#include <windows.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "text/convert.h"
#include "text/win32/gb18030_tables.h"

namespace kelvarn {
namespace {

constexpr char32_t kNone = 0xFFFFFFFF;  // no character: the input was invalid here
constexpr std::size_t kTrails = 0xFF - 0x40;

// Two-byte codes (lead 0x81-0xFE, trail 0x40-0xFE but 0x7F) and the basic
// plane's characters that have one, made once from code page 936.
struct TwoByteTables {
  std::vector<char32_t> decode =
      std::vector<char32_t>(126 * kTrails, kNone);  // by (lead - 0x81) * kTrails + trail - 0x40
  std::vector<std::uint16_t> encode = std::vector<std::uint16_t>(0x10000, 0);  // 0: none

  TwoByteTables() {
    std::string codes;
    std::vector<std::size_t> slots;
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        codes += static_cast<char>(lead);
        codes += static_cast<char>(trail);
        slots.push_back((lead - 0x81) * kTrails + trail - 0x40);
      }
    }
    // Every code is one UTF-16 unit in code page 936: one call decodes them all.
    std::vector<wchar_t> units(slots.size());
    const int n = ::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, codes.data(), static_cast<int>(codes.size()),
                                        units.data(), static_cast<int>(units.size()));
    for (std::size_t i = 0; i < slots.size(); ++i) {
      wchar_t unit = 0;
      if (n == static_cast<int>(units.size())) {
        unit = units[i];
      } else if (::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, codes.data() + 2 * i, 2, &unit, 1) != 1) {
        continue;  // a system whose table lacks the code: that code reads as invalid
      }
      decode[slots[i]] = unit;
    }
    for (const gb18030::Override& o : gb18030::kOverrides) {
      decode[((o.code >> 8) - 0x81) * kTrails + (o.code & 0xFF) - 0x40] = o.codePoint;
    }
    for (std::size_t i = 0; i < slots.size(); ++i) {
      const char32_t cp = decode[slots[i]];
      if (cp < 0x10000)
        encode[cp] = static_cast<std::uint16_t>(((slots[i] / kTrails + 0x81) << 8) | (slots[i] % kTrails + 0x40));
    }
  }
};

const TwoByteTables& Tables() {
  static const TwoByteTables tables;
  return tables;
}

// The four-byte ranges by code point: GB18030-2005 moved U+E7C7 out of order.
const std::array<gb18030::Range, std::size(gb18030::kFourByteRanges)>& RangesByCodePoint() {
  static const auto sorted = [] {
    std::array<gb18030::Range, std::size(gb18030::kFourByteRanges)> ranges{};
    std::copy(std::begin(gb18030::kFourByteRanges), std::end(gb18030::kFourByteRanges), ranges.begin());
    std::sort(ranges.begin(), ranges.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return ranges;
  }();
  return sorted;
}

constexpr std::uint32_t kFourByteCount = 126 * 10 * 126 * 10;  // linear numbers from 0x81 0x30 0x81 0x30
constexpr std::uint32_t kSupplementaryStart = (0x90 - 0x81) * 12600;

// The character at `p` of GB18030 text and its length in bytes: kNone with
// length 1 where no character starts.
std::pair<char32_t, std::size_t> DecodeGb(std::string_view in, std::size_t p) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(in[i]); };
  const unsigned lead = at(p);
  if (lead < 0x80) return {lead, 1};
  if (lead == 0x80 || lead == 0xFF || p + 1 >= in.size()) return {kNone, 1};
  const unsigned second = at(p + 1);
  if (second >= 0x40 && second <= 0xFE && second != 0x7F)
    return {Tables().decode[(lead - 0x81) * kTrails + second - 0x40], 2};
  if (second < 0x30 || second > 0x39 || p + 3 >= in.size() || at(p + 2) < 0x81 || at(p + 2) > 0xFE ||
      at(p + 3) < 0x30 || at(p + 3) > 0x39) {
    return {kNone, 1};
  }
  const std::uint32_t linear =
      (lead - 0x81) * 12600 + (second - 0x30) * 1260 + (at(p + 2) - 0x81) * 10 + at(p + 3) - 0x30;
  if (linear >= kSupplementaryStart) {
    const std::uint32_t cp = 0x10000 + linear - kSupplementaryStart;
    return {cp <= 0x10FFFF ? cp : kNone, cp <= 0x10FFFF ? 4 : 1};
  }
  const auto* ranges = std::begin(gb18030::kFourByteRanges);
  const auto* end = std::end(gb18030::kFourByteRanges);
  const auto* r =
      std::upper_bound(ranges, end, linear, [](std::uint32_t l, const auto& range) { return l < range.linear; });
  if (r == ranges || linear >= std::prev(r)->linear + std::prev(r)->count) return {kNone, 1};
  return {static_cast<char32_t>(std::prev(r)->first + (linear - std::prev(r)->linear)), 4};
}

// Appends the GB18030 form of `cp`, or "?" where it has none.
void AppendGb(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
    return;
  }
  const auto four = [&](std::uint32_t linear) {
    out += static_cast<char>(0x81 + linear / 12600);
    out += static_cast<char>(0x30 + linear / 1260 % 10);
    out += static_cast<char>(0x81 + linear / 10 % 126);
    out += static_cast<char>(0x30 + linear % 10);
  };
  if (cp < 0x10000) {
    if (const std::uint16_t code = Tables().encode[cp]) {
      out += static_cast<char>(code >> 8);
      out += static_cast<char>(code & 0xFF);
      return;
    }
    const auto& ranges = RangesByCodePoint();
    const auto r = std::upper_bound(ranges.begin(), ranges.end(), cp,
                                    [](char32_t c, const auto& range) { return c < range.first; });
    if (r != ranges.begin() && cp < std::prev(r)->first + std::prev(r)->count) {
      four(std::prev(r)->linear + (cp - std::prev(r)->first));
      return;
    }
    out += '?';
    return;
  }
  for (const gb18030::Override& o : gb18030::kOverrides) {  // the few supplementary characters with two bytes
    if (o.codePoint == cp) {
      out += static_cast<char>(o.code >> 8);
      out += static_cast<char>(o.code & 0xFF);
      return;
    }
  }
  if (cp <= 0x10FFFF && kSupplementaryStart + (cp - 0x10000) < kFourByteCount) {
    four(kSupplementaryStart + (cp - 0x10000));
  } else {
    out += '?';
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The character of strict UTF-8 at `p` (no overlong forms, surrogates or
// values past U+10FFFF) and its length: kNone with length 1 where none starts.
std::pair<char32_t, std::size_t> DecodeUtf8(std::string_view in, std::size_t p) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(in[i]); };
  const unsigned lead = at(p);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  char32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {kNone, 1};
  }
  if (p + length > in.size()) return {kNone, 1};
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned b = at(p + k);
    if (k == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xBF)) return {kNone, 1};
    cp = cp << 6 | (b & 0x3F);
  }
  return {cp, length};
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  std::string out;
  out.reserve(gbk.size() * 3 / 2 + 8);
  for (std::size_t p = 0; p < gbk.size();) {
    const auto [cp, length] = DecodeGb(gbk, p);
    AppendUtf8(out, cp == kNone ? 0xFFFD : cp);
    p += length;
  }
  return out;
}

Text Utf8ToGbk(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 8);
  for (std::size_t p = 0; p < utf8.size();) {
    const auto [cp, length] = DecodeUtf8(utf8, p);
    if (cp == kNone) {
      out += '?';
    } else {
      AppendGb(out, cp);
    }
    p += length;
  }
  return out;
}

Text detail::Utf16ToGbk(std::string_view bytes, bool bigEndian) {
  const auto unit = [&](std::size_t p) -> char32_t {
    const auto a = static_cast<unsigned char>(bytes[p]), b = static_cast<unsigned char>(bytes[p + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  std::string out;
  out.reserve(bytes.size() + 8);
  for (std::size_t p = 0; p < bytes.size();) {
    if (p + 1 >= bytes.size()) {  // an odd last byte
      out += '?';
      break;
    }
    const char32_t u = unit(p);
    if (u >= 0xD800 && u <= 0xDBFF && p + 3 < bytes.size() && unit(p + 2) >= 0xDC00 && unit(p + 2) <= 0xDFFF) {
      AppendGb(out, 0x10000 + ((u - 0xD800) << 10) + (unit(p + 2) - 0xDC00));
      p += 4;
      continue;
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      out += '?';
    } else {
      AppendGb(out, u);
    }
    p += 2;
  }
  return out;
}

}  // namespace kelvarn
