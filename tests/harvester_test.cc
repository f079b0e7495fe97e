// The harvest, end to end and headless, against the offline search engine.
#include "app/harvester.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <set>
#include <thread>

#include "app/headless_window.h"
#include "app/main_window.h"
#include "frame/frame.h"
#include "frame/headless_frame.h"
#include "tests/raw_server.h"
#include "text/files.h"
#include "tools/engine/offline_engine.h"

namespace kelvarn {
namespace {

using Clock = std::chrono::steady_clock;

const Text kStart = Utf8ToGbk("开始采集");
const Text kStop = Utf8ToGbk("停止留言");

Text Done(int n) { return Utf8ToGbk("采集完成,空闲等待中,相关关键字共(" + std::to_string(n) + ")个"); }

template <class Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class HarvesterTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(EngineOptions{}); }

  void Start(EngineOptions options) {
    engine_ = std::make_unique<OfflineEngine>(options);
    ASSERT_GT(engine_->Start(), 0);
    char pattern[] = "/tmp/kelvarn-harvest-XXXXXX";
    dir_ = std::string(::mkdtemp(pattern)) + "/";
    Harvester::Options o;
    o.programDir = dir_;
    o.searchBase = engine_->BaseUrl();
    o.openUrl = [this](std::string_view url) { opened_ = std::string(url); };
    harvester_ = std::make_unique<Harvester>(w_.Components(), w_.ui, w_.dialogs, o);
    w_.编辑框_工作线程.OnContentChanged([this] { harvester_->SaveWorkerCount(); });
    w_.编辑框_采集级别.OnContentChanged([this] { harvester_->SaveDepth(); });
    OnWindow([&] { harvester_->LoadSettings(); });
  }

  void TearDown() override {
    harvester_.reset();
    engine_.reset();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  void OnWindow(const std::function<void()>& handler) { w_.ui.Invoke(handler); }
  void Seeds(std::initializer_list<const char*> seeds) {
    for (const char* s : seeds) w_.列表框_关键字.AddItem(Utf8ToGbk(s));
  }
  void Settings(int workers, int depth) {
    w_.编辑框_工作线程.SetContent(std::to_string(workers));
    w_.编辑框_采集级别.SetContent(std::to_string(depth));
  }
  void Click() {
    OnWindow([&] { harvester_->OnStartButton(); });
  }
  bool Finished() {
    return w_.按钮_开始采集.Caption() == kStart && w_.状态条1.PanelText(0).find(Done(0).substr(0, 8)) == 0;
  }
  void RunToTheEnd() {
    Click();  // the caption is "停止留言" until the run completes, which may be at once
    ASSERT_TRUE(WaitUntil([&] { return Finished(); }));
  }
  std::int32_t Phrases() { return w_.列表框_相关关键字.ItemCount(); }

  HeadlessWindow w_;
  std::unique_ptr<OfflineEngine> engine_;
  std::unique_ptr<Harvester> harvester_;
  std::string dir_, opened_;
};

TEST_F(HarvesterTest, FirstStartWritesTheDefaultSettings) {
  EXPECT_EQ("20", w_.编辑框_工作线程.Content());
  EXPECT_EQ("1", w_.编辑框_采集级别.Content());
  const ByteArray ini = ReadFileBytes(dir_ + "config.ini");
  EXPECT_EQ(Utf8ToGbk("[配置]\r\n工作线程=20\r\n采集级别=1\r\n"), std::string(ini.begin(), ini.end()));
  w_.编辑框_采集级别.SetContent("3");  // every change is saved
  EXPECT_EQ("3", ReadSetting(dir_ + "config.ini", Utf8ToGbk("配置"), Utf8ToGbk("采集级别")));
}

TEST_F(HarvesterTest, DepthOneFetchesEverySeedOnce) {
  Seeds({"关键字", "挖掘工具"});
  Settings(4, 1);
  RunToTheEnd();
  EXPECT_EQ(20, Phrases());
  EXPECT_EQ(Done(20), w_.状态条1.PanelText(0));
  EXPECT_EQ(2u, engine_->RequestCount());
  const TextArray expected = OfflineEngine::PhrasesFor(Utf8ToGbk("关键字"), 10);
  TextArray got;
  for (int i = 0; i < Phrases(); ++i) got.push_back(w_.列表框_相关关键字.ItemText(i));
  for (const Text& p : expected) EXPECT_THAT(got, ::testing::Contains(p));
  EXPECT_EQ(22, harvester_->TaskRecordCount());  // 2 seeds and 20 level-2 tasks that fetch nothing
  EXPECT_EQ(0, harvester_->PendingTasks());
  EXPECT_EQ("", w_.状态条1.ProgressText());  // shown while a run goes on only
}

TEST_F(HarvesterTest, DepthTwoListsAndFetchesRepeatsEveryTime) {
  Seeds({"关键字", "关键字"});  // the same seed twice
  Settings(8, 2);
  RunToTheEnd();
  EXPECT_EQ(2 * 10 + 2 * 100, Phrases());
  EXPECT_EQ(2u + 20u, engine_->RequestCount());
  EXPECT_EQ(w_.列表框_相关关键字.ItemText(0), w_.列表框_相关关键字.ItemText(0));
}

// On the last level a page's phrases are posted together, but the task still
// holds its worker 5 ms a phrase, and a stop ends that hold at once.
TEST_F(HarvesterTest, LastLevelPagesHoldTheirWorkerAsLongAsSpacedPosts) {
  Seeds({"a", "b"});
  Settings(1, 1);
  const auto start = Clock::now();
  RunToTheEnd();
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2 * 10 * 5));
  EXPECT_EQ(20, Phrases());
  EXPECT_EQ(22, harvester_->TaskRecordCount());

  TearDown();
  EngineOptions many;
  many.phrasesPerPage = 4000;  // a 20 s hold
  Start(many);
  w_.列表框_关键字.ClearItems();
  w_.列表框_相关关键字.ClearItems();
  Seeds({"c"});
  Settings(1, 1);
  Click();
  ASSERT_TRUE(WaitUntil([&] { return Phrases() == 4000; }));  // every phrase is listed at once
  const auto stopAt = Clock::now();
  Click();
  harvester_.reset();  // waits for the task to leave
  EXPECT_LT(Clock::now() - stopAt, std::chrono::seconds(2));
}

