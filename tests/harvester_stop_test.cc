// Stopping a run, closing the program during one, and nothing of a stopped
// run landing afterwards.
#include "tests/harvester_fixture.h"

#include <algorithm>

#include "frame/frame.h"
#include "frame/headless_frame.h"

namespace kelvarn {
namespace {

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

class SlowHarvesterTest : public HarvesterTest {
 protected:
  void SetUp() override { StartEngineWithLatency(3000); }
  void StartEngineWithLatency(int ms) {
    harvester_.reset();
    if (!dir_.empty()) RemoveDirectory(dir_);
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
  EXPECT_EQ(kHarvesting, w_.状态条1.PanelText(0));
  const auto before = Clock::now();
  Click();  // stop
  EXPECT_LT(Clock::now() - before, std::chrono::seconds(1));
  EXPECT_EQ(kStart, w_.按钮_开始采集.Caption());
  // The engine would answer after 3 s: give the cut-off tasks that long and more.
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  EXPECT_EQ(0, Phrases());
  EXPECT_EQ(kHarvesting, w_.状态条1.PanelText(0));  // a stop keeps the run's last text
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
  EngineOptions slow;
  slow.latencyMs = 2000;
  OfflineEngine engine(slow);
  engine.Start();
  HeadlessWindow w;
  Harvester::Options o;
  o.settingsDir = SharedSettingsDirectory();
  o.searchBase = engine.BaseUrl();
  o.openUrl = [](std::string_view url) {
    std::fprintf(stderr, "opened %.*s\n", static_cast<int>(url.size()), url.data());
  };
  Harvester h(w.Components(), w.ui, w.dialogs, o);
  w.dialogs.messageAnswer = ok ? kIdOk : kIdCancel;
  // The run must be over before the question is shown.
  w.dialogs.onMessage = [&](const ScriptedDialogs::Message& m) {
    std::fprintf(stderr, "asked: %s (%s, %#x), pool %s\n", GbkToUtf8(m.text).c_str(), GbkToUtf8(m.caption).c_str(),
                 static_cast<unsigned>(m.flags), h.Pool().State() == ThreadPool::kClosed ? "closed" : "running");
  };
  w.列表框_关键字.AddItem("x");
  w.编辑框_工作线程.SetContent("2");
  w.编辑框_采集级别.SetContent("1");
  w.ui.Invoke([&] { h.OnStartButton(); });
  while (engine.RequestCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  SetExitCleanup([] { std::fprintf(stderr, "cleaned up\n"); });
  w.ui.Invoke([&] { h.Close(); });
}

TEST(HarvesterCloseTest, CloseDuringARunEndsWithExitCodeZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string asked = "asked: 是否进入Veskor官方查看最新作品\\? \\(信息：, 0x21\\), pool closed\n";
  EXPECT_EXIT(CloseDuringARun(true), ::testing::ExitedWithCode(0),
              ::testing::MatchesRegex(asked + "opened https://www.example.com/veskor\ncleaned up\n"));
  EXPECT_EXIT(CloseDuringARun(false), ::testing::ExitedWithCode(0), ::testing::MatchesRegex(asked + "cleaned up\n"));
}

// The window journals its runs. One a close cut short is offered at the
// next start; continuing it asks only for what it had not got and ends with
// the list of a run that never stopped. A completed run is offered no more.
TEST(HarvesterJournalTest, ARunCutShortIsContinuedToTheSameList) {
  EngineOptions slow;
  slow.latencyMs = 20;
  OfflineEngine engine(slow);
  ASSERT_GT(engine.Start(), 0);
  const std::string dir = MakeTemporaryDirectory();
  Harvester::Options o;
  o.settingsDir = dir;
  o.searchBase = engine.BaseUrl();
  o.journalRuns = true;
  TextArray expected, level{"a", "b"};
  for (int depth = 1; depth <= 3; ++depth) {
    TextArray next;
    for (const Text& keyword : level) {
      for (Text& phrase : OfflineEngine::PhrasesFor(keyword, 10)) expected.push_back(phrase), next.push_back(phrase);
    }
    level = std::move(next);
  }
  std::sort(expected.begin(), expected.end());
  const auto listed = [](HeadlessWindow& w) {
    TextArray phrases;
    for (std::int32_t i = 0; i < w.列表框_相关关键字.ItemCount(); ++i)
      phrases.push_back(w.列表框_相关关键字.ItemText(i));
    std::sort(phrases.begin(), phrases.end());
    return phrases;
  };
  {
    HeadlessWindow w;
    Harvester h(w.Components(), w.ui, w.dialogs, o);
    w.列表框_关键字.AddItem("a");
    w.列表框_关键字.AddItem("b");
    w.编辑框_工作线程.SetContent("4");
    w.编辑框_采集级别.SetContent("3");
    w.ui.Invoke([&] { h.OnStartButton(); });
    ASSERT_TRUE(WaitUntil([&] { return w.列表框_相关关键字.ItemCount() >= 500; }));
  }  // closed mid-run
  const std::uint64_t before = engine.RequestCount();
  {
    HeadlessWindow w;
    Harvester h(w.Components(), w.ui, w.dialogs, o);
    w.dialogs.messageAnswer = kIdYes;
    w.编辑框_工作线程.SetContent("4");
    w.ui.Invoke([&] { h.OfferToContinue(); });
    ASSERT_EQ(1u, w.dialogs.messagesShown.size());
    EXPECT_TRUE(w.dialogs.messagesShown[0].text.starts_with(Utf8ToGbk("上次采集没有完成(已采")));
    ASSERT_TRUE(WaitUntil([&] { return w.按钮_开始采集.Caption() == kStart; }));
    EXPECT_EQ(Text("3"), w.编辑框_采集级别.Content());
    EXPECT_EQ(expected, listed(w));
    EXPECT_LT(engine.RequestCount() - before, 200u);  // of 222 pages in all
  }
  HeadlessWindow w;
  Harvester h(w.Components(), w.ui, w.dialogs, o);
  w.ui.Invoke([&] { h.OfferToContinue(); });
  EXPECT_TRUE(w.dialogs.messagesShown.empty());
  RemoveDirectory(dir);
}

}  // namespace
}  // namespace kelvarn
