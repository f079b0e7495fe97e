// The related-searches block in every form the engine has served, in GBK and
// in UTF-8.
//
// The forms sit in one table, tried in order: the classic GBK form first,
// whose phrases are the raw link texts (ExtractRelatedPhrases), then the
// others, whose phrases are the link texts with inner tags removed, character
// references decoded and surrounding white space trimmed, converted to
// GB18030 (GBK's superset, so that no character is lost). The engine's next
// change of layout is one more entry.
//
// Pure functions; safe on any thread.
#pragma once

#include <string>
#include <string_view>

#include "text/text.h"

namespace kelvarn {

struct RelatedBlock {
  bool found = false;
  std::string_view form;  // the form's name ("classic", "2008", "2018", "2021"), empty when none
  TextArray phrases;      // GB18030
};

// The first block of the first form the page matches.
RelatedBlock FindRelatedBlock(std::string_view page, std::string_view contentType);

// The page's charset, lower case: from the Content-Type header, else from a
// <meta charset> or http-equiv declaration in the first 4 KB, else "gbk".
std::string PageCharset(std::string_view contentType, std::string_view page);

// Link text as the forms after the classic one read it, in UTF-8: inner tags
// removed, character references decoded, surrounding white space trimmed.
std::string LinkText(std::string_view html);

// The first `sought` (lower-case ASCII) at or after byte `from`, ASCII case
// ignored, or npos: a plain byte search, for HTML in any encoding.
std::size_t FindIgnoringCase(std::string_view text, std::string_view sought, std::size_t from = 0);

}  // namespace kelvarn
