#include "app/page_forms.h"

#include <algorithm>
#include <cstdint>

#include "app/page_tree.h"
#include "app/search_page.h"

namespace kelvarn {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::string_view kLabelUtf8 = "\xE7\x9B\xB8\xE5\x85\xB3\xE6\x90\x9C\xE7\xB4\xA2";  // 相关搜索
constexpr std::string_view kLabelGbk = "\xCF\xE0\xB9\xD8\xCB\xD1\xCB\xF7";                   // 相关搜索

// How far back a tag's "<" is looked for: tags are short, and an unbounded
// look back from every candidate would make a hostile page quadratic.
constexpr std::size_t kMaxTagBytes = 1024;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The ">" that ends the tag beginning at `open`, quotes respected, looking no
// further than `limit`; npos when there is none.
std::size_t TagEnd(std::string_view text, std::size_t open, std::size_t limit = npos) {
  char quote = '\0';
  for (std::size_t i = open + 1, end = std::min(limit, text.size()); i < end; ++i) {
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

// The "<" of the start tag that holds position `at`, or npos: the nearest
// tag start before it whose end, quotes respected, is not before it. A ">"
// or "<" inside a quoted value does not end or start a tag.
std::size_t TagOpen(std::string_view page, std::size_t at) {
  const std::size_t low = at > kMaxTagBytes ? at - kMaxTagBytes : 0;
  int starts = 0;
  for (std::size_t i = at; i > low && starts < 4;) {
    if (page[--i] != '<' || i + 1 >= page.size() || !IsLetter(page[i + 1])) continue;
    ++starts;
    const std::size_t end = TagEnd(page, i, at + kMaxTagBytes);
    if (end == npos) continue;  // an open quote: this "<" may stand inside another tag's value
    return end >= at ? i : npos;
  }
  return npos;
}

// Whether the start tag that ends right before `at` (with ">") is `name`.
bool TagBefore(std::string_view page, std::size_t at, std::string_view name) {
  if (at == 0 || page[at - 1] != '>') return false;
  const std::size_t open = TagOpen(page, at - 1);
  if (open == npos || TagEnd(page, open, at) != at - 1) return false;
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

// What the parser is handed: at most this many bytes and start tags of a
// candidate. Real blocks are a few kilobytes and a hundred tags; the bound on
// tags also bounds the tree's depth, which a page could otherwise make deep
// enough to exhaust a worker's stack when the tree is freed.
constexpr std::size_t kMaxFragmentBytes = std::size_t{1} << 20;
constexpr std::size_t kMaxFragmentTags = 4096;
// Candidates of one form parsed per page: a real page has one.
constexpr int kMaxCandidates = 4;

bool IsNameChar(char c) { return IsLetter(c) || (c >= '0' && c <= '9') || c == '-'; }

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  return text.size() == lower.size() && FindIgnoringCase(text, lower, 0) == 0;
}

// Just past the end tag that closes the element whose start tag begins at
// `open` (elements of the same name inside it counted), comments and the raw
// text of scripts and styles passed over; npos when the page ends first.
std::size_t ElementEnd(std::string_view page, std::size_t open) {
  std::size_t nameEnd = open + 1;
  while (nameEnd < page.size() && IsNameChar(page[nameEnd])) ++nameEnd;
  const std::string_view name = page.substr(open + 1, nameEnd - open - 1);
  int depth = 0;
  for (std::size_t lt = page.find('<', open); lt != npos; lt = page.find('<', lt)) {
    if (page.substr(lt, 4) == "<!--") {
      const std::size_t close = page.find("-->", lt + 4);
      if (close == npos) return npos;
      lt = close + 3;
      continue;
    }
    const bool endTag = lt + 1 < page.size() && page[lt + 1] == '/';
    const std::size_t at = lt + 1 + (endTag ? 1 : 0);
    std::size_t end = at;
    while (end < page.size() && IsNameChar(page[end])) ++end;
    if (end == at || !IsLetter(page[at])) {
      ++lt;  // not a tag
      continue;
    }
    const std::string_view tag = page.substr(at, end - at);
    const std::size_t gt = TagEnd(page, lt);
    if (gt == npos) return npos;
    lt = gt + 1;
    if (EqualsIgnoringCase(tag, name)) {
      if (!endTag) {
        ++depth;
      } else if (--depth == 0) {
        return lt;
      }
    } else if (!endTag && (EqualsIgnoringCase(tag, "script") || EqualsIgnoringCase(tag, "style"))) {
      lt = FindIgnoringCase(page, EqualsIgnoringCase(tag, "script") ? "</script" : "</style", lt);
    }
  }
  return npos;
}

// The element beginning at `open`, as the parser is to see it.
std::string_view Fragment(std::string_view page, std::size_t open) {
  const std::size_t end = ElementEnd(page, open);
  std::string_view fragment = page.substr(open, end == npos ? npos : end - open);
  if (fragment.size() > kMaxFragmentBytes) fragment = fragment.substr(0, kMaxFragmentBytes);
  std::size_t tags = 0;
  for (std::size_t p = fragment.find('<'); p != npos; p = fragment.find('<', p + 1)) {
    if (p + 1 < fragment.size() && IsLetter(fragment[p + 1]) && ++tags > kMaxFragmentTags) {
      return fragment.substr(0, p);
    }
  }
  return fragment;
}

// Where each form's candidates start: the "<" of the next candidate element
// at or after `from`, which moves on past it; npos when there is none.
using NextCandidate = std::size_t (*)(std::string_view page, std::string_view key, std::string_view label,
                                      std::size_t& from);

// The element with the id `key`.
std::size_t ElementWithId(std::string_view page, std::string_view key, std::string_view, std::size_t& from) {
  const std::size_t after = FindTagWithId(page, key, from);
  if (after == npos) return npos;
  from = after;
  return TagOpen(page, after - key.size());
}

// Occurrences of a key or label looked at per candidate: each costs a look
// back, and a page made of them must not make that quadratic.
constexpr int kMaxLooks = 4096;

// An element whose start tag holds `key` (in its id or class).
std::size_t ElementNaming(std::string_view page, std::string_view key, std::string_view, std::size_t& from) {
  int looks = 0;
  for (std::size_t at = page.find(key, from); at != npos && looks++ < kMaxLooks; at = page.find(key, at + 1)) {
    from = at + key.size();
    const std::size_t open = TagOpen(page, at);
    if (open != npos && open + 1 < page.size() && IsLetter(page[open + 1])) return open;
  }
  from = page.size();
  return npos;
}

// The table around a cell that holds the label alone.
std::size_t TableOfLabelCell(std::string_view page, std::string_view, std::string_view label, std::size_t& from) {
  // The last table start before each label, found by one pass forward.
  std::size_t table = npos, nextTable = FindIgnoringCase(page, "<table", 0);
  int looks = 0;
  for (std::size_t at = page.find(label, from); at != npos && looks++ < kMaxLooks; at = page.find(label, at + 1)) {
    from = at + label.size();
    std::size_t before = at;
    while (before > 0 && at - before < 256 && IsSpace(page[before - 1])) --before;
    // A header cell is the classic form's, whose rule stands alone.
    if (!TagBefore(page, before, "td")) continue;
    while (nextTable < before) table = nextTable, nextTable = FindIgnoringCase(page, "<table", nextTable + 1);
    if (table != npos) return table;
  }
  from = page.size();
  return npos;
}

struct Form {
  std::string_view name;
  NextCandidate next;
  std::string_view key;
  BlockRule rule;
};
// The mobile form's container is named one way or the other.
constexpr Form kForms[] = {
    {"2021", &ElementWithId, "rs_new", BlockRule::kLabelThenTable},
    {"2018", &ElementWithId, "rs", BlockRule::kLabelThenTable},
    {"mobile", &ElementNaming, "relativewords", BlockRule::kItemLinks},
    {"mobile", &ElementNaming, "rw-list", BlockRule::kItemLinks},
    {"2008", &TableOfLabelCell, "", BlockRule::kLabelCell},
};

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
    std::size_t from = 0;
    for (int tries = 0; tries < kMaxCandidates; ++tries) {
      const std::size_t open = form.next(page, form.key, utf8 ? kLabelUtf8 : kLabelGbk, from);
      if (open == npos) break;
      const std::string_view fragment = Fragment(page, open);
      TreeBlock block =
          ReadBlockTree(utf8 ? std::string(fragment) : GbkToUtf8(fragment), form.rule, form.key, kLabelUtf8);
      if (!block.found) continue;
      result.found = true;
      // Pages from late 2022 carry the block's data in a comment before it.
      result.form =
          form.rule == BlockRule::kLabelThenTable && form.key == "rs_new" && fragment.find("<!--s-data:") != npos
              ? "2022"
              : form.name;
      for (const std::string& phrase : block.phrases) result.phrases.push_back(Utf8ToGbk(phrase));
      return result;
    }
  }
  return result;
}

}  // namespace kelvarn
