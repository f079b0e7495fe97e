#include "cli/tree_format.h"

#include "app/journal.h"
#include "app/table_export.h"

namespace kelvarn {
namespace {

// The escapes of a tsv field.
const char* BackslashEscape(char c) {
  return c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\\' ? "\\\\" : nullptr;
}

// Texts are GBK, where a backslash byte can be the second half of a
// character: they are escaped only once they are UTF-8, in which every ASCII
// byte is a character of its own. Bytes that are not GBK become U+FFFD, so a
// line is always valid UTF-8.
void AppendTsvField(std::string_view gbk, std::string& out) {
  for (const char c : GbkToUtf8(gbk)) {
    if (const char* escaped = BackslashEscape(c)) {
      out += escaped;
    } else {
      out += c;
    }
  }
}

}  // namespace

std::optional<OutputFormat> ParseOutputFormat(std::string_view name) {
  if (name == "text") return OutputFormat::kText;
  if (name == "tsv") return OutputFormat::kTsv;
  if (name == "jsonl") return OutputFormat::kJsonl;
  if (name == "csv") return OutputFormat::kCsv;
  if (name == "xlsx") return OutputFormat::kXlsx;
  return std::nullopt;
}

std::string_view TreeHeader(OutputFormat format, bool repeatColumn, bool filteredColumn) {
  if (format != OutputFormat::kTsv) return "";
  if (filteredColumn) {
    return repeatColumn ? "phrase\tlevel\tparent\tseed\tsource\trepeat\tfiltered\n"
                        : "phrase\tlevel\tparent\tseed\tsource\tfiltered\n";
  }
  return repeatColumn ? "phrase\tlevel\tparent\tseed\tsource\trepeat\n" : "phrase\tlevel\tparent\tseed\tsource\n";
}

void AppendTreeLine(OutputFormat format, const Harvester::PhraseOrigin& origin, bool repeatColumn, std::string& out,
                    bool filteredColumn) {
  if (format == OutputFormat::kCsv) {
    if (!origin.repeat) AppendCsvRow({origin.phrase, origin.level, origin.parent, origin.seed, origin.source}, out);
    return;
  }
  const std::string level = std::to_string(origin.level);
  if (format == OutputFormat::kTsv) {
    AppendTsvField(origin.phrase, out);
    out += '\t';
    out += level;
    out += '\t';
    AppendTsvField(origin.parent, out);
    out += '\t';
    AppendTsvField(origin.seed, out);
    out += '\t';
    out += SourceName(origin.source);
    if (repeatColumn) out += origin.repeat ? "\t1" : "\t0";
    if (filteredColumn) out += origin.filtered ? "\t1" : "\t0";
  } else {
    out += "{\"phrase\":";
    AppendJsonText(origin.phrase, out);
    out += ",\"level\":" + level + ",\"parent\":";
    AppendJsonText(origin.parent, out);
    out += ",\"seed\":";
    AppendJsonText(origin.seed, out);
    out += ",\"outcome\":\"";
    out += OutcomeName(origin.outcome);
    out += "\",\"position\":" + std::to_string(origin.position);
    out += ",\"source\":\"";
    out += SourceName(origin.source);
    out += '"';
    if (origin.repeat) out += ",\"repeat\":true";
    if (origin.filtered) out += ",\"filtered\":true";
    out += '}';
  }
  out += '\n';
}

}  // namespace kelvarn
