#include "app/xlsx_table.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "text/text.h"

namespace kelvarn {
namespace {

constexpr std::array<const char*, 5> kColumns{"phrase", "level", "parent", "seed", "source"};
// Column widths follow the texts of the first rows: enough to judge, and a
// long run does not measure every row.
constexpr std::int64_t kMeasuredRows = 1000;

// Roughly how many character cells a UTF-8 text takes in a spreadsheet:
// East Asian characters two, others one.
double DisplayWidth(std::string_view utf8) {
  double width = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if ((lead & 0xC0) == 0x80) continue;  // the rest of a character
    std::uint32_t code = lead;
    if (lead >= 0xE0 && i + 2 < utf8.size()) {
      code = (lead & 0x0Fu) << 12 | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 6 |
             (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu);
      if (lead >= 0xF0) code = 0x20000;  // beyond the first plane: CJK extensions, emoji
    }
    width += code >= 0x1100 ? 2 : 1;
  }
  return width;
}

class XlsxTable final : public PhraseTable {
 public:
  XlsxTable(lxw_workbook* workbook, std::string path) : workbook_(workbook), path_(std::move(path)) {
    bold_ = workbook_add_format(workbook_);
    format_set_bold(bold_);
    for (std::size_t c = 0; c < kColumns.size(); ++c) widths_[c] = static_cast<double>(std::strlen(kColumns[c]));
  }
  ~XlsxTable() override {
    if (workbook_) lxw_workbook_free(workbook_);  // never finished: nothing is written
  }
  XlsxTable(const XlsxTable&) = delete;
  XlsxTable& operator=(const XlsxTable&) = delete;

  bool Add(const PhraseRow& row) override {
    if (!error_.empty() || !workbook_) return false;
    // A sheet that is full, or none yet: the rows go on in a new one.
    if (sheets_.empty() || row_ > kXlsxRowsPerSheet) {
      if (!NewSheet()) return false;
    }
    lxw_worksheet* sheet = sheets_.back();
    const auto at = static_cast<lxw_row_t>(row_);
    const std::array<std::string_view, 3> texts{row.phrase, row.parent, row.seed};
    constexpr std::array<lxw_col_t, 3> kTextColumns{0, 2, 3};
    for (std::size_t t = 0; t < texts.size(); ++t) {
      if (texts[t].empty()) continue;
      utf8_ = GbkToUtf8(texts[t]);
      // Always a text cell: a phrase never turns into a number or a formula.
      if (!Check(worksheet_write_string(sheet, at, kTextColumns[t], utf8_.c_str(), nullptr))) return false;
      if (measured_ < kMeasuredRows) Widen(kTextColumns[t], DisplayWidth(utf8_));
    }
    if (row.level != 0) {
      if (!Check(worksheet_write_number(sheet, at, 1, row.level, nullptr))) return false;
      if (measured_ < kMeasuredRows) Widen(1, static_cast<double>(std::to_string(row.level).size()));
    }
    if (row.source) {
      const std::string name(SourceName(*row.source));
      if (!Check(worksheet_write_string(sheet, at, 4, name.c_str(), nullptr))) return false;
    }
    ++row_, ++measured_;
    return true;
  }

  bool Finish() override {
    lxw_workbook* workbook = std::exchange(workbook_, nullptr);
    if (!workbook) return error_.empty();
    if (sheets_.empty() && !NewSheet(workbook)) {
      lxw_workbook_free(workbook);
      return false;
    }
    for (lxw_worksheet* sheet : sheets_) {
      for (std::size_t c = 0; c < widths_.size(); ++c) {
        const auto column = static_cast<lxw_col_t>(c);
        worksheet_set_column(sheet, column, column, std::min(widths_[c], 80.0) + 2, nullptr);
      }
    }
    errno = 0;
    const lxw_error closed = workbook_close(workbook);  // frees the workbook, written or not
    if (closed != LXW_NO_ERROR && error_.empty()) error_ = Reason(closed);
    return error_.empty();
  }

  std::string Error() const override { return error_; }

 private:
  // A sheet with its header row, bold and frozen so that it stays in view.
  bool NewSheet(lxw_workbook* workbook = nullptr) {
    if (!workbook) workbook = workbook_;
    const std::string name = sheets_.empty() ? "phrases" : "phrases " + std::to_string(sheets_.size() + 1);
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, name.c_str());
    if (!sheet) return Check(LXW_ERROR_MEMORY_MALLOC_FAILED);
    for (std::size_t c = 0; c < kColumns.size(); ++c) {
      if (!Check(worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(c), kColumns[c], bold_))) return false;
    }
    worksheet_freeze_panes(sheet, 1, 0);
    sheets_.push_back(sheet);
    row_ = 1;
    return true;
  }

  void Widen(std::size_t column, double width) { widths_[column] = std::max(widths_[column], width); }

  bool Check(lxw_error result) {
    if (result == LXW_NO_ERROR) return true;
    if (error_.empty()) error_ = Reason(result);
    return false;
  }

  // libxlsxwriter's name for the error, and the system's reason for one of
  // its file operations (a full disk, a directory not writable).
  std::string Reason(lxw_error result) const {
    std::string reason = path_ + ": " + lxw_strerror(result);
    const bool file = result == LXW_ERROR_CREATING_XLSX_FILE || result == LXW_ERROR_CREATING_TMPFILE ||
                      result == LXW_ERROR_READING_TMPFILE || result == LXW_ERROR_ZIP_FILE_OPERATION ||
                      result == LXW_ERROR_ZIP_CLOSE;
    if (file && errno != 0) reason += std::string(" (") + std::strerror(errno) + ")";
    return reason;
  }

  lxw_workbook* workbook_;
  std::string path_;
  lxw_format* bold_ = nullptr;
  std::vector<lxw_worksheet*> sheets_;
  std::int64_t row_ = 0;       // the next row of the last sheet
  std::int64_t measured_ = 0;  // rows whose widths were taken
  std::array<double, kColumns.size()> widths_{};
  std::string utf8_, error_;
};

}  // namespace

std::unique_ptr<PhraseTable> OpenXlsxTable(const std::string& path, std::string* error) {
  const auto fail = [&](const std::string& reason) {
    if (error) *error = path + ": " + reason;
    return nullptr;
  };
  // The workbook is written only when it is finished: whether the file can
  // be, is found out now.
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return fail(std::strerror(errno));
  std::fclose(file);
  // The rows wait in temporary files until then; beside the workbook, where
  // there is room for it, rather than in a /tmp that may be memory.
  // std::filesystem reads the path in the platform's encoding: a GBK path's
  // second byte may be a backslash that separates nothing.
  std::string directory;
  try {
    directory = std::filesystem::path(path).parent_path().string();
  } catch (const std::exception&) {  // a path the platform cannot convert: the working directory
  }
  if (directory.empty()) directory = ".";
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = directory.data();
  lxw_workbook* workbook = workbook_new_opt(path.c_str(), &options);
  if (!workbook) return fail("cannot start a workbook (out of memory)");
  return std::make_unique<XlsxTable>(workbook, path);
}

}  // namespace kelvarn
