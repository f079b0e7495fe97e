// Page cutting: all-matches TextBetween against fresh searches, and
// ExtractRelatedPhrases and every page form on arbitrary pages, a third of
// them inside a container the HTML parser is handed; UrlEncode round trip.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/page_forms.h"
#include "app/search_page.h"
#include "tests/reference.h"
#include "text/between.h"

namespace {

std::string UrlDecode(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out += static_cast<char>(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  if (kelvarn::UrlEncode(input).size() > input.size() * 3 || UrlDecode(kelvarn::UrlEncode(input)) != input) abort();
  kelvarn::ExtractRelatedPhrases(input);
  const std::string page =
      size % 3 == 0 ? "<div id=rs_new><div>\xE7\x9B\xB8\xE5\x85\xB3\xE6\x90\x9C\xE7\xB4\xA2</div>" + input : input;
  const kelvarn::RelatedBlock block =
      kelvarn::FindRelatedBlock(page, size % 2 == 0 ? "text/html; charset=utf-8" : "text/html");
  // Outside the classic form a phrase is one line of text, never empty.
  if (block.form != "classic") {
    for (const auto& phrase : block.phrases) {
      if (phrase.empty() || phrase.find_first_of("\r\n") != std::string::npos) abort();
    }
  }
  if (size >= 2) {
    const std::size_t a = 1 + data[0] % 3, b = 1 + data[1] % 3;
    if (size >= 2 + a + b) {
      const std::string start = input.substr(2, a), end = input.substr(2 + a, b), text = input.substr(2 + a + b);
      kelvarn::TextArray matches;
      kelvarn::TextBetween(text, start, end, 1, &matches);
      if (text.size() < 4096 && matches != kelvarn::reference::AllBetween(text, start, end)) abort();
      kelvarn::TextBetween(text, start, end);
    }
  }
  return 0;
}
