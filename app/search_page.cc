#include "app/search_page.h"

#include <algorithm>
#include <vector>

#include "text/between.h"

namespace kelvarn {
namespace {

// "相关搜索</th><th>": the related-searches block begins after it.
constexpr std::string_view kBlockStart = "\xCF\xE0\xB9\xD8\xCB\xD1\xCB\xF7</th><th>";
constexpr std::string_view kBlockEnd = "</table></div>";
constexpr std::string_view kPhraseStart = "\">";
constexpr std::string_view kPhraseEnd = "</a>";

bool IsKept(unsigned char b) {
  return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '*' || b == '-' ||
         b == '.' || b == '@' || b == '_';
}

}  // namespace

Text BuildSearchUrl(std::string_view keyword) { return BuildSearchUrl(keyword, SearchBase()); }

Text BuildSearchUrl(std::string_view keyword, std::string_view base) {
  Text url(base);
  url += "/s?wd=";
  url += UrlEncode(keyword);
  return url;
}

TextArray ExtractRelatedPhrases(std::string_view page) {
  bool blockFound = false;
  return ExtractRelatedPhrases(page, blockFound);
}

TextArray ExtractRelatedPhrases(std::string_view page, bool& blockFound) {
  TextArray phrases;
  const std::int32_t start = TextFind(page, kBlockStart);
  const std::string_view rest = start < 0 ? std::string_view() : page.substr(start - 1 + kBlockStart.size());
  const std::int32_t end = start < 0 ? -1 : TextFind(rest, kBlockEnd);
  blockFound = end > 0;
  if (blockFound) {
    AllMatchesBetween(rest.substr(0, static_cast<std::size_t>(end - 1)), kPhraseStart, kPhraseEnd, phrases,
                      kMaxPhraseBytesPerPage, kPhraseOverheadBytes);
  }
  return phrases;
}

Text UrlEncode(std::string_view text) {
  Text out;
  out.reserve(text.size() * 3);
  for (const char c : text) {
    if (IsKept(static_cast<unsigned char>(c))) {
      out += c;
    } else {
      out += '%';
      out += HexByte(static_cast<unsigned char>(c));
    }
  }
  return out;
}

Text HexByte(std::int32_t value) {
  Text hex = HexText(value & 0xFF);
  return hex.size() == 1 ? "0" + hex : hex;
}

}  // namespace kelvarn
