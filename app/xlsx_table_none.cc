#include "app/xlsx_table.h"

namespace kelvarn {

std::unique_ptr<PhraseTable> OpenXlsxTable(const std::string& path, std::string* error) {
  if (error) *error = path + ": XLSX is not in this build";
  return nullptr;
}

}  // namespace kelvarn
