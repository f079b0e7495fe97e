#include "app/suggestions.h"

#include <variant>

#include "app/search_page.h"
#include "json/json.h"
#include "text/encoding.h"

namespace kelvarn {
namespace {

std::string_view TrimSpaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool IsNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '.';
}

// "window.sug([…]);" holds "[…]": a callback's name, then its argument.
std::string_view Unwrap(std::string_view body) {
  std::size_t name = 0;
  while (name < body.size() && IsNameByte(body[name])) ++name;
  if (name == 0 || name == body.size() || body[name] != '(') return body;
  const std::size_t close = body.rfind(')');
  if (close == std::string_view::npos || close <= name) return body;
  return TrimSpaces(body.substr(name + 1, close - name - 1));
}

// The text an array element holds, if it holds one: the JSON class reads
// values out of object members only.
std::optional<std::string> TextOf(const JSON& item) {
  JSON holder;
  holder.SetMember("v", item);
  Value value = holder.GetMember("v");
  if (Text* text = std::get_if<Text>(&value)) return std::move(*text);
  return std::nullopt;
}

}  // namespace

Text BuildSuggestUrl(std::string_view keyword, std::string_view base) {
  Text url(base);
  url += "/su?wd=";
  url += UrlEncode(GbkToUtf8(keyword));
  url += "&action=opensearch&ie=utf-8";
  return url;
}

std::optional<TextArray> ReadSuggestions(std::string_view body) {
  if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
  body = Unwrap(TrimSpaces(body));
  // GBK bytes can look like a quote or a backslash to a JSON reader: they
  // are made UTF-8 first.
  const std::string utf8 = DetectEncoding(body).encoding == Encoding::kGb18030 ? GbkToUtf8(body) : std::string(body);
  if (!utf8.starts_with('[')) return std::nullopt;
  JSON answer;
  if (!answer.Parse(utf8)) return std::nullopt;
  const JSON list = answer.GetItem(1);
  if (!list.HoldsArray()) return std::nullopt;
  TextArray phrases;
  std::size_t cost = 0;
  for (std::int32_t i = 0; i < list.GetLength(); ++i) {
    const std::optional<std::string> phrase = TextOf(list.GetItem(i));
    if (!phrase || phrase->empty() || phrase->find_first_of("\r\n") != std::string::npos) continue;
    Text gbk = Utf8ToGbk(*phrase);
    if ((cost += gbk.size() + kPhraseOverheadBytes) > kMaxPhraseBytesPerPage) break;
    phrases.push_back(std::move(gbk));
  }
  return phrases;
}

}  // namespace kelvarn