TEST_F(HarvesterTest, DepthZeroOrNegativeFetchesNothing) {
  Seeds({"a", "b"});
  for (int depth : {0, -3}) {
    Settings(2, depth);
    RunToTheEnd();
  }
  EXPECT_EQ(0, Phrases());
  EXPECT_EQ(0u, engine_->RequestCount());
  EXPECT_EQ(Done(0), w_.状态条1.PanelText(0));
}

TEST_F(HarvesterTest, EmptySeedListEndsAtOnce) {
  Settings(2, 1);
  RunToTheEnd();
  EXPECT_EQ(Done(0), w_.状态条1.PanelText(0));
}

TEST_F(HarvesterTest, TwoRunsKeepTheFirstPoolAndCountBoth) {
  Seeds({"x"});
  Settings(3, 1);
  RunToTheEnd();
  w_.编辑框_工作线程.SetContent("7");
  RunToTheEnd();
  EXPECT_EQ(3, harvester_->Pool().Create(99));  // still the first pool
  EXPECT_EQ(20, Phrases());
  EXPECT_EQ(Done(20), w_.状态条1.PanelText(0));
}

TEST_F(HarvesterTest, StopThenStartBuildsAFreshPool) {
  Seeds({"x"});
  Settings(3, 1);
  RunToTheEnd();
  Click();  // start
  Click();  // stop
  EXPECT_EQ(kStart, w_.按钮_开始采集.Caption());
  EXPECT_EQ(ThreadPool::kClosed, harvester_->Pool().State());
  w_.编辑框_工作线程.SetContent("5");
  RunToTheEnd();
  EXPECT_EQ(5, harvester_->Pool().Create(99));
}

