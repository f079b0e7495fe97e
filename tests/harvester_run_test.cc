// Harvests from the seeds to the completion text: depth, counts, progress,
// the pool across runs, and the processor the program runs on.
#include "tests/harvester_fixture.h"

#include <numeric>
#include <system_error>

namespace kelvarn {
namespace {

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
// holds its worker 5 ms a phrase, and a stop ends that hold at once. Each
// phrase, as it is listed, becomes the collected list's current selection.
TEST_F(HarvesterTest, LastLevelPagesHoldTheirWorkerAsLongAsSpacedPosts) {
  Seeds({"a", "b"});
  Settings(1, 1);
  std::vector<std::int32_t> selectedBefore;  // when each phrase arrives
  w_.phrases.added = [&](std::string_view) { selectedBefore.push_back(w_.列表框_相关关键字.CurrentSelection()); };
  const auto start = Clock::now();
  RunToTheEnd();
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2 * 10 * 5));
  EXPECT_EQ(20, Phrases());
  EXPECT_EQ(22, harvester_->TaskRecordCount());
  std::vector<std::int32_t> previous(20);
  std::iota(previous.begin(), previous.end(), -1);
  EXPECT_EQ(previous, selectedBefore);
  EXPECT_EQ(19, w_.列表框_相关关键字.CurrentSelection());
  w_.phrases.added = nullptr;

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

// No thread for the monitor: the click starts nothing; the next click stops
// the run that never began, and the one after starts afresh.
TEST_F(HarvesterTest, NoThreadForTheMonitorStartsNothing) {
  int failures = 1;
  Harvester::Options o;
  o.settingsDir = dir_;
  o.searchBase = engine_->BaseUrl();
  o.startThread = [&failures](std::function<void()> monitor) {
    if (failures-- > 0) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(monitor));
  };
  harvester_.reset();
  harvester_ = std::make_unique<Harvester>(w_.Components(), w_.ui, w_.dialogs, o);
  Seeds({"x"});
  Settings(2, 1);
  w_.状态条1.SetPanelText(0, "before");
  Click();
  EXPECT_EQ(kStop, w_.按钮_开始采集.Caption());
  EXPECT_EQ("before", w_.状态条1.PanelText(0));
  EXPECT_EQ(0, harvester_->TaskRecordCount());
  Click();
  EXPECT_EQ(kStart, w_.按钮_开始采集.Caption());
  RunToTheEnd();
  EXPECT_EQ(Done(10), w_.状态条1.PanelText(0));
  const auto closing = Clock::now();
  harvester_.reset();  // nothing of the failed start is left inside it
  EXPECT_LT(Clock::now() - closing, std::chrono::seconds(2));
}

TEST_F(HarvesterTest, TwoRunsKeepTheFirstPoolAndCountBoth) {
  Seeds({"x"});
  Settings(3, 1);
  RunToTheEnd();
  w_.编辑框_工作线程.SetContent("7");
  RunToTheEnd();
  EXPECT_EQ(3, harvester_->Pool().Create(99));  // still the first pool
  EXPECT_EQ(20, Phrases());
  EXPECT_EQ(Done(20, 10), w_.状态条1.PanelText(0));  // the second run's phrases repeat the first's
}

}  // namespace
}  // namespace kelvarn
