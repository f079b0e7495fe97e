// What the harvester tests share: a harvest, end to end and headless,
// against the offline search engine, and the helpers to drive one.
#pragma once

#include "app/harvester.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>

#include "app/headless_window.h"
#include "tools/engine/offline_engine.h"

// In a named namespace: every file's tests of a suite must share one fixture
// class.
namespace kelvarn {

using Clock = std::chrono::steady_clock;

inline const Text kStart = Utf8ToGbk("开始采集");
inline const Text kStop = Utf8ToGbk("停止留言");
inline const Text kHarvesting = Utf8ToGbk("正在采集...");

// The text a run ends with; with `distinct`, the list holds repeats.
inline Text Done(int n, int distinct = -1) {
  return Utf8ToGbk("采集完成,空闲等待中,相关关键字共(" + std::to_string(n) + ")个" +
                   (distinct < 0 ? "" : ",不重复(" + std::to_string(distinct) + ")个"));
}

// A fresh directory for settings and files, ending in "/", and its removal.
inline std::string MakeTemporaryDirectory() {
  static int made = 0;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (;;) {
    const std::filesystem::path dir =
        base / ("kelvarn-harvest-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                std::to_string(made++));
    if (std::filesystem::create_directory(dir)) return dir.string() + "/";
  }
}
inline void RemoveDirectory(const std::string& dir) {
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}
// A directory that settings may be read from, and written to, by any test.
inline const std::string& SharedSettingsDirectory() {
  static const std::string dir = std::filesystem::temp_directory_path().string() + "/";
  return dir;
}

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

  void Start(const EngineOptions& options) {
    engine_ = std::make_unique<OfflineEngine>(options);
    ASSERT_GT(engine_->Start(), 0);
    dir_ = MakeTemporaryDirectory();
    Harvester::Options o;
    o.settingsDir = dir_;
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
    RemoveDirectory(dir_);
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

}  // namespace kelvarn
