// The window's handlers besides run control: the keyword lists, the
// settings and the close sequence (window thread).
#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/harvester.h"
#include "app/journal.h"
#include "app/main_window.h"
#include "app/pacer.h"
#include "app/table_export.h"
#include "frame/frame.h"
#include "text/encoding.h"
#include "text/files.h"
#include "text/line_splitter.h"

namespace kelvarn {
namespace {

constexpr std::string_view kAskKeyword = "\xC7\xEB\xCA\xE4\xC8\xEB\xB9\xD8\xBC\xFC\xD7\xD6:";  // 请输入关键字:
constexpr std::string_view kImported = "\xB5\xBC\xC8\xEB\xCD\xEA\xB3\xC9.";                    // 导入完成.
constexpr std::string_view kImportFailed = "\xB5\xBC\xC8\xEB\xCA\xA7\xB0\xDC.";                // 导入失败.
constexpr std::string_view kExported = "\xB5\xBC\xB3\xF6\xCD\xEA\xB3\xC9.";                    // 导出完成.
constexpr std::string_view kExportFailed = "\xB5\xBC\xB3\xF6\xCA\xA7\xB0\xDC.";                // 导出失败.
constexpr std::string_view kCleared = "\xC1\xD0\xB1\xED\xD2\xD1\xC7\xE5\xBF\xD5..";            // 列表已清空..
// 文件无法写入,相关关键字未导出.
constexpr std::string_view kNotExported =
    "\xCE\xC4\xBC\xFE\xCE\xDE\xB7\xA8\xD0\xB4\xC8\xEB,"
    "\xCF\xE0\xB9\xD8\xB9\xD8\xBC\xFC\xD7\xD6\xCE\xB4\xB5\xBC\xB3\xF6.";
// 请求频率应为0、auto或每分钟1至100000次.
constexpr std::string_view kBadRate =
    "\xC7\xEB\xC7\xF3\xC6\xB5\xC2\xCA\xD3\xA6\xCE\xAA"
    "0\xA1\xA2"
    "auto\xBB\xF2\xC3\xBF\xB7\xD6\xD6\xD3"
    "1\xD6\xC1"
    "100000\xB4\xCE.";
// config.ini无法写入,设置未保存.
constexpr std::string_view kNotSaved =
    "config.ini\xCE\xDE\xB7\xA8\xD0\xB4\xC8\xEB,\xC9\xE8\xD6\xC3\xCE\xB4\xB1\xA3\xB4\xE6.";
// 代理列表文件无法读取.
constexpr std::string_view kProxiesUnreadable =
    "\xB4\xFA\xC0\xED\xC1\xD0\xB1\xED\xCE\xC4\xBC\xFE\xCE\xDE\xB7\xA8\xB6\xC1\xC8\xA1.";
// 不直连时需要代理列表文件.
constexpr std::string_view kNoRoute =
    "\xB2\xBB\xD6\xB1\xC1\xAC\xCA\xB1\xD0\xE8\xD2\xAA\xB4\xFA\xC0\xED\xC1\xD0\xB1\xED\xCE\xC4\xBC\xFE.";
// 排除词文件无法读取.
constexpr std::string_view kStopWordsUnreadable =
    "\xC5\xC5\xB3\xFD\xB4\xCA\xCE\xC4\xBC\xFE\xCE\xDE\xB7\xA8\xB6\xC1\xC8\xA1.";
// 字数应为0或正整数,最长字数不能小于最短字数.
constexpr std::string_view kBadChars =
    "\xD7\xD6\xCA\xFD\xD3\xA6\xCE\xAA"
    "0\xBB\xF2\xD5\xFD\xD5\xFB\xCA\xFD,\xD7\xEE\xB3\xA4\xD7\xD6\xCA\xFD\xB2\xBB\xC4\xDC\xD0\xA1\xD3\xDA\xD7\xEE\xB6\xCC"
    "\xD7\xD6\xCA\xFD.";
// 是否进入Veskor官方查看最新作品?
constexpr std::string_view kVisitMaker =
    "\xCA\xC7\xB7\xF1\xBD\xF8\xC8\xEBVeskor\xB9\xD9\xB7\xBD\xB2\xE9\xBF\xB4\xD7\xEE\xD0\xC2\xD7\xF7\xC6\xB7?";
constexpr std::string_view kMakerUrl = "https://www.example.com/veskor";
// 上次采集没有完成(已采N页),是否继续?
constexpr std::string_view kContinueBefore =
    "\xC9\xCF\xB4\xCE\xB2\xC9\xBC\xAF\xC3\xBB\xD3\xD0\xCD\xEA\xB3\xC9(\xD2\xD1\xB2\xC9";
constexpr std::string_view kContinueAfter = "\xD2\xB3),\xCA\xC7\xB7\xF1\xBC\xCC\xD0\xF8?";
// How many run journals the settings directory keeps.
constexpr std::size_t kKeptRunJournals = 5;

enum class ExportFormat { kText, kCsv, kXlsx };

// The file's own extension decides when it names one of the formats, so that
// a name always matches what is in it: "words.xlsx" typed under the first
// type, as most users type it, is a workbook, not a text Excel refuses.
// Otherwise the type chosen decides; "所有文件" writes the text file, as the
// export always did.
ExportFormat ExportFormatOf(const std::string& path, std::int32_t filterIndex) {
  // By bytes: the path is in the platform's encoding, not always UTF-8, and
  // no GBK byte of a name is a dot.
  const std::size_t dot = path.rfind('.');
  std::string extension = dot == std::string::npos ? std::string() : path.substr(dot);
  if (extension.find_first_of("/\\") != std::string::npos) extension.clear();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  if (extension == ".txt") return ExportFormat::kText;
  if (extension == ".csv") return ExportFormat::kCsv;
  if (extension == ".xlsx") return ExportFormat::kXlsx;
  // kExportFileFilter's types, in its order.
  return filterIndex == 2 ? ExportFormat::kCsv : filterIndex == 3 ? ExportFormat::kXlsx : ExportFormat::kText;
}

std::filesystem::path RunsDirectory(const std::string& settingsDir) {
  return std::filesystem::path(settingsDir) / "runs";
}

// The run journals, oldest first: their names are the times they began.
std::vector<std::filesystem::path> RunJournals(const std::string& settingsDir) {
  std::vector<std::filesystem::path> journals;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(RunsDirectory(settingsDir), error)) {
    if (entry.path().extension() == ".jsonl") journals.push_back(entry.path());
  }
  std::sort(journals.begin(), journals.end());
  return journals;
}

// The lines of a keyword file. The window's own format, GBK lines ending in
// CR LF, is read byte for byte; a file that is clearly UTF-8, as Linux
// editors write them (or UTF-16 by its byte-order mark), is converted to
// GB18030 and split at LF, a CR before it dropped.
void ForEachFileLine(std::string_view fileBytes, const LineSplitter::Line& line) {
  const Encoding from = ReadAs(DetectEncoding(fileBytes));
  if (from == Encoding::kGb18030) return LineSplitter::Split(fileBytes, line);
  LineSplitter::Split(ToGbk(fileBytes, from), line, LineSplitter::Ends::kLf);
}

// The proxies file as config.ini will give it back: without the blanks around
// it and one pair of quotes (as a path copied from a file manager comes), so
// that the file checked is the file a run reads.
std::string ProxiesPath(std::string_view typed) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v'; };
  while (!typed.empty() && blank(typed.front())) typed.remove_prefix(1);
  while (!typed.empty() && blank(typed.back())) typed.remove_suffix(1);
  if (typed.size() >= 2 && (typed.front() == '"' || typed.front() == '\'') && typed.back() == typed.front()) {
    typed = typed.substr(1, typed.size() - 2);
  }
  return std::string(typed);
}