TEST_F(HarvesterTest, ImportFollowsTheKeywordFileRules) {
  const std::string file = dir_ + "seeds.txt";
  ASSERT_TRUE(WriteFileBytes(file, {Utf8ToGbk("一\r\n  二 \r\n\r\n   \r\n") + "\xA1\xA1\r\nlf\nonly\r\nlast"}));
  w_.chooser = [&](std::int32_t type, const Text&) -> std::optional<Text> {
    EXPECT_EQ(FileDialog::kOpen, type);
    return file;
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

  w_.chooser = [&](std::int32_t, const Text&) -> std::optional<Text> { return dir_ + "missing.txt"; };
  OnWindow([&] { harvester_->ImportKeywords(); });
  EXPECT_EQ(Utf8ToGbk("导入失败."), w_.状态条1.PanelText(0));
  ASSERT_TRUE(WriteFileBytes(dir_ + "empty.txt", {""}));
  w_.chooser = [&](std::int32_t, const Text&) -> std::optional<Text> { return dir_ + "empty.txt"; };
  OnWindow([&] { harvester_->ImportKeywords(); });
  EXPECT_EQ(Utf8ToGbk("导入完成."), w_.状态条1.PanelText(0));  // readable, only empty

  w_.状态条1.SetPanelText(0, "kept");
  w_.chooser = nullptr;  // cancelled: nothing changes
  OnWindow([&] { harvester_->ImportKeywords(); });
  EXPECT_EQ("kept", w_.状态条1.PanelText(0));
  EXPECT_EQ(4, w_.列表框_关键字.ItemCount());
}

TEST_F(HarvesterTest, ExportWritesEveryItemWithCrLf) {
  for (const char* p : {"a", "", "b"}) w_.列表框_相关关键字.AddItem(p);
  const std::string file = dir_ + "out.txt";
  w_.chooser = [&](std::int32_t type, const Text&) -> std::optional<Text> {
    EXPECT_EQ(FileDialog::kSave, type);
    return file;
  };
  OnWindow([&] { harvester_->ExportPhrases(); });
  const ByteArray bytes = ReadFileBytes(file);
  EXPECT_EQ("a\r\n\r\nb\r\n", std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(Utf8ToGbk("导出完成."), w_.状态条1.PanelText(0));

  w_.chooser = [&](std::int32_t, const Text&) -> std::optional<Text> { return dir_ + "no/such/dir/out.txt"; };
  OnWindow([&] { harvester_->ExportPhrases(); });
  EXPECT_EQ(Utf8ToGbk("导出失败."), w_.状态条1.PanelText(0));

  // Exported, then imported: everything but the empty item comes back.
  w_.chooser = [&](std::int32_t, const Text&) -> std::optional<Text> { return file; };
  OnWindow([&] { harvester_->ImportKeywords(); });
  EXPECT_EQ(2, w_.列表框_关键字.ItemCount());
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

  w_.状态条1.SetPanelText(0, "before");
  w_.列表框_相关关键字.AddItem("p");
  OnWindow([&] { harvester_->ClearPhrases(); });
  EXPECT_EQ(0, w_.列表框_相关关键字.ItemCount());
  EXPECT_EQ("before", w_.状态条1.PanelText(0));  // unchanged
  OnWindow([&] { harvester_->ClearKeywords(); });
  EXPECT_EQ(0, w_.列表框_关键字.ItemCount());
  EXPECT_EQ(Utf8ToGbk("列表已清空.."), w_.状态条1.PanelText(0));
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
  ::chmod(old.c_str(), 0666);  // writable in place: only the directory is read-only
  ASSERT_TRUE(WriteFileBytes(locked + "config.ini", {Utf8ToGbk("[配置]\r\n工作线程=7\r\n")}));
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
    w_.chooser = [&](std::int32_t, const Text&) -> std::optional<Text> { return old; };
    harvester_->ExportPhrases();
    return w_.状态条1.PanelText(0) == Utf8ToGbk("导出失败.");
  }));
  EXPECT_EQ("old", saved());
  // Settings in a read-only directory: read as they are, changes not kept.
  EXPECT_TRUE(InChildProcess([&] {
    Harvester::Options o;
    o.programDir = locked;
    o.searchBase = engine_->BaseUrl();
    HeadlessWindow w;
    Harvester h(w.Components(), w.ui, w.dialogs, o);
    w.ui.Invoke([&] { h.LoadSettings(); });
    w.编辑框_工作线程.SetContent("9");
    w.ui.Invoke([&] { h.SaveWorkerCount(); });
    return w.编辑框_工作线程.Content() == "9" && w.编辑框_采集级别.Content() == "1" &&
           ReadSetting(locked + "config.ini", Utf8ToGbk("配置"), Utf8ToGbk("工作线程")) == "7";
  }));
  // A full disk: the new file cannot be written whole, the old one stays.
  ::chmod(locked.c_str(), 0777);
  for (int i = 0; i < 100; ++i) w_.列表框_相关关键字.AddItem("phrase" + std::to_string(i));
  const auto exportTo = [&](const char* expected) {
    return [&, expected] {
      w_.chooser = [&](std::int32_t, const Text&) -> std::optional<Text> { return old; };
      harvester_->ExportPhrases();
      return w_.状态条1.PanelText(0) == Utf8ToGbk(expected);
    };
  };
  EXPECT_TRUE(InChildProcess(exportTo("导出失败."), 64));
  EXPECT_EQ("old", saved());
  EXPECT_TRUE(InChildProcess(exportTo("导出完成.")));  // the same export with room
  EXPECT_EQ(0u, saved().find("new phrase\r\nphrase0\r\n"));
}

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
  EXPECT_EQ(Done(10), w_.状态条1.PanelText(0));
  load(Utf8ToGbk("[配置]\r\n工作线程=abc\r\n采集级别=4294967298\r\n"));  // depth wraps to 2
  RunToTheEnd();
  EXPECT_EQ(Done(10 + 10 + 100), w_.状态条1.PanelText(0));
}

