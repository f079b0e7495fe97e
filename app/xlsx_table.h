// The XLSX side of PhraseTable: app/xlsx_table.cc over libxlsxwriter, or
// app/xlsx_table_none.cc in a build without it; CMake picks one.
#pragma once

#include <memory>
#include <string>

#include "app/table_export.h"

namespace kelvarn {

std::unique_ptr<PhraseTable> OpenXlsxTable(const std::string& path, std::string* error);

}  // namespace kelvarn
