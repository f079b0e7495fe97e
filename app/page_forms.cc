#include "app/page_forms.h"

#include <cstdint>

#include "app/search_page.h"

namespace kelvarn {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::string_view kLabelUtf8 = "\xE7\x9B\xB8\xE5\x85\xB3\xE6\x90\x9C\xE7\xB4\xA2";  // 相关搜索
constexpr std::string_view kLabelGbk = "\xCF\xE0\xB9\xD8\xCB\xD1\xCB\xF7";                   // 相关搜索

// How far back a tag's "<" is looked for: tags are short, and an unbounded
// look back from every candidate would make a hostile page quadratic.
constexpr std::size_t kMaxTagBytes = 1024;

// The "<" of the tag that holds position `at`, or npos.
std::size_t TagOpen(std::string_view page, std::size_t at) {
  const std::size_t low = at > kMaxTagBytes ? at - kMaxTagBytes : 0;
  for (std::size_t i = at; i > low;) {
    const char c = page[--i];
    if (c == '<') return i;
    if (c == '>') return npos;
  }
  return npos;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// Whether the start tag that ends right before `at` (with ">") is `name`.
bool TagBefore(std::string_view page, std::size_t at, std::string_view name) {
  if (at == 0 || page[at - 1] != '>') return false;
  const std::size_t open = TagOpen(page, at - 1);
  if (open == npos) return false;
  const std::size_t end = open + 1 + name.size();
  return end < at && FindIgnoringCase(page.substr(open + 1, name.size()), name, 0) == 0 &&
         (IsSpace(page[end]) || page[end] == '>');
}

// Just after the id value of the first tag at or after `from` whose id is
// `id`, quoted or not.
std::size_t FindTagWithId(std::string_view page, std::string_view id, std::size_t from) {
  for (std::size_t p = FindIgnoringCase(page, "id", from); p != npos; p = FindIgnoringCase(page, "id", p + 2)) {
    if (p == 0 || !IsSpace(page[p - 1])) continue;
    std::size_t v = p + 2;
    while (v < page.size() && IsSpace(page[v])) ++v;
    if (v >= page.size() || page[v] != '=') continue;
    ++v;
    while (v < page.size() && IsSpace(page[v])) ++v;
    const char quote = v < page.size() && (page[v] == '"' || page[v] == '\'') ? page[v] : '\0';
    if (quote) ++v;
    if (page.substr(v, id.size()) != id) continue;
    const std::size_t after = v + id.size();
    if (after >= page.size()) continue;
    if (quote ? page[after] != quote : !(IsSpace(page[after]) || page[after] == '>' || page[after] == '/')) continue;
    if (TagOpen(page, p) != npos) return after;
  }
  return npos;
}

// The bytes from the label to the end of its table, or nothing.
std::string_view UpToTableEnd(std::string_view page, std::size_t label) {
  const std::size_t end = FindIgnoringCase(page, "</table>", label);
  return end == npos ? std::string_view() : page.substr(label, end - label);
}

// Around 2008: the label in a table cell, the phrases in the cells after it.
std::string_view Form2008(std::string_view page, std::string_view label) {
  for (std::size_t at = page.find(label); at != npos; at = page.find(label, at + 1)) {
    if (TagBefore(page, at, "td") && FindIgnoringCase(page.substr(at + label.size(), 5), "</td>", 0) == 0) {
      return UpToTableEnd(page, at);
    }
  }
  return {};
}

// The label in a block of its own before the table, inside the container
// with this id: a label anywhere else (a script, a snippet) starts nothing.
std::string_view LabelBeforeTable(std::string_view page, std::string_view label, std::string_view id) {
  // The label and table found after one box serve the next boxes until they
  // lie behind them: each is searched for once per page, not once per box.
  std::size_t at = 0, table = 0;
  bool looked = false;
  for (std::size_t box = FindTagWithId(page, id, 0); box != npos; box = FindTagWithId(page, id, box)) {
    if (!looked || (at != npos && at < box)) at = page.find(label, box);
    if (!looked || (table != npos && table < box)) table = FindIgnoringCase(page, "<table", box);
    looked = true;
    if (at == npos) return {};
    if (table != npos && at > table) continue;
    if (TagBefore(page, at, "div")) return UpToTableEnd(page, at);
  }
  return {};
}

// Around 2015–2020, UTF-8: the label in a div before the table, in div#rs.
std::string_view Form2018(std::string_view page, std::string_view label) { return LabelBeforeTable(page, label, "rs"); }

// From about 2021, UTF-8: div#rs_new, links with a title and an inner span.
std::string_view Form2021(std::string_view page, std::string_view label) {
  return LabelBeforeTable(page, label, "rs_new");
}

struct Form {
  std::string_view name;
  std::string_view (*block)(std::string_view page, std::string_view label);
};
constexpr Form kForms[] = {{"2021", &Form2021}, {"2018", &Form2018}, {"2008", &Form2008}};

// The end of the start tag that begins at `open`, quotes respected.
std::size_t TagEnd(std::string_view text, std::size_t open) {
  char quote = '\0';
  for (std::size_t i = open + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (quote) {
      if (c == quote) quote = '\0';
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i;
    }
  }
  return npos;
}

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The character a reference stands for ("amp", "#38", "#x26"), or nothing.
bool DecodeReference(std::string_view name, std::string& out) {
  static constexpr std::pair<std::string_view, std::string_view> kNamed[] = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", " "},
  };
  for (const auto& [n, text] : kNamed) {
    if (name == n) {
      out += text;
      return true;
    }
  }
  if (name.size() < 2 || name[0] != '#') return false;
  const bool hex = name[1] == 'x' || name[1] == 'X';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return false;
  std::uint32_t c = 0;
  for (const char d : digits) {
    const int v = d >= '0' && d <= '9' ? d - '0' : hex && Lower(d) >= 'a' && Lower(d) <= 'f' ? Lower(d) - 'a' + 10 : -1;
    if (v < 0) return false;
    c = c * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
  }
  if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  AppendUtf8(out, c);
  return true;
}

std::string_view TrimUtf8Space(std::string_view s) {
  static constexpr std::string_view kWide[] = {"\xC2\xA0", "\xE3\x80\x80"};  // no-break and ideographic spaces
  for (bool trimmed = true; trimmed && !s.empty();) {
    trimmed = false;
    if (IsSpace(s.front())) s.remove_prefix(1), trimmed = true;
    if (!s.empty() && IsSpace(s.back())) s.remove_suffix(1), trimmed = true;
    for (const std::string_view w : kWide) {
      if (s.substr(0, w.size()) == w) s.remove_prefix(w.size()), trimmed = true;
      if (s.size() >= w.size() && s.substr(s.size() - w.size()) == w) s.remove_suffix(w.size()), trimmed = true;
    }
  }
  return s;
}

// The texts of the links of a block in UTF-8, in block order.
TextArray Links(std::string_view block) {
  TextArray phrases;
  for (std::size_t a = FindIgnoringCase(block, "<a", 0); a != npos; a = FindIgnoringCase(block, "<a", a + 2)) {
    if (a + 2 >= block.size() || !(IsSpace(block[a + 2]) || block[a + 2] == '>')) continue;
    const std::size_t open = TagEnd(block, a);
    if (open == npos) break;
    const std::size_t close = FindIgnoringCase(block, "</a>", open);
    if (close == npos) break;
    phrases.push_back(LinkText(block.substr(open + 1, close - open - 1)));
    a = close;
  }
  return phrases;
}

}  // namespace