// A bound in characters as typed: blanks around digits (ASCII or
// full-width); empty is 0, no bound. Nothing for anything else.
std::optional<std::int32_t> CharsBound(std::string_view typed) {
  std::string digits;
  for (const Text& c : FilterWords(typed)) digits += c;  // trimmed of blanks, ideographic ones too
  std::int32_t n = 0;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    int digit = digits[i] - '0';
    if (static_cast<unsigned char>(digits[i]) == 0xA3 && i + 1 < digits.size()) digit = (digits[++i] & 0xFF) - 0xB0;
    if (digit < 0 || digit > 9 || n > 100000) return std::nullopt;
    n = n * 10 + digit;
  }
  return n;
}

}  // namespace

void Harvester::Close() {
  StopEverything();
  if (dialogs_.ShowMessage(Text(kVisitMaker), kMbOkCancel | kMbIconQuestion) == kIdOk && options_.openUrl) {
    options_.openUrl(kMakerUrl);
  }
  EndProgram(0);
}

void Harvester::AddKeyword() {
  Value typed = Text();
  if (dialogs_.InputBox(kAskKeyword, kAskKeyword, std::nullopt, typed)) ui_.列表框_关键字.AddItem(ToText(typed));
}

void Harvester::ImportKeywords() {
  ui_.通用对话框1.SetType(FileDialog::kOpen);
  ui_.通用对话框1.SetFilter(kTextFileFilter);
  if (!ui_.通用对话框1.ShowFileDialog()) return;
  ImportFile(ui_.通用对话框1.FileName());
}