// Seeds "a" and "b" harvested at depth 1 with 4 workers, to the end of the
// run, against an engine whose every answer has the fault given.
// Seeds "a" and "b" on 4 workers against an engine of its own; retries come
// after 10 ms, not 1 s.
struct TwoSeedRun {
  explicit TwoSeedRun(EngineOptions engineOptions, const std::function<void(Harvester::Options&)>& tune = {},
                      const char* depth = "1", bool waitForTheEnd = true)
      : engine(engineOptions) {
    if (engine.Start() <= 0) return;
    Harvester::Options o;
    o.programDir = "/tmp/";
    o.searchBase = engine.BaseUrl();
    o.retryDelayMs = 10;
    if (tune) tune(o);
    h = std::make_unique<Harvester>(w.Components(), w.ui, w.dialogs, o);
    w.列表框_关键字.AddItem("a");
    w.列表框_关键字.AddItem("b");
    w.编辑框_工作线程.SetContent("4");
    w.编辑框_采集级别.SetContent(depth);
    w.ui.Invoke([&] { h->OnStartButton(); });
    if (waitForTheEnd) ended = WaitUntil([&] { return w.按钮_开始采集.Caption() == kStart; });
  }
  static EngineOptions Faulty(EngineFault fault) {
    EngineOptions options;
    options.fault = fault;
    return options;
  }
  // What an open engine gives the two seeds at depth 2, sorted.
  static TextArray DepthTwoPhrases() {
    TextArray phrases;
    for (const Text& seed : {Text("a"), Text("b")}) {
      for (const Text& phrase : OfflineEngine::PhrasesFor(seed, 10)) {
        phrases.push_back(phrase);
        for (Text& deeper : OfflineEngine::PhrasesFor(phrase, 10)) phrases.push_back(std::move(deeper));
      }
    }
    std::sort(phrases.begin(), phrases.end());
    return phrases;
  }
  TextArray Collected() {
    TextArray phrases;
    for (std::int32_t i = 0; i < w.列表框_相关关键字.ItemCount(); ++i)
      phrases.push_back(w.列表框_相关关键字.ItemText(i));
    std::sort(phrases.begin(), phrases.end());
    return phrases;
  }

  OfflineEngine engine;
  HeadlessWindow w;
  std::unique_ptr<Harvester> h;
  bool ended = false;
};

// Every form of the related block the engine has served, in its own
// encoding, gives the same phrases, in GB18030 (here plain GBK).
TEST(HarvesterFaultTest, EveryPageFormGivesTheSamePhrases) {
  const TextArray expected = TwoSeedRun::DepthTwoPhrases();
  for (const EngineLayout layout :
       {EngineLayout::k2008, EngineLayout::k2018, EngineLayout::k2021, EngineLayout::kMixed}) {
    EngineOptions options;
    options.layout = layout;
    TwoSeedRun run(options, {}, "2");
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(expected, run.Collected()) << static_cast<int>(layout);
    EXPECT_EQ((PageCounts{22, 0, 0, 0, 0}), run.h->RunPageCounts());
  }
}

// Every fault mode of the engine: the run ends by itself, nothing is left
// pending, the list holds exactly what the good pages hold, and each page is
// counted once under what it gave. Pages that went wrong are named after the
// completion text.
TEST(HarvesterFaultTest, RunsEndWithWhatTheGoodPagesHold) {
  struct Case {
    EngineFault fault;
    int phrases;  // from 2 seeds at depth 1
    PageOutcome outcome;
    const char* problems;
  };
  for (const Case c : {Case{EngineFault::kErrorStatus, 0, PageOutcome::kErrorStatus, ";问题页面:错误状态(2)"},
                       Case{EngineFault::kReset, 0, PageOutcome::kFailed, ";问题页面:失败(2)"},
                       Case{EngineFault::kStall, 0, PageOutcome::kFailed, ";问题页面:失败(2)"},
                       Case{EngineFault::kGarbage, 0, PageOutcome::kNoBlock, ""},
                       Case{EngineFault::kRedirect, 20, PageOutcome::kPhrases, ""},
                       Case{EngineFault::kNoBlockEnd, 0, PageOutcome::kNoBlock, ""},
                       Case{EngineFault::kUpperCase, 20, PageOutcome::kPhrases, ""},
                       Case{EngineFault::kTrickle, 0, PageOutcome::kFailed, ";问题页面:失败(2)"},
                       Case{EngineFault::kRedirectLoop, 0, PageOutcome::kErrorStatus, ";问题页面:错误状态(2)"}}) {
    // The stall ends at 400 ms, not after 15 s.
    TwoSeedRun run(TwoSeedRun::Faulty(c.fault), [](Harvester::Options& o) { o.timeoutMs = 400; });
    ASSERT_TRUE(run.ended) << static_cast<int>(c.fault);
    EXPECT_EQ(c.phrases, run.w.列表框_相关关键字.ItemCount()) << static_cast<int>(c.fault);
    EXPECT_EQ(0, run.h->PendingTasks());
    PageCounts expected{};
    expected[static_cast<std::size_t>(c.outcome)] = 2;
    EXPECT_EQ(expected, run.h->RunPageCounts()) << static_cast<int>(c.fault);
    EXPECT_EQ(Done(c.phrases) + Utf8ToGbk(c.problems), run.w.状态条1.PanelText(0)) << static_cast<int>(c.fault);
  }
}

