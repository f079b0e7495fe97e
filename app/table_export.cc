#include "app/table_export.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/xlsx_table.h"
#include "text/text.h"

namespace kelvarn {
namespace {

// A text as one CSV field. The GBK text is converted first: a GBK
// character's second byte can be a quote or a comma, a UTF-8 one's never.
void AppendCsvText(std::string_view gbk, std::string& out) {
  const std::string utf8 = GbkToUtf8(gbk);
  // Excel runs a cell that begins so as a formula (or DDE command), and the
  // phrases come from the web: the apostrophe makes it a text for display.
  const bool formula = !utf8.empty() && std::strchr("=+-@\t\r", utf8.front()) != nullptr;
  const bool quoted = utf8.find_first_of(",\"\r\n") != std::string::npos;
  if (quoted) out += '"';
  if (formula) out += '\'';
  for (const char c : utf8) {
    if (c == '"') out += '"';
    out += c;
  }
  if (quoted) out += '"';
}

class CsvTable final : public PhraseTable {
 public:
  CsvTable(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}
  ~CsvTable() override {
    if (file_) std::fclose(file_);
  }
  CsvTable(const CsvTable&) = delete;
  CsvTable& operator=(const CsvTable&) = delete;

  bool Write(std::string_view bytes) {
    if (!error_.empty()) return false;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size()) return true;
    error_ = path_ + ": " + std::strerror(errno);
    return false;
  }
  bool Add(const PhraseRow& row) override {
    line_.clear();
    AppendCsvRow(row, line_);
    return Write(line_);
  }
  bool Finish() override {
    std::FILE* file = std::exchange(file_, nullptr);
    if (!file) return error_.empty();
    const bool flushed = std::fflush(file) == 0;
    const int flushError = errno;
    const bool closed = std::fclose(file) == 0;
    if (error_.empty() && (!flushed || !closed)) error_ = path_ + ": " + std::strerror(flushed ? errno : flushError);
    return error_.empty();
  }
  std::string Error() const override { return error_; }

 private:
  std::FILE* file_;
  std::string path_, line_, error_;
};

}  // namespace

std::string CsvHeader(bool bom) {
  return std::string(bom ? "\xEF\xBB\xBF" : "") + "phrase,level,parent,seed,source\r\n";
}

void AppendCsvRow(const PhraseRow& row, std::string& out) {
  AppendCsvText(row.phrase, out);
  out += ',';
  if (row.level != 0) out += std::to_string(row.level);
  out += ',';
  AppendCsvText(row.parent, out);
  out += ',';
  AppendCsvText(row.seed, out);
  out += ',';
  if (row.source) out += SourceName(*row.source);
  out += "\r\n";
}

std::unique_ptr<PhraseTable> PhraseTable::Open(Kind kind, const std::string& path, bool bom, std::string* error) {
  if (kind == Kind::kXlsx) return OpenXlsxTable(path, error);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    if (error) *error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  auto table = std::make_unique<CsvTable>(file, path);
  if (!table->Write(CsvHeader(bom))) {
    if (error) *error = table->Error();
    return nullptr;
  }
  return table;
}

}  // namespace kelvarn
