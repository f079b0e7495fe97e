// A small writer for the window's exports until the full one lands.
#include "app/table_export.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "text/text.h"

#ifdef KELVARN_XLSX
#include <xlsxwriter.h>
#endif

namespace kelvarn {
namespace {

void AppendCsvText(std::string_view gbk, std::string& out) {
  const std::string utf8 = GbkToUtf8(gbk);
  const bool quoted = utf8.find_first_of(",\"\r\n") != std::string::npos;
  if (quoted) out += '"';
  for (const char c : utf8) {
    if (c == '"') out += '"';
    out += c;
  }
  if (quoted) out += '"';
}

std::string Cell(std::int32_t level) { return level == 0 ? std::string() : std::to_string(level); }

class CsvTable final : public PhraseTable {
 public:
  CsvTable(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}
  ~CsvTable() override {
    if (file_) std::fclose(file_);
  }
  CsvTable(const CsvTable&) = delete;
  CsvTable& operator=(const CsvTable&) = delete;

  bool Write(std::string_view bytes) {
    if (error_.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
      error_ = path_ + ": " + std::strerror(errno);
    }
    return error_.empty();
  }
  bool Add(const PhraseRow& row) override {
    std::string line;
    AppendCsvText(row.phrase, line);
    line += "," + Cell(row.level) + ",";
    AppendCsvText(row.parent, line);
    line += ',';
    AppendCsvText(row.seed, line);
    line += ',';
    if (row.source) line += SourceName(*row.source);
    return Write(line + "\r\n");
  }
  bool Finish() override {
    std::FILE* file = std::exchange(file_, nullptr);
    if (file && std::fclose(file) != 0 && error_.empty()) error_ = path_ + ": " + std::strerror(errno);
    return error_.empty();
  }
  std::string Error() const override { return error_; }

 private:
  std::FILE* file_;
  std::string path_, error_;
};

#ifdef KELVARN_XLSX
class XlsxTable final : public PhraseTable {
 public:
  XlsxTable(lxw_workbook* book, std::string path)
      : book_(book), sheet_(workbook_add_worksheet(book, "phrases")), path_(std::move(path)) {
    const char* header[] = {"phrase", "level", "parent", "seed", "source"};
    for (lxw_col_t c = 0; c < 5; ++c) worksheet_write_string(sheet_, 0, c, header[c], nullptr);
  }
  ~XlsxTable() override {
    if (book_) workbook_close(book_);
  }
  XlsxTable(const XlsxTable&) = delete;
  XlsxTable& operator=(const XlsxTable&) = delete;

  bool Add(const PhraseRow& row) override {
    const lxw_row_t at = ++rows_;
    worksheet_write_string(sheet_, at, 0, GbkToUtf8(row.phrase).c_str(), nullptr);
    if (row.level != 0) worksheet_write_number(sheet_, at, 1, row.level, nullptr);
    worksheet_write_string(sheet_, at, 2, GbkToUtf8(row.parent).c_str(), nullptr);
    worksheet_write_string(sheet_, at, 3, GbkToUtf8(row.seed).c_str(), nullptr);
    if (row.source) worksheet_write_string(sheet_, at, 4, std::string(SourceName(*row.source)).c_str(), nullptr);
    return true;
  }
  bool Finish() override {
    lxw_workbook* book = std::exchange(book_, nullptr);
    if (book && workbook_close(book) != LXW_NO_ERROR) error_ = path_ + ": cannot write";
    return error_.empty();
  }
  std::string Error() const override { return error_; }

 private:
  lxw_workbook* book_;
  lxw_worksheet* sheet_;
  lxw_row_t rows_ = 0;
  std::string path_, error_;
};
#endif

}  // namespace

std::unique_ptr<PhraseTable> PhraseTable::Open(Kind kind, const std::string& path, bool bom, std::string* error) {
  if (kind == Kind::kXlsx) {
#ifndef KELVARN_XLSX
    if (error) *error = path + ": XLSX is not in this build";
    return nullptr;
#else
    lxw_workbook* book = workbook_new(path.c_str());
    if (!book) {
      if (error) *error = path + ": cannot write";
      return nullptr;
    }
    return std::make_unique<XlsxTable>(book, path);
#endif
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    if (error) *error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  auto table = std::make_unique<CsvTable>(file, path);
  if (!table->Write(std::string(bom ? "\xEF\xBB\xBF" : "") + "phrase,level,parent,seed,source\r\n")) {
    if (error) *error = table->Error();
    return nullptr;
  }
  return table;
}

}  // namespace kelvarn
