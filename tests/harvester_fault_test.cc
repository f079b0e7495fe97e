// Harvests against hostile and broken servers: faulty pages, retries,
// cookies, blocks and verification holds, a killed engine.
#include "tests/harvester_fixture.h"

#ifdef _WIN32
// Winsock (for raw_server.h) before windows.h, and psapi.h after it.
#include <winsock2.h>

#include <windows.h>

#include <psapi.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <set>

#include "net/http_client.h"
#include "tests/proxies.h"
#include "tests/raw_server.h"

namespace kelvarn {
namespace {

// The two seeds' pages list one phrase twice: 19 of their 20 differ.
constexpr int kTwoSeedsDistinct = 19;

// Seeds "a" and "b" harvested at depth 1 with 4 workers, to the end of the
// run, against an engine whose every answer has the fault given.
// Seeds "a" and "b" on 4 workers against an engine of its own; retries come
// after 10 ms, not 1 s.
struct TwoSeedRun {
  explicit TwoSeedRun(EngineOptions engineOptions, const std::function<void(Harvester::Options&)>& tune = {},
                      const char* depth = "1", bool waitForTheEnd = true)
      : engine(std::move(engineOptions)) {
    if (engine.Start() <= 0) return;
    Harvester::Options o;
    o.settingsDir = SharedSettingsDirectory();
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
// encoding and as untidily as real pages write it, gives the same phrases,
// in GB18030 (here plain GBK).
TEST(HarvesterFaultTest, EveryPageFormGivesTheSamePhrases) {
  const TextArray expected = TwoSeedRun::DepthTwoPhrases();
  for (const EngineLayout layout : {EngineLayout::k2008, EngineLayout::k2018, EngineLayout::k2021, EngineLayout::k2022,
                                    EngineLayout::kMobile, EngineLayout::kMixed}) {
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
    // The stall and the trickle end at 400 ms, not after 15 s; the others
    // keep time enough for a loaded machine to follow thirty redirects.
    const bool slow = c.fault == EngineFault::kStall || c.fault == EngineFault::kTrickle;
    TwoSeedRun run(TwoSeedRun::Faulty(c.fault), [slow](Harvester::Options& o) { o.timeoutMs = slow ? 400 : 5000; });
    ASSERT_TRUE(run.ended) << static_cast<int>(c.fault);
    EXPECT_EQ(c.phrases, run.w.列表框_相关关键字.ItemCount()) << static_cast<int>(c.fault);
    EXPECT_EQ(0, run.h->PendingTasks());
    PageCounts expected{};
    expected[static_cast<std::size_t>(c.outcome)] = 2;
    EXPECT_EQ(expected, run.h->RunPageCounts()) << static_cast<int>(c.fault);
    EXPECT_EQ(Done(c.phrases, c.phrases > 0 ? kTwoSeedsDistinct : -1) + Utf8ToGbk(c.problems),
              run.w.状态条1.PanelText(0))
        << static_cast<int>(c.fault);
  }
}

// Two seeds whose pages are 200 MiB each: the client stops reading at its cap,
// whose first bytes are a whole good page.
TEST(HarvesterFaultTest, HugePagesKeepMemoryBounded) {
  TwoSeedRun run(TwoSeedRun::Faulty(EngineFault::kHuge));
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(Done(20, kTwoSeedsDistinct), run.w.状态条1.PanelText(0));
  EXPECT_EQ(0, run.h->PendingTasks());
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
  const double peakKib = static_cast<double>(counters.PeakWorkingSetSize) / 1024.0;
#else
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const double peakKib = static_cast<double>(usage.ru_maxrss);
#endif
  std::printf("peak memory with two 200 MiB pages: %.0f MiB\n", peakKib / 1024.0);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_LT(peakKib, 160 * 1024);  // a single whole page would be 200 MiB
#endif
}

#ifdef _WIN32
// Windows has no engine program to kill: the engine is stopped in the middle
// of a run (connections closed, the next ones refused) and started again on
// the same port.
class EngineProcess {
 public:
  explicit EngineProcess(int port) {
    EngineOptions options;
    options.port = port;
    options.latencyMs = 150;
    options.pageBytes = 300000;
    engine_ = std::make_unique<OfflineEngine>(options);
    if (engine_->Start() <= 0) engine_.reset();
  }
  void Kill() { engine_.reset(); }
  std::string Base() const { return engine_ ? engine_->BaseUrl() : std::string(); }
  int Port() const { return engine_ ? engine_->Port() : -1; }

 private:
  std::unique_ptr<OfflineEngine> engine_;
};
#else
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
#endif

TEST(HarvesterFaultTest, EngineKilledAndRestartedMidRun) {
  auto engine = std::make_unique<EngineProcess>(0);
  ASSERT_GT(engine->Port(), 0) << "no engine";
  const int port = engine->Port();
  HeadlessWindow w;
  Harvester::Options o;
  o.settingsDir = SharedSettingsDirectory();
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
  EXPECT_EQ(Done(600, 494), w.状态条1.PanelText(0));
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
    o.settingsDir = SharedSettingsDirectory();
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
  EXPECT_EQ(Done(20, kTwoSeedsDistinct), run.w.状态条1.PanelText(0));
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
  // Both seeds are asked for before the first answer; holds of 50 ms,
  // doubling.
  EngineOptions verify = TwoSeedRun::Faulty(EngineFault::kVerify);
  verify.latencyMs = 200;
  TwoSeedRun run(verify, [](Harvester::Options& o) { o.holdMs = 50; });
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(Utf8ToGbk("采集已停止,搜索引擎要求安全验证;问题页面:验证页(2)"), run.w.状态条1.PanelText(0));
  EXPECT_EQ((PageCounts{0, 0, 2, 0, 0}), run.h->RunPageCounts());
  EXPECT_EQ(2u + 5u, run.engine.RequestCount());  // both seeds, then one probe after each hold
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

// The engine's suggestions as a source of their own, or beside the related
// searches: every keyword is asked from each source, through the same
// outcomes, and a suggestion answer that is no list, an empty one or the
// verification page counts as a page of that kind would.
TEST(HarvesterFaultTest, SuggestionsAreASecondSource) {
  using Source = TextArray (*)(std::string_view, int);
  const std::vector<Source> suggest{&OfflineEngine::SuggestionsFor}, both{&OfflineEngine::PhrasesFor, suggest[0]};
  const auto tree = [](const std::vector<Source>& sources) {  // seeds a and b at depth 2, sorted
    TextArray phrases;
    for (const Text seed : {"a", "b"}) {
      for (const Source first : sources) {
        for (const Text& phrase : first(seed, 10)) {
          phrases.push_back(phrase);
          for (const Source second : sources) {
            for (const Text& deeper : second(phrase, 10)) phrases.push_back(deeper);
          }
        }
      }
    }
    std::sort(phrases.begin(), phrases.end());
    return phrases;
  };
  struct Case {
    std::vector<PhraseSource> sources;
    const char* depth;
    EngineOptions engine;
    TextArray phrases;
    PageCounts counts;
    std::uint64_t searches, suggestions;
    const char* status;  // how the panel's text begins
  };
  EngineOptions empty, verify = TwoSeedRun::Faulty(EngineFault::kVerify);
  empty.phrasesPerPage = 0;
  const std::vector<PhraseSource> suggested{PhraseSource::kSuggest};
  for (const Case& c : {
           Case{suggested, "2", {}, tree(suggest), {22, 0, 0, 0, 0}, 0, 22, "采集完成"},
           Case{{PhraseSource::kRelated, PhraseSource::kSuggest},
                "2",
                {},
                tree(both),
                {84, 0, 0, 0, 0},
                42,
                42,
                "采集完成"},
           Case{suggested, "1", empty, {}, {0, 2, 0, 0, 0}, 0, 2, "采集完成"},
           Case{suggested, "1", TwoSeedRun::Faulty(EngineFault::kGarbage), {}, {0, 0, 0, 0, 2}, 0, 6, "采集完成"},
           Case{suggested, "1", verify, {}, {}, 0, 0, "采集已停止"},
       }) {
    TwoSeedRun run(
        c.engine,
        [&](Harvester::Options& o) {
          o.sources = c.sources;
          o.maxHolds = 0;
        },
        c.depth);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(c.phrases, run.Collected()) << c.sources.size() << c.depth;
    EXPECT_TRUE(run.w.状态条1.PanelText(0).starts_with(Utf8ToGbk(c.status))) << GbkToUtf8(run.w.状态条1.PanelText(0));
    if (c.status == std::string_view("采集已停止")) continue;  // how many pages were turned away depends on timing
    EXPECT_EQ(c.counts, run.h->RunPageCounts()) << c.sources.size() << c.depth;
    EXPECT_EQ(c.searches, run.engine.RequestCount());
    EXPECT_EQ(c.suggestions, run.engine.SuggestCount());
  }
}

// Against the engine's model of a limit, in simulated time: the rate found
// by itself keeps most of what each allowance gives after the first two
// minutes, for a verification page in a hundred requests at most. Holds are
// the run's: 60 s, doubling while the probe is turned away, the next block's
// first a quarter shorter when one sufficed.
TEST(PacingTest, AutoFindsMostOfTheAllowance) {
  for (const char* policy : {"rate=4,burst=20,penalty=30", "rate=4,burst=5,penalty=30", "rate=20,burst=50,penalty=30",
                             "rate=50,burst=200,penalty=30"}) {
    EngineLimits engine(*ParseEnginePolicy(policy));
    const double allowed = ParseEnginePolicy(policy)->rate;
    RateFinder finder;
    const auto t0 = PaceClock::now();
    std::int64_t late = 0, verification = 0, requests = 0;  // late: pages after two minutes
    double tokens = 0, hold = 60, firstHold = 60, held = 0;
    bool firstProbe = true;
    std::optional<double> holdUntil;
    constexpr double kStep = 0.001;
    for (double t = 0; t < 480; t += kStep) {
      const auto now = t0 + std::chrono::duration_cast<PaceClock::duration>(std::chrono::duration<double>(t));
      const auto ask = [&] {
        ++requests;
        const bool served = engine.Admit("k", true, now);
        if (!served) ++verification;
        if (served && t >= 120) ++late;
        return served;
      };
      if (holdUntil) {
        if (t < *holdUntil) continue;
        if (!ask()) {
          firstProbe = false, hold *= 2, held += hold, holdUntil = t + hold;
          continue;
        }
        holdUntil.reset();
        firstHold = firstProbe ? std::max(15.0, held * 0.75) : held;
        finder.Resumed(now);
        tokens = 0;
        continue;
      }
      tokens = std::min(1.0, tokens + kStep * finder.PerSecond());
      if (tokens < 1) continue;
      tokens -= 1;
      finder.Sent(now);
      const bool served = ask();
      finder.Answered(now, !served);
      if (!served) hold = held = firstHold, firstProbe = true, holdUntil = t + hold;
    }
    EXPECT_GE(static_cast<double>(late), 0.85 * allowed * 360) << policy;
    EXPECT_LE(static_cast<double>(verification), 0.01 * static_cast<double>(requests)) << policy;
    EXPECT_LT(finder.PerSecond(), allowed) << policy;
  }
}

// Each phrase once compares phrases as a user would, in little memory.
TEST(PacingTest, RepeatsAreFoundInLittleMemory) {
  EXPECT_EQ(FoldPhrase(Utf8ToGbk("ＡＢＣ　手机  Pro")), FoldPhrase(Utf8ToGbk(" abc 手机 pro ")));
  EXPECT_NE(FoldPhrase(Utf8ToGbk("手机壳")), FoldPhrase(Utf8ToGbk("手机 壳")));
  PhraseSet set;
  std::size_t text = 0;
  for (int i = 0; i < 200000; ++i) {
    const std::string phrase = FoldPhrase(Utf8ToGbk("手机" + std::to_string(i)));
    text += phrase.size();
    const PhraseSet::Seen seen = set.Note(phrase, true, i % 2 == 0);
    ASSERT_FALSE(seen.listed || seen.asked);
  }
  const PhraseSet::Seen belowDepth = set.Note(FoldPhrase(Utf8ToGbk("手机１２３")), true, true);
  EXPECT_TRUE(belowDepth.listed && !belowDepth.asked);
  EXPECT_TRUE(set.Note(FoldPhrase(Utf8ToGbk("手机123")), true, false).asked);
  EXPECT_EQ(200000u, set.Size());
  EXPECT_LE(set.MemoryBytes() - text, 64u * 200000);
}

// Filters compare whole characters: a GBK trail byte that reads as an ASCII
// letter matches no word, and lengths count characters.
TEST(PacingTest, FiltersMatchWholeCharacters) {
  const auto g = [](const char* utf8) { return Utf8ToGbk(utf8); };
  struct Case {
    FilterRules rules;
    const char* seed;
    std::vector<std::pair<std::string, bool>> phrases;  // GBK, and whether it passes
  };
  const std::string trailA = "\xB0\x61";  // a character whose second byte is 'a'
  const std::vector<Case> cases = {
      {{.exclude = FilterWords(g("A，手机 , 价格"))},
       "",
       {{trailA, true}, {trailA + "a", false}, {g("ａ"), false}, {g("手机壳"), false}, {g("价 格"), true}}},
      {{.include = {"a"}}, "", {{trailA, false}, {g("Ａpp"), true}}},
      {{.mustContain = MustContain::kSeed}, "手机 价格", {{g("手机价格"), false}, {g("新手机  价格"), true}}},
      {{.mustContain = MustContain::kRootWords}, "手机，价格 x", {{g("价格表"), true}, {g("x光"), false}}},
      {{.mustContain = MustContain::kRootWords}, "手机价格", {{g("手机"), false}, {g("手机价格表"), true}}},
      {{.minChars = 3, .maxChars = 4},
       "",
       {{g("手机"), false},
        {g("手机a"), true},
        {g("手机价格"), true},
        {"\x81\x30\x81\x30xyz", true},
        {g("手机价格a"), false}}},
  };
  for (const Case& c : cases) {
    const PhraseFilter filter(c.rules);
    for (const auto& [phrase, passes] : c.phrases)
      EXPECT_EQ(passes, filter.Passes(phrase, g(c.seed))) << GbkToUtf8(phrase) << " under " << c.seed;
  }
  EXPECT_EQ((TextArray{g("停用"), "ab", g("广告")}), FilterWordsFile("\xEF\xBB\xBF停用\n ab \r\n\n广告"));
  EXPECT_EQ((TextArray{g("停用"), g("广告")}), FilterWordsFile(g("停用\r\n广告\r\n")));
}

// Paced at 90% of what the engine allows, a run draws no verification page
// even where the engine's burst is far smaller than the workers, and gives
// what an open engine gives.
TEST(PacingTest, AFixedRateUnderTheAllowanceIsNeverTurnedAway) {
  EngineOptions options;
  options.policy = *ParseEnginePolicy("rate=20,burst=3,penalty=5");
  TwoSeedRun run(
      options,
      [](Harvester::Options& o) {
        o.pace = Pace{Pace::Mode::kFixed, 1080};
      },
      "2");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(TwoSeedRun::DepthTwoPhrases(), run.Collected());
  EXPECT_EQ((PageCounts{22, 0, 0, 0, 0}), run.h->RunPageCounts());
  EXPECT_EQ(0u, run.engine.BlockedCount());
}

// Four identities: direct, a proxy, a proxy whose address the engine turns
// away, and a dead proxy. The blocked one rests and the dead one rests
// longer each time, while the other two ask for their pages: the run gets
// everything, each page counted once, and no failure through the dead proxy
// spends a page's retry.
TEST(PacingTest, ABlockedOrDeadIdentityRestsWhileTheOthersGoOn) {
  testing::Proxies proxies({.http = 3});
  if (proxies.Absent()) GTEST_SKIP() << proxies.Error();
  ASSERT_EQ("", proxies.Error());
  std::vector<std::shared_ptr<HttpIdentity>> identities{nullptr};
  for (std::size_t i = 0; i < 3; ++i)
    identities.push_back(HttpIdentity::Create(ParseProxyUrl(proxies.Url(i)).proxy).identity);
#ifdef _WIN32
  GTEST_SKIP() << "one proxy under Wine";
#else
  proxies.Kill(2);
  EngineOptions options;
  options.blockFrom = testing::Proxies::From(1);
  TwoSeedRun run(
      options,
      [&](Harvester::Options& o) {
        o.identities = identities;
        o.holdMs = o.failRestMs = 200;
        o.timeoutMs = 5000;
        o.retries = 0;
      },
      "2");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(TwoSeedRun::DepthTwoPhrases(), run.Collected());
  EXPECT_EQ((PageCounts{22, 0, 0, 0, 0}), run.h->RunPageCounts());
  using State = Harvester::IdentityProgress::State;
  const std::vector<Harvester::IdentityProgress> seen = run.h->Identities();
  ASSERT_EQ(4u, seen.size());
  EXPECT_EQ("direct", seen[0].name);
  EXPECT_EQ(22, seen[0].served + seen[1].served);
  EXPECT_TRUE(seen[2].served == 0 && seen[2].verification > 0 && seen[2].state != State::kAsking);
  EXPECT_TRUE(seen[3].served == 0 && seen[3].failures > 0 && seen[3].state == State::kFailing);
  EXPECT_EQ("127.0.0.1:" + std::to_string(proxies.Port(2)), seen[3].name);
  EXPECT_THAT(seen[3].lastError, ::testing::Not(::testing::HasSubstr(testing::Proxies::kPassword)));

  // While every live identity holds, the dead proxy's rests end in probes
  // that fail: it rests again, and the pages wait for the live ones.
  EngineOptions blocking;
  blocking.blockAfter = 3;
  blocking.blockMs = 1000;
  TwoSeedRun held(
      blocking,
      [&](Harvester::Options& o) {
        o.identities = {nullptr, identities[3]};
        o.holdMs = 400;
        o.failRestMs = 50;
        o.timeoutMs = 5000;
        o.retries = 0;
      },
      "2");
  ASSERT_TRUE(held.ended);
  EXPECT_EQ((PageCounts{22, 0, 0, 0, 0}), held.h->RunPageCounts());
  EXPECT_GT(held.h->Identities()[1].failures, 1);
#endif
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
  EXPECT_EQ(Done(20, kTwoSeedsDistinct), healed.w.状态条1.PanelText(0));
}

}  // namespace
}  // namespace kelvarn