// Two seeds whose pages are 200 MiB each: the client stops reading at its cap,
// whose first bytes are a whole good page.
TEST(HarvesterFaultTest, HugePagesKeepMemoryBounded) {
  TwoSeedRun run(TwoSeedRun::Faulty(EngineFault::kHuge));
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(Done(20), run.w.状态条1.PanelText(0));
  EXPECT_EQ(0, run.h->PendingTasks());
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("peak memory with two 200 MiB pages: %.0f MiB\n", usage.ru_maxrss / 1024.0);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_LT(usage.ru_maxrss, 160 * 1024);  // KiB; a single whole page would be 200 MiB
#endif
}

// The engine process is killed with SIGKILL in the middle of a run (answers
// cut off mid-body, connections refused) and started again on the same port.
class EngineProcess {
 public:
  explicit EngineProcess(int port) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      const std::string portText = std::to_string(port);
      ::execl(KELVARN_ENGINE_BINARY, KELVARN_ENGINE_BINARY, "--port", portText.c_str(), "--latency", "150",
              "--page-bytes", "300000", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    char line[128] = {};
    std::size_t used = 0;
    while (used + 1 < sizeof line && ::read(out[0], line + used, 1) == 1 && line[used] != '\n') ++used;
    ::close(out[0]);
    base_ = std::string(line, used);
  }
  ~EngineProcess() { Kill(); }
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  const std::string& Base() const { return base_; }
  int Port() const { return base_.empty() ? -1 : std::atoi(base_.c_str() + base_.rfind(':') + 1); }

 private:
  pid_t pid_ = -1;
  std::string base_;
};

TEST(HarvesterFaultTest, EngineKilledAndRestartedMidRun) {
  auto engine = std::make_unique<EngineProcess>(0);
  ASSERT_GT(engine->Port(), 0) << "no engine";
  const int port = engine->Port();
  HeadlessWindow w;
  Harvester::Options o;
  o.programDir = "/tmp/";
  o.searchBase = engine->Base();
  o.timeoutMs = 2000;
  o.postSpacingMs = 30;  // seeds keep coming for 1.8 s, past the restart
  o.retryDelayMs = 300;  // after the restart
  Harvester h(w.Components(), w.ui, w.dialogs, o);
  TextArray seeds;
  for (int i = 0; i < 60; ++i) seeds.push_back("seed" + std::to_string(i));
  for (const Text& seed : seeds) w.列表框_关键字.AddItem(seed);
  w.编辑框_工作线程.SetContent("8");
  w.编辑框_采集级别.SetContent("1");
  w.ui.Invoke([&] { h.OnStartButton(); });
  ASSERT_TRUE(WaitUntil([&] { return w.列表框_相关关键字.ItemCount() >= 20; }));
  engine->Kill();  // the requests in flight are cut off, the next ones refused
  const std::int32_t atKill = w.列表框_相关关键字.ItemCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // seeds keep coming: some are refused
  engine = std::make_unique<EngineProcess>(port);
  ASSERT_EQ(port, engine->Port());
  ASSERT_TRUE(WaitUntil([&] { return w.按钮_开始采集.Caption() == kStart; }, std::chrono::seconds(60)));
  EXPECT_EQ(0, h.PendingTasks());

  // The pages cut off or refused while it was down were asked for again
  // once it was back: every page came whole, once.
  std::multiset<Text> collected, expected;
  for (std::int32_t i = 0; i < w.列表框_相关关键字.ItemCount(); ++i) collected.insert(w.列表框_相关关键字.ItemText(i));
  for (const Text& k : seeds) {
    for (Text& p : OfflineEngine::PhrasesFor(k, 10)) expected.insert(std::move(p));
  }
  EXPECT_TRUE(expected == collected) << collected.size() << " phrases, " << atKill << " at the kill";
  EXPECT_EQ((PageCounts{60, 0, 0, 0, 0}), h.RunPageCounts());
  EXPECT_EQ(Done(600), w.状态条1.PanelText(0));
}

