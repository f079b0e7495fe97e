// The related block read from a parsed fragment of a page: what a person
// sees in it, whatever comments, scripts, white space and markup the engine
// wrote around and inside it. Internal to page_forms.cc.
//
// Pure functions; safe on any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelvarn {

// How a form lays out its block inside the fragment.
enum class BlockRule {
  kLabelThenTable,  // a container with the id; in it the label alone in an element, then the phrases' table
  kLabelCell,       // a table; the label alone in a cell, the phrases in the links after it
  kItemLinks,       // a related-words container; the phrases are its item links
};

struct TreeBlock {
  bool found = false;
  std::vector<std::string> phrases;  // UTF-8, each normalised as PhraseText says
};

// The block of `rule` in `fragment` (UTF-8 HTML). `name` is the container's
// id for kLabelThenTable, the container's class or id prefix for kItemLinks;
// `label` is the label's text (UTF-8).
TreeBlock ReadBlockTree(std::string_view fragment, BlockRule rule, std::string_view name, std::string_view label);

// Text as a person reads it: private-use characters (icon fonts' glyphs)
// removed, every run of white space (line breaks, tabs, no-break and
// ideographic spaces included) made one space, ends trimmed. The result holds
// no CR or LF. `utf8` must be valid UTF-8.
std::string PhraseText(std::string_view utf8);

}  // namespace kelvarn