bool Harvester::ImportFile(const std::string& path) {
  const std::optional<std::string> bytes = ReadFile(path);
  ForEachFileLine(bytes.value_or(std::string()), [&](std::string_view line) {
    if (!TrimLeadingSpaces(line).empty()) {
      ui_.列表框_关键字.SetCurrentSelection(ui_.列表框_关键字.AddItem(line));
    }
    dialogs_.ProcessPendingMessages();  // after every piece, added or not
  });
  ui_.列表框_关键字.SetCurrentSelection(0);
  ui_.状态条1.SetPanelText(0, bytes ? kImported : kImportFailed);
  return bytes.has_value();
}

TextArray Harvester::KeywordLines(std::string_view fileBytes) {
  TextArray lines;
  ForEachFileLine(fileBytes, [&](std::string_view line) {
    if (!TrimLeadingSpaces(line).empty()) lines.emplace_back(line);
  });
  return lines;
}

void Harvester::ClearKeywords() {
  ui_.列表框_关键字.ClearItems();
  ui_.状态条1.SetPanelText(0, kCleared);
}

void Harvester::ExportPhrases() {
  ui_.通用对话框1.SetType(FileDialog::kSave);
  ui_.通用对话框1.SetFilter(kExportFileFilter);
  if (!ui_.通用对话框1.ShowFileDialog()) return;
  const Text path = ui_.通用对话框1.FileName();
  const ExportFormat format = ExportFormatOf(path, ui_.通用对话框1.FilterIndex());
  const std::int32_t count = ui_.列表框_相关关键字.ItemCount();
  bool written = false;
  if (format == ExportFormat::kText) {
    Text text;
    for (std::int32_t i = 0; i < count; ++i) {
      text += ui_.列表框_相关关键字.ItemText(i);
      text += "\r\n";
      dialogs_.ProcessPendingMessages();
    }
    written = WriteFileBytes(path, {text});
  } else {
    // The list keeps only the phrases: where each came from is not known
    // here, and those columns stay empty rather than guessed.
    std::unique_ptr<PhraseTable> table = PhraseTable::Open(
        format == ExportFormat::kCsv ? PhraseTable::Kind::kCsv : PhraseTable::Kind::kXlsx, path, true, nullptr);
    written = table != nullptr;
    for (std::int32_t i = 0; written && i < count; ++i) {
      const Text phrase = ui_.列表框_相关关键字.ItemText(i);
      PhraseRow row;
      row.phrase = phrase;
      written = table->Add(row);
      dialogs_.ProcessPendingMessages();
    }
    if (table) written = table->Finish() && written;
  }
  ui_.状态条1.SetPanelText(0, written ? kExported : kExportFailed);
  // A status line is easily missed, and the user may trust the file.
  if (!written) dialogs_.ShowMessage(Text(kNotExported), kMbOk | kMbIconError);
}

void Harvester::ClearPhrases() { ui_.列表框_相关关键字.ClearItems(); }

void Harvester::LoadSettings() {
  ui_.编辑框_工作线程.SetContent(settings_.Workers());
  ui_.编辑框_采集级别.SetContent(settings_.Depth());
}

void Harvester::SaveWorkerCount() { settings_.SaveWorkers(ui_.编辑框_工作线程.Content()); }

void Harvester::SaveDepth() { settings_.SaveDepth(ui_.编辑框_采集级别.Content()); }

void Harvester::EditPacing() {
  using Key = Settings::FilterKey;
  HarvestSettings edited{settings_.Rate(),
                         settings_.Unique() == "1",
                         settings_.ProxiesFile(),
                         settings_.NoDirect() == "1",
                         settings_.Filter(Key::kInclude),
                         settings_.Filter(Key::kExclude),
                         settings_.Filter(Key::kExcludeFile),
                         settings_.Filter(Key::kMustContain),
                         settings_.Filter(Key::kMinChars),
                         settings_.Filter(Key::kMaxChars)};
  // Settings a run could not use are refused, and the dialog comes back with
  // what was typed, so that the user can correct them.
  std::optional<Pace> pace;
  std::string proxies, stopWords;
  std::optional<std::int32_t> minChars, maxChars;
  for (;;) {
    if (!dialogs_.PacingDialog(edited)) return;
    pace = ParsePace(edited.rate);
    proxies = ProxiesPath(edited.proxiesFile);
    stopWords = ProxiesPath(edited.stopWordsFile);
    minChars = CharsBound(edited.minChars), maxChars = CharsBound(edited.maxChars);
    std::string_view problem;
    if (!pace) {
      problem = kBadRate;
    } else if (!proxies.empty() && !ReadRegularFile(proxies, 0)) {  // opened only: a FIFO is refused, not waited on
      problem = kProxiesUnreadable;
    } else if (edited.noDirect && proxies.empty()) {
      problem = kNoRoute;
    } else if (!stopWords.empty() && !ReadRegularFile(stopWords, 0)) {
      problem = kStopWordsUnreadable;
    } else if (!minChars || !maxChars || (*maxChars > 0 && *maxChars < *minChars)) {
      problem = kBadChars;
    }
    if (problem.empty()) break;
    dialogs_.ShowMessage(Text(problem), kMbOk | kMbIconWarning);
  }
  // Said, not passed over: nothing else in the window shows these settings.
  if (!settings_.SaveRate(PaceText(*pace)) || !settings_.SaveUnique(edited.unique ? "1" : "0") ||
      !settings_.SaveProxiesFile(proxies) || !settings_.SaveNoDirect(edited.noDirect ? "1" : "0") ||
      !settings_.SaveFilter(Key::kInclude, edited.include) || !settings_.SaveFilter(Key::kExclude, edited.exclude) ||
      !settings_.SaveFilter(Key::kExcludeFile, stopWords) ||
      !settings_.SaveFilter(Key::kMustContain, edited.mustContain) ||
      !settings_.SaveFilter(Key::kMinChars, std::to_string(*minChars)) ||
      !settings_.SaveFilter(Key::kMaxChars, std::to_string(*maxChars))) {
    dialogs_.ShowMessage(Text(kNotSaved), kMbOk | kMbIconError);
  }
}