// A server that leaves bytes on its connections: after every answer an
// unasked response, either in the same write (a body longer than its
// Content-Length) or 2 ms later. Whatever the client does with connections,
// every keyword gets exactly its own page's phrases and nothing else.
TEST(HarvesterFaultTest, BytesLeftOnAConnectionNeverReachAnotherKeyword) {
  const auto response = [](const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
  };
  const std::string invented = response("<div id=\"rs\">" + Utf8ToGbk("相关搜索") +
                                        "</th><th><a href=\"/s?wd=x\">invented</a></th></tr></table></div>");
  for (const bool sameWrite : {false, true}) {
    testing::KeepAliveServer server([&](const std::string& target) -> std::vector<std::string> {
      Text keyword;
      for (std::size_t i = target.find("wd=") + 3; i < target.size(); ++i) {
        keyword += target[i] != '%' ? target[i] : static_cast<char>(std::stoi(target.substr(i + 1, 2), nullptr, 16));
        if (target[i] == '%') i += 2;
      }
      const std::string page = response(OfflineEngine::PageFor(keyword, {}, EngineFault::kNone));
      if (sameWrite) return {page + invented};
      return {page, invented};
    });
    HeadlessWindow w;
    Harvester::Options o;
    o.programDir = "/tmp/";
    o.searchBase = server.Base();
    Harvester h(w.Components(), w.ui, w.dialogs, o);
    std::multiset<Text> expected;
    for (int i = 0; i < 40; ++i) {
      const Text seed = "seed" + std::to_string(i);
      w.列表框_关键字.AddItem(seed);
      for (Text& p : OfflineEngine::PhrasesFor(seed, 10)) expected.insert(std::move(p));
    }
    w.编辑框_工作线程.SetContent("3");  // few workers: many requests per worker
    w.编辑框_采集级别.SetContent("1");
    w.ui.Invoke([&] { h.OnStartButton(); });
    ASSERT_TRUE(WaitUntil([&] { return w.按钮_开始采集.Caption() == kStart; }));
    std::multiset<Text> collected;
    for (std::int32_t i = 0; i < w.列表框_相关关键字.ItemCount(); ++i)
      collected.insert(w.列表框_相关关键字.ItemText(i));
    EXPECT_EQ(0u, collected.count("invented")) << (sameWrite ? "same write" : "2 ms later");
    EXPECT_TRUE(expected == collected) << collected.size() << " phrases, " << expected.size() << " expected";
    EXPECT_EQ(40, server.Requests());
    EXPECT_EQ(40, server.Connections());  // one each: none is reused
  }
}

// The engine turns away requests without its cookie and sets it on every
// answer. Both seeds are turned away; the run holds, then asks for them again
// with the cookie they were given, and each page counts once.
TEST(HarvesterFaultTest, CookiesGoFromOneTaskToTheNext) {
  EngineOptions options;
  options.requireCookie = true;
  options.latencyMs = 50;  // both seeds are asked for before the first answer
  TwoSeedRun run(options, [](Harvester::Options& o) { o.holdMs = 50; });
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(20, run.w.列表框_相关关键字.ItemCount());
  EXPECT_EQ((PageCounts{2, 0, 0, 0, 0}), run.h->RunPageCounts());
  EXPECT_EQ(Done(20), run.w.状态条1.PanelText(0));
  EXPECT_EQ(2u, run.engine.BlockedCount());
  EXPECT_EQ(2u, run.engine.CookieCount());
}

// The engine blocks for 200 ms after 5 requests. The run holds and ends with
// exactly the phrases of an unblocked harvest: no page is lost, none counted,
// added or posted twice.
TEST(HarvesterFaultTest, ABlockingEngineGivesTheSamePhrasesAsAnOpenOne) {
  EngineOptions options;
  options.blockAfter = 5;
  options.blockMs = 200;
  TwoSeedRun run(
      options, [](Harvester::Options& o) { o.holdMs = 100; }, "2");
  ASSERT_TRUE(run.ended);
  const TextArray expected = TwoSeedRun::DepthTwoPhrases();
  EXPECT_EQ(expected, run.Collected());
  EXPECT_EQ((PageCounts{22, 0, 0, 0, 0}), run.h->RunPageCounts());
  EXPECT_EQ(2 + 20 + 200, run.h->TaskRecordCount());
  EXPECT_GE(run.engine.BlockedCount(), 1u);
  EXPECT_EQ(22u + run.engine.BlockedCount(), run.engine.RequestCount());
}

