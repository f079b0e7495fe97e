// The lines of `kelvarn harvest --format tsv|jsonl`: each phrase with where
// it came from, in UTF-8 whatever the encoding of the text format.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/harvester.h"

namespace kelvarn {

enum class OutputFormat { kText, kTsv, kJsonl };

// "text", "tsv" or "jsonl"; nothing for another name.
std::optional<OutputFormat> ParseOutputFormat(std::string_view name);

// What goes before the first phrase: the tsv header row, else nothing.
// repeatColumn (each phrase once): tsv rows end in a `repeat` field, 1 for a
// phrase asked for already, else 0; jsonl marks a repeat "repeat":true.
// filteredColumn (--filtered keep): tsv rows end, after every other field,
// in a `filtered` field, 1 for a phrase the filters turned away, else 0;
// jsonl marks one "filtered":true.
std::string_view TreeHeader(OutputFormat format, bool repeatColumn, bool filteredColumn = false);

// Appends the phrase's line, ending in LF, for tsv or jsonl. tsv fields carry
// no tab or line end: a tab, LF, CR and backslash are written \t \n \r \\.
void AppendTreeLine(OutputFormat format, const Harvester::PhraseOrigin& origin, bool repeatColumn, std::string& out,
                    bool filteredColumn = false);

}  // namespace kelvarn
