// The related-searches block in every form the engine has served, in GBK and
// in UTF-8.
//
// The classic GBK form comes first, read byte for byte: its phrases are the
// raw link texts (ExtractRelatedPhrases). The other forms sit in one table,
// tried in order; for each, a fast scan finds the candidate element and an
// HTML parser reads it, so that comments, scripts, white space, attribute
// order and quoting, icons and references are what a browser makes of them.
// Their phrases are the links' texts as a person reads them (see PhraseText
// in page_tree.h), converted to GB18030 (GBK's superset, so that no character
// is lost). The engine's next change of layout is one more entry.
//
// Pure functions; safe on any thread.
#pragma once

#include <string>
#include <string_view>

#include "text/text.h"

namespace kelvarn {

struct RelatedBlock {
  bool found = false;
  std::string_view form;  // "classic", "2008", "2018", "2021", "2022", "mobile"; empty when none
  TextArray phrases;      // GB18030
};

// The first block of the first form the page matches.
RelatedBlock FindRelatedBlock(std::string_view page, std::string_view contentType);

// The page's charset, lower case: from the Content-Type header, else from a
// <meta charset> or http-equiv declaration in the first 4 KB, else "gbk".
std::string PageCharset(std::string_view contentType, std::string_view page);

// The first `sought` (lower-case ASCII) at or after byte `from`, ASCII case
// ignored, or npos: a plain byte search, for HTML in any encoding.
std::size_t FindIgnoringCase(std::string_view text, std::string_view sought, std::size_t from = 0);

}  // namespace kelvarn
