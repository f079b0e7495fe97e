// The lines of `kelvarn harvest --format tsv|jsonl|csv`: each phrase with
// where it came from, in UTF-8 whatever the encoding of the text format.
// (xlsx is written through PhraseTable, app/table_export.h.)
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/harvester.h"

namespace kelvarn {

enum class OutputFormat { kText, kTsv, kJsonl, kCsv, kXlsx };

// "text", "tsv", "jsonl", "csv" or "xlsx"; nothing for another name.
std::optional<OutputFormat> ParseOutputFormat(std::string_view name);

// What goes before the first phrase: the tsv header row, else nothing (the
// csv header is CsvHeader's, with or without its byte-order mark). Rows are
// phrase, level, parent, seed and source ("related" or "suggest": what of its
// parent's gave it); with repeatColumn (each phrase once) they go on with a
// `repeat` field, 1 for a phrase asked for already, else 0; jsonl marks a
// repeat "repeat":true. filteredColumn (--filtered keep): tsv rows end,
// after every other field, in a `filtered` field, 1 for a phrase the filters
// turned away, else 0; jsonl marks one "filtered":true.
std::string_view TreeHeader(OutputFormat format, bool repeatColumn, bool filteredColumn = false);

// Appends the phrase's line, ending in LF, for tsv or jsonl. tsv fields carry
// no tab or line end: a tab, LF, CR and backslash are written \t \n \r \\.
// csv: AppendCsvRow's line, ending in CR LF; a repeat is not written, since
// a table has no column to mark it.
void AppendTreeLine(OutputFormat format, const Harvester::PhraseOrigin& origin, bool repeatColumn, std::string& out,
                    bool filteredColumn = false);

}  // namespace kelvarn