void Harvester::OpenRunJournal(const Pace& pace, bool unique) {
  runJournal_.reset();
  runJournalSynced_ = std::chrono::steady_clock::now();
  if (continuing_) {
    runJournal_ = std::move(continuing_);
    continuing_.reset();
    return;
  }
  JournalRun run;
  for (std::int32_t i = 0; i < ui_.列表框_关键字.ItemCount(); ++i)
    run.seedList.push_back(ui_.列表框_关键字.ItemText(i));
  run.seeds = SeedsDigest(run.seedList);
  run.seedCount = static_cast<std::int64_t>(run.seedList.size());
  run.depth = ToInteger(ui_.编辑框_采集级别.Content());
  run.unique = unique;
  const std::vector<PhraseSource> sources = Sources();
  run.source = sources.size() > 1 ? "both" : std::string(SourceName(sources.front()));
  run.format = "window";
  run.encoding = "gbk";
  run.pace = PaceText(pace);
  // Named by the time it began, a second apart at most: a name taken
  // already gets the next free one.
  std::error_code error;
  const std::filesystem::path dir = RunsDirectory(options_.settingsDir);
  std::filesystem::create_directories(dir, error);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char stamp[32] = "run";
  if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::filesystem::path path = dir / (std::string(stamp) + ".jsonl");
  for (int n = 2; std::filesystem::exists(path, error) && n < 100; ++n) {
    path = dir / (std::string(stamp) + "-" + std::to_string(n) + ".jsonl");
  }
  std::optional<AppendFile> journal = AppendFile::Open(path.string());
  if (!journal || !journal->Lock() || !journal->Append(JournalHeaderLine(run, 0)))
    return;  // the run goes on unjournaled
  runJournal_ = std::move(journal);
  std::vector<std::filesystem::path> journals = RunJournals(options_.settingsDir);
  for (std::size_t i = 0; i + kKeptRunJournals < journals.size(); ++i) std::filesystem::remove(journals[i], error);
}

void Harvester::RetireRunJournal() {
  if (!runJournal_) return;
  runJournal_->Append(RetiredLine());
  runJournal_->Sync();
  runJournal_.reset();
}

void Harvester::OfferToContinue() {
  const std::vector<std::filesystem::path> journals = RunJournals(options_.settingsDir);
  if (journals.empty()) return;
  const std::string path = journals.back().string();
  std::optional<AppendFile> journal = AppendFile::Open(path);
  if (!journal || !journal->Lock()) return;  // another window is running it
  const std::optional<std::string> bytes = ReadFile(path);
  if (!bytes) return;
  auto contents = std::make_shared<JournalContents>(JournalContents::Read(*bytes, INT64_MAX));
  if (!contents->Error().empty() || contents->Retired() || contents->Run().seedList.empty()) return;
  const Text question = Text(kContinueBefore) + ToText(contents->Pages()) + Text(kContinueAfter);
  if (dialogs_.ShowMessage(question, kMbYesNo | kMbIconQuestion) != kIdYes) {
    journal->Truncate(contents->KeptBytes());
    journal->Append(RetiredLine());
    return;
  }
  journal->Truncate(contents->KeptBytes());  // a line a crash tore
  ui_.列表框_关键字.ClearItems();
  for (const Text& seed : contents->Run().seedList) ui_.列表框_关键字.AddItem(seed);
  ui_.编辑框_采集级别.SetContent(ToText(contents->Run().depth));
  continuing_ = std::move(journal);
  continued_ = std::move(contents);
  OnStartButton();
}

}  // namespace kelvarn