// A verification page every time: the run holds five times, each twice as
// long, then ends as if stopped and says why; a stop during a hold ends it
// at once.
TEST(HarvesterFaultTest, HoldsEndTheRunOrAStopEndsThem) {
  TwoSeedRun run(TwoSeedRun::Faulty(EngineFault::kVerify), [](Harvester::Options& o) { o.holdMs = 10; });
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(Utf8ToGbk("采集已停止,搜索引擎要求安全验证;问题页面:验证页(2)"), run.w.状态条1.PanelText(0));
  EXPECT_EQ((PageCounts{0, 0, 2, 0, 0}), run.h->RunPageCounts());
  EXPECT_GE(run.engine.RequestCount(), 6u);   // the first request and one after each hold, for one
  EXPECT_LE(run.engine.RequestCount(), 12u);  // or both seeds
  EXPECT_EQ(0, run.h->PendingTasks());

  TwoSeedRun held(TwoSeedRun::Faulty(EngineFault::kVerify), {}, "1", false);  // a 60 s hold
  ASSERT_TRUE(
      WaitUntil([&] { return held.w.状态条1.ProgressText().find(Utf8ToGbk("等待验证至")) != std::string::npos; }));
  const std::uint64_t requests = held.engine.RequestCount();  // one or both seeds: no more in a hold
  const auto stopAt = Clock::now();
  held.w.ui.Invoke([&] { held.h->OnStartButton(); });
  EXPECT_EQ(kStart, held.w.按钮_开始采集.Caption());
  EXPECT_FALSE(held.h->HoldEnd().has_value());
  held.h.reset();  // waits for the monitor to leave
  EXPECT_LT(Clock::now() - stopAt, std::chrono::seconds(2));
  EXPECT_EQ(requests, held.engine.RequestCount());
}

// A 5xx page is asked for again, at most twice more; a page that heals
// counts once, as what it finally gave.
TEST(HarvesterFaultTest, RetriesAreBoundedAndCountOnce) {
  TwoSeedRun broken(TwoSeedRun::Faulty(EngineFault::kErrorStatus));
  ASSERT_TRUE(broken.ended);
  EXPECT_EQ(6u, broken.engine.RequestCount());
  EXPECT_EQ((PageCounts{0, 0, 0, 2, 0}), broken.h->RunPageCounts());
  EngineOptions healing;
  healing.failFirst = 1;
  TwoSeedRun healed(healing);
  ASSERT_TRUE(healed.ended);
  EXPECT_EQ(3u, healed.engine.RequestCount());
  EXPECT_EQ((PageCounts{2, 0, 0, 0, 0}), healed.h->RunPageCounts());
  EXPECT_EQ(Done(20), healed.w.状态条1.PanelText(0));
}

class SlowHarvesterTest : public HarvesterTest {
 protected:
  void SetUp() override { StartEngineWithLatency(3000); }
  void StartEngineWithLatency(int ms) {
    harvester_.reset();
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
    EngineOptions slow;
    slow.latencyMs = ms;
    Start(slow);
  }
};

TEST_F(SlowHarvesterTest, StopCutsOffTwentyBusyWorkers) {
  for (int i = 0; i < 40; ++i) w_.列表框_关键字.AddItem("seed" + std::to_string(i));
  Settings(20, 1);
  Click();
  EXPECT_EQ(kStop, w_.按钮_开始采集.Caption());
  ASSERT_TRUE(WaitUntil([&] { return engine_->RequestCount() >= 20; }));  // 20 requests in flight
  const auto before = Clock::now();
  Click();  // stop
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(1));
  EXPECT_EQ(kStart, w_.按钮_开始采集.Caption());
  const Text statusAtStop = w_.状态条1.PanelText(0);
  // The engine would answer after 3 s: give the cut-off tasks that long and more.
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  EXPECT_EQ(0, Phrases());
  EXPECT_EQ(statusAtStop, w_.状态条1.PanelText(0));
  EXPECT_EQ(kStart, w_.按钮_开始采集.Caption());

  // The next run counts exactly its own phrases.
  w_.列表框_关键字.ClearItems();
  w_.列表框_关键字.AddItem("fresh");
  RunToTheEnd();
  EXPECT_EQ(10, Phrases());
  EXPECT_EQ(Done(10), w_.状态条1.PanelText(0));
}

