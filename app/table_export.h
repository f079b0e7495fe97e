// Phrase tables for spreadsheets: CSV as Excel reads it and XLSX workbooks,
// with the columns phrase, level, parent, seed and source, in UTF-8. Texts
// come in GBK and are converted on writing.
//
// A PhraseTable is used by one thread at a time.
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

class PhraseTable {
 public:
  enum class Kind { kCsv, kXlsx };

  // Opens (creates or empties) `path`; bom: a CSV starts with the UTF-8
  // byte-order mark. Nullptr, with *error set, when it cannot.
  static std::unique_ptr<PhraseTable> Open(Kind kind, const std::string& path, bool bom, std::string* error);

  virtual ~PhraseTable() = default;
  // False once writing has failed.
  virtual bool Add(const PhraseRow& row) = 0;
  // Completes the file; false on failure. Call it once.
  virtual bool Finish() = 0;
  virtual std::string Error() const = 0;
};

}  // namespace kelvarn