// OR-ing 0x20 folds letters; what else it lets through, the full comparison
// turns away.
std::size_t FindIgnoringCase(std::string_view text, std::string_view sought, std::size_t from) {
  if (sought.empty() || text.size() < sought.size()) return npos;
  const unsigned char first = static_cast<unsigned char>(sought[0]) | 0x20;
  for (std::size_t p = from, last = text.size() - sought.size(); p <= last; ++p) {
    if ((static_cast<unsigned char>(text[p]) | 0x20) != first) continue;
    std::size_t i = 0;
    while (i < sought.size() && Lower(text[p + i]) == sought[i]) ++i;
    if (i == sought.size()) return p;
  }
  return npos;
}

std::string LinkText(std::string_view html) {
  std::string text;
  for (std::size_t i = 0; i < html.size();) {
    if (html[i] == '<') {
      const std::size_t end = TagEnd(html, i);
      if (end == npos) break;
      i = end + 1;
    } else if (html[i] == '&') {
      const std::size_t semi = html.find(';', i);
      if (semi != npos && semi - i <= 10 && DecodeReference(html.substr(i + 1, semi - i - 1), text)) {
        i = semi + 1;
      } else {
        text += html[i++];
      }
    } else {
      text += html[i++];
    }
  }
  return std::string(TrimUtf8Space(text));
}

std::string PageCharset(std::string_view contentType, std::string_view page) {
  const auto declared = [](std::string_view text) {
    const std::size_t at = FindIgnoringCase(text, "charset", 0);
    if (at == npos) return std::string();
    std::size_t i = at + 7;
    while (i < text.size() && (IsSpace(text[i]) || text[i] == '=' || text[i] == '"' || text[i] == '\'')) ++i;
    std::string name;
    for (; i < text.size(); ++i) {
      const char c = Lower(text[i]);
      if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_')) break;
      name += c;
    }
    return name;
  };
  std::string charset = declared(contentType);
  if (charset.empty()) charset = declared(page.substr(0, 4096));
  return charset.empty() ? "gbk" : charset;
}

RelatedBlock FindRelatedBlock(std::string_view page, std::string_view contentType) {
  RelatedBlock result;
  result.phrases = ExtractRelatedPhrases(page, result.found);
  if (result.found) {
    result.form = "classic";
    return result;
  }
  const std::string charset = PageCharset(contentType, page);
  const bool utf8 = charset == "utf-8" || charset == "utf8";
  for (const Form& form : kForms) {
    const std::string_view block = form.block(page, utf8 ? kLabelUtf8 : kLabelGbk);
    if (block.empty()) continue;
    result.found = true;
    result.form = form.name;
    for (const std::string& phrase : Links(utf8 ? std::string(block) : GbkToUtf8(block))) {
      result.phrases.push_back(Utf8ToGbk(phrase));
    }
    return result;
  }
  return result;
}

}  // namespace kelvarn