// Two hundred start/stop cycles with 20 workers inside slow requests: every
// stop returns promptly, nothing of a stopped run lands afterwards, and a run
// that completes counts exactly its own phrases.
TEST_F(SlowHarvesterTest, TwoHundredStartStopCycles) {
  StartEngineWithLatency(200);
  for (int i = 0; i < 40; ++i) w_.列表框_关键字.AddItem("seed" + std::to_string(i));
  Settings(20, 2);
  int lateAdditions = 0;
  auto slowest = std::chrono::nanoseconds(0);
  for (int cycle = 0; cycle < 200; ++cycle) {
    const std::uint64_t before = engine_->RequestCount();
    Click();  // start
    ASSERT_TRUE(WaitUntil([&] { return engine_->RequestCount() >= before + 5; }));
    const auto stopAt = Clock::now();
    Click();  // stop
    slowest = std::max(slowest, Clock::now() - stopAt);
    const std::int32_t atStop = Phrases();
    std::this_thread::sleep_for(std::chrono::milliseconds(cycle % 20 == 0 ? 300 : 2));
    lateAdditions += Phrases() != atStop;
    ASSERT_EQ(kStart, w_.按钮_开始采集.Caption());
  }
  EXPECT_EQ(0, lateAdditions);
  EXPECT_LT(slowest, std::chrono::seconds(1));
  std::printf("slowest stop of 200: %.1f ms\n", std::chrono::duration<double, std::milli>(slowest).count());
  // A last run that completes counts only its own phrases.
  w_.列表框_相关关键字.ClearItems();
  w_.列表框_关键字.ClearItems();
  w_.列表框_关键字.AddItem("last");
  Settings(20, 1);
  RunToTheEnd();
  EXPECT_EQ(10, Phrases());
  EXPECT_EQ(Done(10), w_.状态条1.PanelText(0));
}

// Close: stop, ask, open the page on OK, end with exit code 0 either way.
void CloseDuringARun(bool ok) {
  static HeadlessFramePlatform platform;
  InitFrame(platform);
  OfflineEngine engine(EngineOptions{0, 10, 2000});
  engine.Start();
  HeadlessWindow w;
  Harvester::Options o;
  o.programDir = "/tmp/";
  o.searchBase = engine.BaseUrl();
  o.openUrl = [](std::string_view url) {
    std::fprintf(stderr, "opened %.*s\n", static_cast<int>(url.size()), url.data());
  };
  Harvester h(w.Components(), w.ui, w.dialogs, o);
  w.dialogs.messageAnswer = ok ? kIdOk : kIdCancel;
  w.列表框_关键字.AddItem("x");
  w.编辑框_工作线程.SetContent("2");
  w.编辑框_采集级别.SetContent("1");
  w.ui.Invoke([&] { h.OnStartButton(); });
  while (engine.RequestCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  SetExitCleanup([&] { std::fprintf(stderr, "asked: %s\n", GbkToUtf8(w.dialogs.messagesShown.at(0)).c_str()); });
  w.ui.Invoke([&] { h.Close(); });
}

TEST(HarvesterCloseTest, CloseDuringARunEndsWithExitCodeZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      CloseDuringARun(true), ::testing::ExitedWithCode(0),
      ::testing::MatchesRegex("opened https://www.example.com/veskor\nasked: 是否进入Veskor官方查看最新作品\\?\n"));
  EXPECT_EXIT(CloseDuringARun(false), ::testing::ExitedWithCode(0),
              ::testing::MatchesRegex("asked: 是否进入Veskor官方查看最新作品\\?\n"));
}

// Each binding leaves the process on exactly one processor it was allowed,
// and the command line's keeps the one it runs on.
void BindAndCheck(void (*bind)(), int expected) {
  bind();
  cpu_set_t now;
  CPU_ZERO(&now);
  if (sched_getaffinity(0, sizeof now, &now) != 0 || CPU_COUNT(&now) != 1) _exit(1);
  if (expected >= 0 && !CPU_ISSET(expected, &now)) _exit(2);
  if (!CPU_ISSET(sched_getcpu(), &now)) _exit(3);
  _exit(0);
}

TEST(ProcessorBindingTest, OneAllowedProcessor) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  int first = -1, last = -1;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &allowed)) last = cpu, first = first < 0 ? cpu : first;
  }
  EXPECT_EXIT(BindAndCheck(&BindToFirstProcessor, first), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(BindAndCheck(&BindToCurrentProcessor, -1), ::testing::ExitedWithCode(0), "");
  // Started on the last processor only (as `taskset` would), it stays there.
  EXPECT_EXIT(
      {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(last, &one);
        sched_setaffinity(0, sizeof one, &one);
        BindAndCheck(&BindToCurrentProcessor, last);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kelvarn
