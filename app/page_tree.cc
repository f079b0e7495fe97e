#include "app/page_tree.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

#include "app/search_page.h"

namespace kelvarn {
namespace {

using Node = const xmlNode*;

// A label is a short text alone in its element: an element with more nodes
// than this under it is no label, and looking no further keeps the search
// linear in the fragment.
constexpr int kMaxLabelNodes = 64;

bool IsElement(Node node) { return node->type == XML_ELEMENT_NODE; }

// The element's name; the parser gives HTML names in lower case.
std::string_view Name(Node node) {
  return IsElement(node) && node->name ? std::string_view(reinterpret_cast<const char*>(node->name)) : "";
}

// Elements whose content a person never reads as text.
bool Unread(Node node) {
  const std::string_view name = Name(node);
  return name == "script" || name == "style" || name == "noscript" || name == "template";
}

// The attribute's value as the parser decoded it, or nothing.
std::string Attribute(Node node, const char* name) {
  if (!IsElement(node)) return {};
  for (const xmlAttr* attribute = node->properties; attribute; attribute = attribute->next) {
    if (!attribute->name || std::string_view(reinterpret_cast<const char*>(attribute->name)) != name) continue;
    std::string value;
    for (Node part = attribute->children; part; part = part->next) {
      if (part->content) value += reinterpret_cast<const char*>(part->content);
    }
    return value;
  }
  return {};
}

bool IsSpaceByte(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Whether a class token of the element satisfies `match`.
template <typename Match>
bool AnyClass(Node node, Match match) {
  const std::string classes = Attribute(node, "class");
  std::string_view rest = classes;
  while (!rest.empty()) {
    std::size_t start = 0;
    while (start < rest.size() && IsSpaceByte(rest[start])) ++start;
    std::size_t end = start;
    while (end < rest.size() && !IsSpaceByte(rest[end])) ++end;
    if (end > start && match(rest.substr(start, end - start))) return true;
    rest.remove_prefix(end);
  }
  return false;
}

// The nodes under `root`, itself first, in document order and without
// recursion: a page may nest as deep as it likes. `visit(node)` says whether
// to go into the node's children, past them, or to end the walk.
enum class Step { kInto, kOver, kStop };
template <typename Visit>
void Walk(Node root, Visit visit) {
  for (Node node = root; node;) {
    const Step step = visit(node);
    if (step == Step::kStop) return;
    if (step == Step::kInto && IsElement(node) && node->children) {
      node = node->children;
      continue;
    }
    while (node != root && !node->next) node = node->parent;
    node = node == root ? nullptr : node->next;
  }
}

// The text a person reads in the element; past `maxNodes` nodes (0: no
// bound), nothing and `whole` false.
std::string ReadText(Node element, int maxNodes, bool* whole = nullptr) {
  std::string text;
  int nodes = 0;
  bool complete = true;
  Walk(element, [&](Node node) {
    if (maxNodes > 0 && ++nodes > maxNodes) {
      complete = false;
      return Step::kStop;
    }
    if (Unread(node)) return Step::kOver;
    if ((node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) && node->content) {
      text += reinterpret_cast<const char*>(node->content);
    } else if (Name(node) == "br") {
      text += '\n';
    }
    return Step::kInto;
  });
  if (whole) *whole = complete;
  return complete ? text : std::string();
}

bool IsLabel(Node element, std::string_view label) {
  bool whole = false;
  const std::string text = ReadText(element, kMaxLabelNodes, &whole);
  return whole && PhraseText(text) == label;
}

// The phrases of the links (those `wanted`) under `root` that come after
// `after` in document order (all when null), within the page's phrase budget.
template <typename Wanted>
std::vector<std::string> LinkPhrases(Node root, Node after, Wanted wanted) {
  std::vector<std::string> phrases;
  std::size_t cost = 0;
  bool started = after == nullptr;
  Walk(root, [&](Node node) {
    if (node == after) {
      started = true;
      return Step::kOver;
    }
    if (Unread(node)) return Step::kOver;
    if (!started || Name(node) != "a") return Step::kInto;
    if (!wanted(node)) return Step::kOver;
    std::string phrase = PhraseText(ReadText(node, 0));
    if (phrase.empty()) return Step::kOver;
    cost += phrase.size() + kPhraseOverheadBytes;
    if (cost > kMaxPhraseBytesPerPage) return Step::kStop;
    phrases.push_back(std::move(phrase));
    return Step::kOver;
  });
  return phrases;
}

Node FindElement(Node root, bool (*match)(Node, std::string_view), std::string_view name) {
  Node found = nullptr;
  Walk(root, [&](Node node) {
    if (Unread(node)) return Step::kOver;
    if (IsElement(node) && match(node, name)) {
      found = node;
      return Step::kStop;
    }
    return Step::kInto;
  });
  return found;
}

bool HasId(Node node, std::string_view id) { return Attribute(node, "id") == id; }

bool IsItemContainer(Node node, std::string_view name) {
  return Attribute(node, "id").find(name) != std::string::npos ||
         AnyClass(node, [name](std::string_view token) { return token.find(name) != std::string_view::npos; });
}

// In the container: the label alone in an element outside any table, then
// the first table after it.
TreeBlock LabelThenTable(Node root, std::string_view id, std::string_view label) {
  TreeBlock block;
  const Node container = FindElement(root, &HasId, id);
  if (!container) return block;
  Node labelElement = nullptr;
  Node table = nullptr;
  Walk(container, [&](Node node) {
    if (!IsElement(node) || Unread(node)) return Step::kOver;
    if (labelElement && Name(node) == "table") {
      table = node;
      return Step::kStop;
    }
    if (Name(node) == "table") return Step::kOver;  // a label inside a table (its caption) labels nothing
    if (!labelElement && node != container && IsLabel(node, label)) {
      labelElement = node;
      return Step::kOver;  // the table comes after the label, never inside it
    }
    return Step::kInto;
  });
  if (!table) return block;
  block.found = true;
  block.phrases = LinkPhrases(table, nullptr, [](Node) { return true; });
  return block;
}

// In the table: the label alone in a cell, then every link after it.
TreeBlock LabelCell(Node root, std::string_view label) {
  TreeBlock block;
  Node table = nullptr;
  Node cell = nullptr;
  Walk(root, [&](Node node) {
    if (Unread(node)) return Step::kOver;
    const std::string_view name = Name(node);
    if (name == "table" && !table) table = node;
    if (table && name == "td" && IsLabel(node, label)) {
      cell = node;
      return Step::kStop;
    }
    return Step::kInto;
  });
  if (!cell) return block;
  block.found = true;
  block.phrases = LinkPhrases(table, cell, [](Node) { return true; });
  return block;
}

// In the related-words container: its item links.
TreeBlock ItemLinks(Node root, std::string_view name) {
  TreeBlock block;
  const Node container = FindElement(root, &IsItemContainer, name);
  if (!container) return block;
  block.found = true;
  block.phrases = LinkPhrases(container, nullptr, [](Node link) {
    return AnyClass(link, [](std::string_view token) { return token.substr(0, 7) == "rw-item"; });
  });
  return block;
}

struct DocumentDeleter {
  void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};

// Decodes the UTF-8 sequence at `s[i]`, advancing i; U+FFFD for a bad one.
std::uint32_t NextCodePoint(std::string_view s, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  const int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
  if (length == 0 || i + length > s.size()) {
    ++i;
    return 0xFFFD;
  }
  std::uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  i += length;
  return c;
}

bool IsWhiteSpace(std::uint32_t c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool IsPrivateUse(std::uint32_t c) { return (c >= 0xE000 && c <= 0xF8FF) || c >= 0xF0000; }

}  // namespace

std::string PhraseText(std::string_view utf8) {
  std::string text;
  text.reserve(utf8.size());
  bool space = false;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t start = i;
    const std::uint32_t c = NextCodePoint(utf8, i);
    if (IsPrivateUse(c)) continue;
    if (IsWhiteSpace(c)) {
      space = !text.empty();
      continue;
    }
    if (space) text += ' ', space = false;
    // A broken sequence is read as the replacement character, so the text
    // stays valid UTF-8.
    const bool broken = c == 0xFFFD && utf8.substr(start, i - start) != "\xEF\xBF\xBD";
    text.append(broken ? std::string_view("\xEF\xBF\xBD") : utf8.substr(start, i - start));
  }
  return text;
}

TreeBlock ReadBlockTree(std::string_view fragment, BlockRule rule, std::string_view name, std::string_view label) {
  // The library sets up its tables once, before any thread parses.
  static std::once_flag initialised;
  std::call_once(initialised, [] { xmlInitParser(); });
  // Recovering from every fault a messy page has, silently, and never
  // reaching out for a DTD or an entity.
  constexpr int kOptions = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET;
  if (fragment.size() > static_cast<std::size_t>(INT32_MAX)) return {};
  const std::unique_ptr<xmlDoc, DocumentDeleter> document(
      htmlReadMemory(fragment.data(), static_cast<int>(fragment.size()), nullptr, "UTF-8", kOptions));
  if (!document) return {};
  const Node root = xmlDocGetRootElement(document.get());
  if (!root) return {};
  switch (rule) {
    case BlockRule::kLabelThenTable:
      return LabelThenTable(root, name, label);
    case BlockRule::kLabelCell:
      return LabelCell(root, label);
    case BlockRule::kItemLinks:
      return ItemLinks(root, name);
  }
  return {};
}

}  // namespace kelvarn
