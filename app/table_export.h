// Phrase tables for spreadsheets: CSV as Excel reads it and XLSX workbooks,
// with the columns phrase, level, parent, seed and source, in UTF-8.
//
// Texts come in GBK and are converted on writing; bytes that are not GBK
// become U+FFFD, as in every UTF-8 output of the program.
//
// A PhraseTable is used by one thread at a time; the free functions are pure.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/page_outcome.h"

namespace kelvarn {

// One row of a phrase table; the texts are only read during the call.
struct PhraseRow {
  std::string_view phrase;
  std::int32_t level = 0;  // 0: written empty
  std::string_view parent, seed;
  std::optional<PhraseSource> source;  // none: written empty
};

// Writes "phrase,level,parent,seed,source" tables row by row, as they come:
// memory stays flat whatever the number of rows.
class PhraseTable {
 public:
  enum class Kind { kCsv, kXlsx };

  // Opens (creates or empties) `path`; bom: a CSV starts with the UTF-8
  // byte-order mark, by which Excel knows UTF-8 (ignored for XLSX). Nullptr,
  // with *error set to "PATH: reason", when it cannot; also for XLSX in a
  // build without it ("PATH: XLSX is not in this build").
  static std::unique_ptr<PhraseTable> Open(Kind kind, const std::string& path, bool bom, std::string* error);

  virtual ~PhraseTable() = default;
  // Writes the row; false once writing has failed (this row or an earlier one).
  virtual bool Add(const PhraseRow& row) = 0;
  // Completes the file (XLSX: the workbook is written out only now, so one
  // left unfinished is no workbook); false on failure. Call it once.
  virtual bool Finish() = 0;
  // "PATH: reason" of the first failure; empty while there is none.
  virtual std::string Error() const = 0;
};

// The most data rows an XLSX sheet holds below its header: past them the
// rows go on in a new sheet ("phrases 2", "phrases 3", ...), headed alike.
inline constexpr std::int64_t kXlsxRowsPerSheet = 1048576 - 1;

// CSV as whole lines, for a file appended to line by line: RFC 4180 fields
// (quoted when they hold a comma, a quote, CR or LF; quotes doubled), CR LF
// line ends. A text beginning with =, +, -, @, a tab or CR gets a leading
// apostrophe, so that a spreadsheet shows it rather than runs it as a formula.
std::string CsvHeader(bool bom);
void AppendCsvRow(const PhraseRow& row, std::string& out);

}  // namespace kelvarn
