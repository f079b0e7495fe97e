// Plain character-stepping versions of the searches, written straight from
// their definitions, for randomized comparison with the fast ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvarn::reference {

inline char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// The length of the character at p: a byte below 0x80 alone; GB18030's four
// bytes (0x81-0xFE, '0'-'9', 0x81-0xFE, '0'-'9'); else a lead and its trail.
inline std::int64_t Step(std::string_view text, std::int64_t p) {
  const auto at = [&](std::int64_t i) { return static_cast<unsigned char>(text[static_cast<std::size_t>(i)]); };
  const auto digit = [&](std::int64_t i) { return at(i) >= '0' && at(i) <= '9'; };
  if (at(p) < 0x80) return 1;
  const bool four = p + 3 < static_cast<std::int64_t>(text.size()) && at(p) >= 0x81 && digit(p + 1) &&
                    at(p + 2) >= 0x81 && digit(p + 3);
  return four ? 4 : 2;
}

inline std::int32_t TextFind(std::string_view text, std::string_view sought, std::optional<std::int32_t> start = {},
                             bool fold = false) {
  const std::int64_t n = static_cast<std::int64_t>(text.size());
  std::int64_t s = start ? std::max<std::int64_t>(*start - std::int64_t{1}, 0) : 0;
  const bool empty = n == 0 || (s > 0 && s >= n);
  if (sought.empty()) return empty ? -1 : 1;
  if (empty) return -1;
  const std::int64_t m = static_cast<std::int64_t>(sought.size());
  for (std::int64_t p = s; n - p >= m;) {
    bool same = true;
    for (std::int64_t i = 0; i < m && same; ++i) {
      same = fold ? Fold(text[p + i]) == Fold(sought[i]) : text[p + i] == sought[i];
    }
    if (same) return static_cast<std::int32_t>(p + 1);
    p += Step(text, p);
  }
  return -1;
}

inline std::vector<std::string> TextSplit(std::string_view text, std::string_view delim,
                                          std::optional<std::int32_t> maxCount = {}) {
  std::vector<std::string> out;
  std::int64_t left = maxCount ? std::max(*maxCount, 0) : -1;
  if (text.empty() || left == 0) return out;
  if (delim.empty()) return {std::string(text)};
  std::size_t p = 0, q = 0;
  while (p <= text.size() && text.size() - p >= delim.size()) {
    if (text.substr(p, delim.size()) == delim) {
      out.emplace_back(text.substr(q, p - q));
      p = q = p + delim.size();
      if (left > 0 && --left == 0) return out;
    } else {
      p += static_cast<std::size_t>(Step(text, static_cast<std::int64_t>(p)));
    }
  }
  if (q < text.size()) out.emplace_back(text.substr(q));
  return out;
}

// All-matches text-between, with a fresh search for every marker.
inline std::vector<std::string> AllBetween(std::string_view text, std::string_view s, std::string_view e) {
  std::vector<std::string> out;
  const auto mid = [&](std::int64_t start, std::int64_t count) -> std::string {
    if (start < 1 || start > static_cast<std::int64_t>(text.size()) || count <= 0) return {};
    return std::string(text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
  };
  const std::int64_t ls = static_cast<std::int64_t>(s.size());
  for (std::int32_t p = TextFind(text, s, 1, true); p != -1; p = TextFind(text, s, p + 1, true)) {
    const std::int32_t q = TextFind(text, e, p, true);
    out.push_back(mid(p + ls, std::int64_t{q} - p - ls));
  }
  return out;
}

}  // namespace kelvarn::reference
