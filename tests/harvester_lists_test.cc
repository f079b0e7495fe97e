// The keyword and phrase lists (add, import, export, clear) and the
// settings in config.ini, with broken files and read-only places.
#include "tests/harvester_fixture.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <random>

#include "app/main_window.h"
#include "text/files.h"

namespace kelvarn {
namespace {

TEST_F(HarvesterTest, FirstStartWritesTheDefaultSettings) {
  EXPECT_EQ("20", w_.编辑框_工作线程.Content());
  EXPECT_EQ("1", w_.编辑框_采集级别.Content());
  const ByteArray ini = ReadFileBytes(dir_ + "config.ini");
  EXPECT_EQ(Utf8ToGbk("[配置]\r\n工作线程=20\r\n采集级别=1\r\n"), std::string(ini.begin(), ini.end()));
  w_.编辑框_采集级别.SetContent("3");  // every change is saved
  EXPECT_EQ("3", ReadSetting(dir_ + "config.ini", Utf8ToGbk("配置"), Utf8ToGbk("采集级别")));
}

TEST_F(HarvesterTest, ImportFollowsTheKeywordFileRules) {
  const std::string file = dir_ + "seeds.txt";
  ASSERT_TRUE(WriteFileBytes(file, {Utf8ToGbk("一\r\n  二 \r\n\r\n   \r\n") + "\xA1\xA1\r\nlf\nonly\r\nlast"}));
  w_.chooser = [&](const FileRequest& request) -> std::optional<FileChoice> {
    EXPECT_EQ(FileDialog::kOpen, request.type);
    EXPECT_EQ(kTextFileFilter, request.filter);
    return FileChoice{file};
  };
  OnWindow([&] { harvester_->ImportKeywords(); });
  EXPECT_EQ(4, w_.列表框_关键字.ItemCount());
  EXPECT_EQ(Utf8ToGbk("一"), w_.列表框_关键字.ItemText(0));
  EXPECT_EQ(Utf8ToGbk("  二 "), w_.列表框_关键字.ItemText(1));  // leading spaces kept
  EXPECT_EQ("lf\nonly", w_.列表框_关键字.ItemText(2));          // a bare LF stays inside the item
  EXPECT_EQ("last", w_.列表框_关键字.ItemText(3));
  EXPECT_EQ(0, w_.列表框_关键字.CurrentSelection());
  EXPECT_EQ(Utf8ToGbk("导入完成."), w_.状态条1.PanelText(0));
  EXPECT_EQ(7, w_.dialogs.pendingMessagePumps);  // after every piece

  w_.chooser = [&](const FileRequest&) -> std::optional<FileChoice> { return FileChoice{dir_ + "missing.txt"}; };
  OnWindow([&] { harvester_->ImportKeywords(); });
  EXPECT_EQ(Utf8ToGbk("导入失败."), w_.状态条1.PanelText(0));
  ASSERT_TRUE(WriteFileBytes(dir_ + "empty.txt", {""}));
  w_.chooser = [&](const FileRequest&) -> std::optional<FileChoice> { return FileChoice{dir_ + "empty.txt"}; };
  OnWindow([&] { harvester_->ImportKeywords(); });
  EXPECT_EQ(Utf8ToGbk("导入完成."), w_.状态条1.PanelText(0));  // readable, only empty

  w_.状态条1.SetPanelText(0, "kept");
  w_.chooser = nullptr;  // cancelled: nothing changes
  OnWindow([&] { harvester_->ImportKeywords(); });
  EXPECT_EQ("kept", w_.状态条1.PanelText(0));
  EXPECT_EQ(4, w_.列表框_关键字.ItemCount());
}

// A keyword file from a Linux editor (UTF-8, LF) imports as its lines, in
// GBK; the window's own format stays byte for byte, even a short GBK file
// that happens to be valid UTF-8.
TEST_F(HarvesterTest, ImportConvertsClearlyUtf8FilesOnly) {
  const struct {
    std::string bytes;
    TextArray items;
  } files[] = {
      {"天气\n  \n关键字\n", {Utf8ToGbk("天气"), Utf8ToGbk("关键字")}},
      {"\xEF\xBB\xBF天气\r\n长尾词\r\n", {Utf8ToGbk("天气"), Utf8ToGbk("长尾词")}},  // a byte-order mark
      {Utf8ToGbk("一直\r\n"), {Utf8ToGbk("一直")}},
      {Utf8ToGbk("联通\r\n"), {Utf8ToGbk("联通")}},
  };
  for (const auto& file : files) {
    ASSERT_TRUE(WriteFileBytes(dir_ + "seeds.txt", {file.bytes}));
    w_.列表框_关键字.ClearItems();
    EXPECT_TRUE(harvester_->ImportFile(dir_ + "seeds.txt"));
    TextArray items;
    for (std::int32_t i = 0; i < w_.列表框_关键字.ItemCount(); ++i) items.push_back(w_.列表框_关键字.ItemText(i));
    EXPECT_EQ(file.items, items) << ::testing::PrintToString(file.bytes);
    EXPECT_EQ(Utf8ToGbk("导入完成."), w_.状态条1.PanelText(0));
  }
}

TEST_F(HarvesterTest, ExportWritesEveryItemWithCrLf) {
  for (const char* p : {"a", "", "b"}) w_.列表框_相关关键字.AddItem(p);
  const std::string file = dir_ + "out.txt";
  w_.chooser = [&](const FileRequest& request) -> std::optional<FileChoice> {
    EXPECT_EQ(FileDialog::kSave, request.type);
    EXPECT_EQ(kExportFileFilter, request.filter);
    return FileChoice{file};
  };
  // The window handles its events after every item; a phrase a worker adds
  // meanwhile is not written.
  w_.dialogs.onPump = [&] { w_.列表框_相关关键字.AddItem("late"); };
  OnWindow([&] { harvester_->ExportPhrases(); });
  w_.dialogs.onPump = nullptr;
  EXPECT_EQ(3, w_.dialogs.pendingMessagePumps);
  const ByteArray bytes = ReadFileBytes(file);
  EXPECT_EQ("a\r\n\r\nb\r\n", std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(Utf8ToGbk("导出完成."), w_.状态条1.PanelText(0));

  // A file that cannot be written is said in a box, not in the status alone,
  // whatever its type.
  EXPECT_TRUE(w_.dialogs.messagesShown.empty());
  for (const char* name : {"out.txt", "out.csv", "out.xlsx"}) {
    w_.chooser = [&](const FileRequest&) -> std::optional<FileChoice> { return FileChoice{dir_ + "no/dir/" + name}; };
    w_.dialogs.messagesShown.clear();
    OnWindow([&] { harvester_->ExportPhrases(); });
    EXPECT_EQ(Utf8ToGbk("导出失败."), w_.状态条1.PanelText(0)) << name;
    ASSERT_EQ(1u, w_.dialogs.messagesShown.size()) << name;
    EXPECT_EQ(Utf8ToGbk("文件无法写入,相关关键字未导出."), w_.dialogs.messagesShown[0].text);
    EXPECT_EQ(kMbOk | kMbIconError, w_.dialogs.messagesShown[0].flags);
  }

  // Exported, then imported: everything but the empty item comes back.
  w_.chooser = [&](const FileRequest&) -> std::optional<FileChoice> { return FileChoice{file}; };
  OnWindow([&] { harvester_->ImportKeywords(); });
  EXPECT_EQ(2, w_.列表框_关键字.ItemCount());
}

// A name's own extension decides what is written; a name without a known
// one takes the type chosen, and "所有文件" keeps the text file.
TEST_F(HarvesterTest, ExportWritesTheFormatTheNameOrTheTypeSays) {
  w_.列表框_相关关键字.AddItem(Utf8ToGbk("天气,预报"));
  const std::string text = Utf8ToGbk("天气,预报") + "\r\n", zip = "PK\x03\x04";
  const std::string csv = "\xEF\xBB\xBFphrase,level,parent,seed,source\r\n\"天气,预报\",,,,\r\n";
  const struct {
    const char* name;
    std::int32_t type;
    const std::string& starts;
  } cases[] = {{"a.csv", 1, csv}, {"b.XLSX", 1, zip}, {"c.txt", 3, text}, {"d", 2, csv},
               {"e", 3, zip},     {"f.dat", 4, text}, {"g", 1, text}};
  for (const auto& c : cases) {
    w_.chooser = [&](const FileRequest&) -> std::optional<FileChoice> { return FileChoice{dir_ + c.name, c.type}; };
    OnWindow([&] { harvester_->ExportPhrases(); });
    const ByteArray bytes = ReadFileBytes(dir_ + c.name);
    EXPECT_TRUE(std::string(bytes.begin(), bytes.end()).starts_with(c.starts)) << c.name;
    EXPECT_EQ(Utf8ToGbk("导出完成."), w_.状态条1.PanelText(0)) << c.name;
  }
}

TEST_F(HarvesterTest, AddAndClear) {
  w_.dialogs.inputAnswer = Utf8ToGbk("新词");
  OnWindow([&] { harvester_->AddKeyword(); });
  w_.dialogs.inputAnswer = Text();  // confirmed empty: an empty item
  OnWindow([&] { harvester_->AddKeyword(); });
  w_.dialogs.inputAnswer.reset();  // cancelled
  OnWindow([&] { harvester_->AddKeyword(); });
  ASSERT_EQ(2, w_.列表框_关键字.ItemCount());
  EXPECT_EQ(Utf8ToGbk("新词"), w_.列表框_关键字.ItemText(0));
  EXPECT_EQ("", w_.列表框_关键字.ItemText(1));
  ASSERT_EQ(3u, w_.dialogs.inputsShown.size());
  for (const ScriptedDialogs::Input& shown : w_.dialogs.inputsShown) {
    EXPECT_EQ(Utf8ToGbk("请输入关键字:"), shown.prompt);  // the prompt is the caption too
    EXPECT_EQ(Utf8ToGbk("请输入关键字:"), shown.caption);
    EXPECT_EQ("", shown.initial);
  }

  w_.状态条1.SetPanelText(0, "before");
  w_.列表框_相关关键字.AddItem("p");
  OnWindow([&] { harvester_->ClearPhrases(); });
  EXPECT_EQ(0, w_.列表框_相关关键字.ItemCount());
  EXPECT_EQ("before", w_.状态条1.PanelText(0));  // unchanged
  OnWindow([&] { harvester_->ClearKeywords(); });
  EXPECT_EQ(0, w_.列表框_关键字.ItemCount());
  EXPECT_EQ(Utf8ToGbk("列表已清空.."), w_.状态条1.PanelText(0));
}

// The harvest settings live in a section of their own, which a file from
// before them lacks; settings a run could not use are refused and asked
// again with what was typed.
TEST_F(HarvesterTest, HarvestSettingsAreAskedUntilUsableThenSaved) {
  const std::string ini = dir_ + "config.ini", proxies = dir_ + "proxies.txt", stop = dir_ + "stop.txt";
  ASSERT_TRUE(WriteFileBytes(proxies, {"127.0.0.1:8080\r\n"}));
  ASSERT_TRUE(WriteFileBytes(stop, {"a\r\n"}));
  const std::vector<HarvestSettings> typed = {{.rate = "fast", .unique = true},
                                              {.rate = " 120 ", .unique = true, .proxiesFile = dir_ + "missing.txt"},
                                              {.rate = "120", .proxiesFile = dir_},  // a folder is no list
                                              {.rate = "120", .noDirect = true},
                                              {.rate = "120", .stopWordsFile = dir_},
                                              {.rate = "120", .minChars = "x"},
                                              {.rate = "120", .minChars = "5", .maxChars = "4"},
                                              {.rate = "120",
                                               .unique = true,
                                               .proxiesFile = " \"" + proxies + "\" ",
                                               .noDirect = true,
                                               .include = Utf8ToGbk("手机，电脑"),
                                               .stopWordsFile = stop,
                                               .mustContain = "root-words",
                                               .minChars = Utf8ToGbk("　２ ")}};
  w_.dialogs.pacingAnswers.assign(typed.begin(), typed.end());
  OnWindow([&] { harvester_->EditPacing(); });
  const std::vector<HarvestSettings>& shown = w_.dialogs.pacingShown;
  ASSERT_EQ(typed.size(), shown.size());
  EXPECT_EQ(HarvestSettings{.rate = "0"}, shown[0]);  // no section: no pacing, every phrase asked, direct
  for (std::size_t i = 1; i < typed.size(); ++i) EXPECT_EQ(typed[i - 1], shown[i]);
  std::vector<Text> warnings;
  for (const ScriptedDialogs::Message& m : w_.dialogs.messagesShown) warnings.push_back(m.text);
  const Text badChars = Utf8ToGbk("字数应为0或正整数,最长字数不能小于最短字数.");
  EXPECT_EQ((std::vector<Text>{Utf8ToGbk("请求频率应为0、auto或每分钟1至100000次."), Utf8ToGbk("代理列表文件无法读取."),
                               Utf8ToGbk("代理列表文件无法读取."), Utf8ToGbk("不直连时需要代理列表文件."),
                               Utf8ToGbk("排除词文件无法读取."), badChars, badChars}),
            warnings);
  const auto saved = [&] {
    const ByteArray bytes = ReadFileBytes(ini);
    return std::string(bytes.begin(), bytes.end());
  };
  const std::string written =
      Utf8ToGbk("[配置]\r\n工作线程=20\r\n采集级别=1\r\n[采集节奏]\r\n请求频率=120\r\n短语去重=1\r\n代理列表=") +
      proxies + Utf8ToGbk("\r\n不直连=1\r\n包含词=手机，电脑\r\n排除词=\r\n排除词文件=") + stop +
      Utf8ToGbk("\r\n必须包含=root-words\r\n最短字数=2\r\n最长字数=0\r\n");
  EXPECT_EQ(written, saved());

  w_.dialogs.pacingAnswers = {std::nullopt};  // cancelled: nothing changes
  OnWindow([&] { harvester_->EditPacing(); });
  EXPECT_EQ((HarvestSettings{"120", true, proxies, true, Utf8ToGbk("手机，电脑"), "", stop, "root-words", "2", "0"}),
            shown.back());
  EXPECT_EQ(7u, w_.dialogs.messagesShown.size());
  EXPECT_EQ(written, saved());

  // A run reads the list and the stop words when it starts: a file it
  // cannot use is said, and nothing starts.
  Seeds({"a"});
  Click();
  ASSERT_EQ(8u, w_.dialogs.messagesShown.size());
  EXPECT_TRUE(w_.dialogs.messagesShown.back().text.starts_with(Utf8ToGbk("代理列表文件无法使用,采集未开始:\r\n") +
                                                               proxies + ":1: proxy URL: "))
      << w_.dialogs.messagesShown.back().text;
  ASSERT_TRUE(WriteFileBytes(proxies, {"http://127.0.0.1:8080\r\n"}));
  std::filesystem::remove(stop);
  Click();
  ASSERT_EQ(9u, w_.dialogs.messagesShown.size());
  EXPECT_EQ(Utf8ToGbk("排除词文件无法读取,采集未开始:") + stop, w_.dialogs.messagesShown.back().text);
  EXPECT_EQ(kStart, w_.按钮_开始采集.Caption());
  EXPECT_EQ(0, engine_->RequestCount());
}

// Bad local input: broken keyword files, settings files and export targets.

TEST_F(HarvesterTest, ZeroBytesEndLinesAndBinaryFilesImportAsLines) {
  ASSERT_TRUE(WriteFileBytes(dir_ + "zeros.txt", {std::string("a\r\nb\0c\r\n\0\0d", 11)}));
  EXPECT_TRUE(harvester_->ImportFile(dir_ + "zeros.txt"));
  EXPECT_EQ(Utf8ToGbk("导入完成."), w_.状态条1.PanelText(0));
  ASSERT_EQ(4, w_.列表框_关键字.ItemCount());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(std::string(1, "abcd"[i]), w_.列表框_关键字.ItemText(i));
  EXPECT_EQ((TextArray{"a", "b", "c", "d"}), Harvester::KeywordLines(std::string("a\r\nb\0c\r\n\0\0d", 11)));

  std::mt19937 rng(7);
  std::string binary(256 * 1024, '\0');
  for (char& c : binary) c = static_cast<char>(rng());
  ASSERT_TRUE(WriteFileBytes(dir_ + "binary.bin", {binary}));
  w_.列表框_关键字.ClearItems();
  EXPECT_TRUE(harvester_->ImportFile(dir_ + "binary.bin"));
  std::size_t bytes = 0;
  for (std::int32_t i = 0; i < w_.列表框_关键字.ItemCount(); ++i) {
    const Text item = w_.列表框_关键字.ItemText(i);
    EXPECT_EQ(std::string::npos, item.find('\0'));
    bytes += item.size();
  }
  EXPECT_GT(w_.列表框_关键字.ItemCount(), 500);
  EXPECT_LE(bytes, binary.size());
}

#ifdef _WIN32
// Windows' counterpart of modes (which bind no administrator, nor Wine's
// root): a file that another handle holds without sharing can be neither
// read nor replaced.
TEST_F(HarvesterTest, UnreadableFilesAndReadOnlyPlacesFailCleanly) {
  const auto hold = [](const std::string& path) {
    return ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  const std::string secret = dir_ + "secret.txt", old = dir_ + "out.txt";
  ASSERT_TRUE(WriteFileBytes(secret, {"a\r\nb\r\n"}));
  ASSERT_TRUE(WriteFileBytes(old, {"old"}));
  const HANDLE heldSecret = hold(secret), heldOld = hold(old);
  ASSERT_NE(INVALID_HANDLE_VALUE, heldSecret);
  ASSERT_NE(INVALID_HANDLE_VALUE, heldOld);
  EXPECT_FALSE(harvester_->ImportFile(secret));
  EXPECT_EQ(0, w_.列表框_关键字.ItemCount());
  EXPECT_EQ(Utf8ToGbk("导入失败."), w_.状态条1.PanelText(0));
  w_.列表框_相关关键字.AddItem("new phrase");
  w_.chooser = [&](const FileRequest&) -> std::optional<FileChoice> { return FileChoice{old}; };
  harvester_->ExportPhrases();
  EXPECT_EQ(Utf8ToGbk("导出失败."), w_.状态条1.PanelText(0));
  ::CloseHandle(heldSecret);
  ::CloseHandle(heldOld);
  const ByteArray kept = ReadFileBytes(old);
  EXPECT_EQ("old", std::string(kept.begin(), kept.end()));
}
#else
// Runs `check` in a child process as an ordinary user (nobody when the tests
// run as root, who may read and write anything) with the file size limit
// given; true when it returned true.
bool InChildProcess(const std::function<bool()>& check, rlim_t fileSizeLimit = RLIM_INFINITY) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
    const rlimit limit{fileSizeLimit, fileSizeLimit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(check() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(HarvesterTest, UnreadableFilesAndReadOnlyPlacesFailCleanly) {
  ::chmod(dir_.c_str(), 0755);  // the child may be another user
  const std::string secret = dir_ + "secret.txt", locked = dir_ + "locked/", old = locked + "out.txt";
  ASSERT_TRUE(WriteFileBytes(secret, {"a\r\nb\r\n"}));
  ::chmod(secret.c_str(), 0);
  ::mkdir(locked.c_str(), 0755);
  ASSERT_TRUE(WriteFileBytes(old, {"old"}));
  ::chmod(old.c_str(), 0644);  // a writable file would be written in place: this one is read-only to the child
  ASSERT_TRUE(WriteFileBytes(locked + "config.ini", {Utf8ToGbk("[配置]\r\n工作线程=7\r\n")}));
  ::chmod((locked + "config.ini").c_str(), 0644);  // read-only to the child, whatever the umask
  ::chmod(locked.c_str(), 0555);
  const auto saved = [&] {
    const ByteArray bytes = ReadFileBytes(old);
    return std::string(bytes.begin(), bytes.end());
  };
  w_.列表框_相关关键字.AddItem("new phrase");

  EXPECT_TRUE(InChildProcess([&] {
    return !harvester_->ImportFile(secret) && w_.列表框_关键字.ItemCount() == 0 &&
           w_.状态条1.PanelText(0) == Utf8ToGbk("导入失败.");
  }));
  EXPECT_TRUE(InChildProcess([&] {
    w_.chooser = [&](const FileRequest&) -> std::optional<FileChoice> { return FileChoice{old}; };
    harvester_->ExportPhrases();
    return w_.状态条1.PanelText(0) == Utf8ToGbk("导出失败.");
  }));
  EXPECT_EQ("old", saved());
  // Settings in a read-only directory: read as they are, changes not kept.
  EXPECT_TRUE(InChildProcess([&] {
    Harvester::Options o;
    o.settingsDir = locked;
    o.searchBase = engine_->BaseUrl();
    HeadlessWindow w;
    Harvester h(w.Components(), w.ui, w.dialogs, o);
    w.ui.Invoke([&] { h.LoadSettings(); });
    w.编辑框_工作线程.SetContent("9");
    w.ui.Invoke([&] { h.SaveWorkerCount(); });
    w.dialogs.pacingAnswers = {HarvestSettings{.rate = "auto", .unique = true}};
    w.ui.Invoke([&] { h.EditPacing(); });  // the pacing settings say they were not kept
    return w.编辑框_工作线程.Content() == "9" && w.编辑框_采集级别.Content() == "1" &&
           ReadSetting(locked + "config.ini", Utf8ToGbk("配置"), Utf8ToGbk("工作线程")) == "7" &&
           w.dialogs.messagesShown.size() == 1 &&
           w.dialogs.messagesShown[0].text == Utf8ToGbk("config.ini无法写入,设置未保存.");
  }));
  // A full disk: the new file cannot be written whole, the old one stays.
  ::chmod(locked.c_str(), 0777);
  ::chmod(old.c_str(), 0666);
  for (int i = 0; i < 100; ++i) w_.列表框_相关关键字.AddItem("phrase" + std::to_string(i));
  const auto exportTo = [&](const char* expected) {
    return [&, expected] {
      w_.chooser = [&](const FileRequest&) -> std::optional<FileChoice> { return FileChoice{old}; };
      harvester_->ExportPhrases();
      const bool failed = std::string_view(expected) == "导出失败.";
      return w_.状态条1.PanelText(0) == Utf8ToGbk(expected) && w_.dialogs.messagesShown.size() == (failed ? 1u : 0u);
    };
  };
  EXPECT_TRUE(InChildProcess(exportTo("导出失败."), 64));
  EXPECT_EQ("old", saved());
  EXPECT_TRUE(InChildProcess(exportTo("导出完成.")));  // the same export with room
  EXPECT_EQ(0u, saved().find("new phrase\r\nphrase0\r\n"));
}
#endif

TEST_F(HarvesterTest, BrokenSettingsFilesGiveDefinedValues) {
  const std::string ini = dir_ + "config.ini";
  const auto load = [&](const std::string& bytes) {
    ASSERT_TRUE(WriteFileBytes(ini, {bytes}));
    OnWindow([&] { harvester_->LoadSettings(); });
  };
  std::mt19937 rng(3);
  std::string garbage(4096, '\0');
  for (char& c : garbage) c = static_cast<char>(rng());
  load(garbage);
  EXPECT_EQ("20", w_.编辑框_工作线程.Content());
  EXPECT_EQ("1", w_.编辑框_采集级别.Content());
  load(Utf8ToGbk("[其他]\r\n工作线程=3\r\n"));  // the keys under another section
  EXPECT_EQ("20", w_.编辑框_工作线程.Content());

  // Huge and negative numbers: the worker count is capped, a depth below 1
  // fetches nothing, and every run ends.
  Seeds({"a"});
  load(Utf8ToGbk("[配置]\r\n工作线程=99999999999999999999\r\n采集级别=-5\r\n"));
  EXPECT_EQ("99999999999999999999", w_.编辑框_工作线程.Content());
  RunToTheEnd();
  EXPECT_EQ(Done(0), w_.状态条1.PanelText(0));
  load(Utf8ToGbk("[配置]\r\n工作线程=-1\r\n采集级别=1\r\n"));
  RunToTheEnd();
  EXPECT_EQ(Done(10, 9), w_.状态条1.PanelText(0));                       // the page lists one phrase twice
  load(Utf8ToGbk("[配置]\r\n工作线程=abc\r\n采集级别=4294967298\r\n"));  // depth wraps to 2
  RunToTheEnd();
  EXPECT_EQ(Done(10 + 10 + 100, 97), w_.状态条1.PanelText(0));
}

}  // namespace
}  // namespace kelvarn
