#include "app/harvester.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <ctime>
#include <system_error>

#include "app/journal.h"
#include "app/page_forms.h"
#include "app/proxy_list.h"
#include "app/search_page.h"
#include "app/suggestions.h"
#include "frame/frame.h"
#include "frame/process.h"
#include "net/http_client.h"
#include "text/files.h"

namespace kelvarn {
namespace {

// The system's own texts, in GBK.
constexpr std::string_view kHarvesting = "\xD5\xFD\xD4\xDA\xB2\xC9\xBC\xAF...";  // 正在采集...
// 采集完成,空闲等待中,相关关键字共( N )个
constexpr std::string_view kDoneBefore =
    "\xB2\xC9\xBC\xAF\xCD\xEA\xB3\xC9,\xBF\xD5\xCF\xD0\xB5\xC8\xB4\xFD\xD6\xD0,\xCF\xE0\xB9\xD8\xB9\xD8\xBC\xFC\xD7\xD6"
    "\xB9\xB2(";
constexpr std::string_view kDoneAfter = ")\xB8\xF6";
constexpr std::string_view kDistinctBefore = ",\xB2\xBB\xD6\xD8\xB8\xB4(";      // ,不重复(
constexpr std::string_view kStartCaption = "\xBF\xAA\xCA\xBC\xB2\xC9\xBC\xAF";  // 开始采集
constexpr std::string_view kStopCaption = "\xCD\xA3\xD6\xB9\xC1\xF4\xD1\xD4";   // 停止留言
constexpr std::string_view kKeywordKey = "\xB9\xD8\xBC\xFC\xD7\xD6";            // 关键字
constexpr std::string_view kLevelKey = "\xCF\xD6\xD0\xD0\xBC\xB6\xB1\xF0";      // 现行级别
// 采集已停止,搜索引擎要求安全验证
constexpr std::string_view kBlockedEnd =
    "\xB2\xC9\xBC\xAF\xD2\xD1\xCD\xA3\xD6\xB9,\xCB\xD1\xCB\xF7\xD2\xFD\xC7\xE6\xD2\xAA\xC7\xF3\xB0\xB2\xC8\xAB"
    "\xD1\xE9\xD6\xA4";

// 代理列表文件无法使用,采集未开始:
constexpr std::string_view kBadProxies =
    "\xB4\xFA\xC0\xED\xC1\xD0\xB1\xED\xCE\xC4\xBC\xFE\xCE\xDE\xB7\xA8\xCA\xB9\xD3\xC3,\xB2\xC9\xBC\xAF\xCE\xB4\xBF\xAA"
    "\xCA\xBC:";

// 排除词文件无法读取,采集未开始:
constexpr std::string_view kBadStopWords =
    "\xC5\xC5\xB3\xFD\xB4\xCA\xCE\xC4\xBC\xFE\xCE\xDE\xB7\xA8\xB6\xC1\xC8\xA1,\xB2\xC9\xBC\xAF\xCE\xB4"
    "\xBF\xAA\xCA\xBC:";

// The harvester that tasks and monitors work for, and how many of them are
// inside it: its destructor waits for them to leave.
Mutex liveMutex;
std::condition_variable allLeft;
Harvester* theHarvester GUARDED_BY(liveMutex) = nullptr;
int inside GUARDED_BY(liveMutex) = 0;

// Enters the live harvester, or returns null when there is none.
Harvester* Enter() {
  MutexLock lock(liveMutex);
  if (theHarvester) ++inside;
  return theHarvester;
}

void Leave() {
  MutexLock lock(liveMutex);
  if (--inside == 0) allLeft.notify_all();
}

// Hands freed pages back to the system, as the classic program trimmed its
// working set after every task. A trim walks every heap arena and the pages
// it returns fault back in when used again: after every task it cost 12% of
// a depth-3 harvest's time (bench/harvest_bench), and even once a second 9%
// of its CPU time while a harvest only grows. So it runs at most once a
// second, and only when the heap holds at least 4 MiB that is free.
void TrimWorkingSetNowAndThen() {
  static std::atomic<std::int64_t> lastTrim{0};
  const std::int64_t now =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count();
  std::int64_t last = lastTrim.load();
  if (now - last < 1000 || !lastTrim.compare_exchange_strong(last, now)) return;
  if (FreeHeapBytes() >= (std::size_t{4} << 20)) TrimWorkingSet();
}

void Pause(std::int32_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

// One identity of a run: its way to the engine, its pacing, its holds and
// its rests after failures, and what its requests got. `resting` and `busy`
// are read without the lock; the rest changes under runMutex_.
struct Harvester::Identity {
  Identity(std::shared_ptr<HttpIdentity> way, Pace pace, std::int64_t holdMs)
      : http(std::move(way)),
        name(http ? http->Display() : "direct"),
        pacer(std::make_shared<Pacer>(pace)),
        nextHoldMs(holdMs),
        firstHoldMs(holdMs) {}

  const std::shared_ptr<HttpIdentity> http;  // null: direct, with the process's cookies
  const std::string name;
  const std::shared_ptr<Pacer> pacer;
  std::atomic<bool> resting{false};   // from a rest's start to its end: waiters for the pacer leave
  std::atomic<std::int32_t> busy{0};  // tasks waiting for its pacer or asking through it
  IdentityProgress::State state = IdentityProgress::State::kAsking;
  std::optional<std::chrono::steady_clock::time_point> restEnd;  // holding or failing, until its probe
  bool probeWanted = false;  // its rest is over and nothing waited: the next task is its probe
  std::int32_t probe = -1;   // the record out as its probe
  std::int32_t holdsInARow = 0;
  // What this block's holds came to, whether its first probe was served,
  // and the next holds (see Options::holdMs).
  std::int64_t nextHoldMs, blockHeldMs = 0, firstHoldMs;
  bool firstProbe = true;
  std::int32_t failsInARow = 0;
  std::int64_t nextFailMs = 0;
  std::int64_t served = 0, verification = 0, failures = 0;
  std::string lastError;
};

bool Harvester::NeverWorked(const Identity& identity) {
  return identity.http && identity.served == 0 && identity.verification == 0 && identity.failures > 0;
}

Harvester::Harvester(MainComponents components, UiThread& ui, Dialogs& dialogs, Options options)
    : ui_(components), window_(ui), dialogs_(dialogs), options_(std::move(options)), settings_(options_.settingsDir) {
  // A browser session lent to the tool: the engine trusts a client that
  // carries its cookies.
  HttpClient::LoadCookieFile(options_.settingsDir + "cookies.txt");
  MutexLock lock(liveMutex);
  theHarvester = this;
}

Harvester::~Harvester() {
  {
    MutexLock lock(liveMutex);
    theHarvester = nullptr;  // no task or monitor enters from here on
  }
  StopEverything();
  // Those inside were cut off just now: their requests were woken to abort and
  // they leave at their next look at the generation. The bound guards
  // against a monitor stuck waiting for a window thread that is this thread.
  MutexLock lock(liveMutex);
  liveMutex.WaitFor(allLeft, std::chrono::seconds(5), []() REQUIRES(liveMutex) { return inside == 0; });
}

void Harvester::BeginGeneration() {
  {
    MutexLock lock(runMutex_);
    generation_.fetch_add(1);
    for (const std::shared_ptr<Identity>& identity : identities_)
      identity->restEnd.reset();  // a stop ends a hold at once
  }
  cutOff_.notify_all();
}

void Harvester::PauseInRun(std::int64_t ms, Generation generation) {
  MutexLock lock(runMutex_);
  runMutex_.WaitFor(cutOff_, std::chrono::milliseconds(ms), [&] { return !Current(generation); });
}

void Harvester::OnStartButton() {
  if (ui_.按钮_开始采集.Caption() != kStartCaption) {
    StopEverything();
    RetireRunJournal();  // the user ended it
    ui_.按钮_开始采集.SetCaption(kStartCaption);
    ui_.状态条1.SetProgressText({});
    return;
  }
  std::vector<std::shared_ptr<HttpIdentity>> identities = options_.identities;
  if (identities.empty() && !WindowIdentities(identities)) return;
  std::shared_ptr<const PhraseFilter> filter = options_.filter;
  if (!filter && !WindowFilter(filter)) return;
  if (filter && filter->Empty()) filter.reset();
  ui_.按钮_开始采集.SetCaption(kStopCaption);
  const std::int32_t depth = ToInteger(ui_.编辑框_采集级别.Content());
  // Read, never written: a config.ini the program made stays as it was.
  const std::int32_t retries = options_.retries ? *options_.retries : ToInteger(settings_.Retries());
  // The window's pacing: a value it cannot read paces nothing, as before.
  const Pace pace = options_.pace ? *options_.pace : ParsePace(settings_.Rate()).value_or(Pace{});
  const bool unique = options_.unique ? *options_.unique : settings_.Unique() == "1";
  if (options_.journalRuns) OpenRunJournal(pace, unique);
  Generation generation;
  {
    MutexLock lock(runMutex_);
    generation = generation_.fetch_add(1) + 1;
    harvestDepth_ = depth;
    taskRecords_.Parse("[]");
    std::deque<Origin>().swap(origins_);
    std::deque<PhraseSource>().swap(recordSources_);
    pendingTasks_ = 0;  // whatever a stopped run left, this run counts from 0
    pageCounts_ = {};
    unrecognised_ = 0;
    retries_.clear(), turnedAway_.clear(), heldBack_.clear(), retriesMade_.clear();
    retryLimit_ = std::max(0, retries);
    blockedEnd_ = false;
    identities_.clear(), probes_.clear();
    for (const std::shared_ptr<HttpIdentity>& http : identities) {
      identities_.push_back(std::make_shared<Identity>(http, pace, options_.holdMs));
    }
    if (identities_.empty()) identities_.push_back(std::make_shared<Identity>(nullptr, pace, options_.holdMs));
    asked_.reset();
    if (unique) asked_.emplace();
    resumed_ = std::move(continued_);
    repeats_ = 0;
    filterNeedsSeed_ = filter && filter->NeedsSeed();
    filter_ = std::move(filter);
    filtered_ = 0;
  }
  cutOff_.notify_all();
  workerPool_.Create(ToInteger(ui_.编辑框_工作线程.Content()));
  if (monitorThread_.joinable()) monitorThread_.detach();  // a finished monitor of an earlier run
  if (Harvester* self = Enter()) {
    std::function<void()> monitor = [self, generation] {
      self->RunMonitor(generation);
      Leave();
    };
    try {
      monitorThread_ =
          options_.startThread ? options_.startThread(std::move(monitor)) : std::thread(std::move(monitor));
    } catch (const std::system_error&) {
      // No thread for the monitor: the run never begins. Nothing is seeded or
      // shown; the caption stays "停止留言" until the next click stops the run
      // that never began. The pool stays, idle, for the next start.
      Leave();
    }
  }
}

bool Harvester::WindowIdentities(std::vector<std::shared_ptr<HttpIdentity>>& identities) {
  // Read at every start, so that an edited list counts at once. A list that
  // cannot be used is said, and the run does not begin: asking through the
  // wrong identities would spend the allowance the user meant to spare.
  const Text file = settings_.ProxiesFile();
  if (file.empty()) return true;
  const ProxyList list = ReadProxyList(file);
  MadeIdentities made = MakeIdentities(list.entries, settings_.NoDirect() != "1");
  std::vector<std::string> problems = list.errors;
  if (problems.empty()) problems = made.errors;
  if (problems.empty()) {
    identities = std::move(made.made);
    return true;
  }
  Text message(kBadProxies);
  for (const std::string& problem : problems) message += "\r\n" + problem;
  dialogs_.ShowMessage(message, kMbOk | kMbIconWarning);
  return false;
}

bool Harvester::WindowFilter(std::shared_ptr<const PhraseFilter>& filter) {
  // Read at every start, as the proxies are; a stop-word file that has gone
  // would let through what the user meant to keep out.
  std::optional<FilterRules> rules = settings_.Filter();
  if (!rules) {
    dialogs_.ShowMessage(Text(kBadStopWords) + settings_.Filter(Settings::FilterKey::kExcludeFile),
                         kMbOk | kMbIconWarning);
    return false;
  }
  filter = std::make_shared<const PhraseFilter>(std::move(*rules));
  return true;
}

void Harvester::StopEverything() {
  BeginGeneration();            // the monitor and every task of the run are cut off from here
  HttpClient::WakeTransfers();  // their requests see it now and end
  // The monitor may be waiting for the window thread (this thread): it is let
  // go, not joined, and leaves at its next look at the generation.
  if (monitorThread_.joinable()) monitorThread_.detach();
  workerPool_.Destroy(1);
}

std::vector<PhraseSource> Harvester::Sources() const {
  return options_.sources.empty() ? std::vector<PhraseSource>{PhraseSource::kRelated} : options_.sources;
}

bool Harvester::AppendAndPost(std::string_view keyword, const Value& level, std::int32_t parent, std::int32_t position,
                              PhraseSource source, Generation generation) {
  MutexLock lock(runMutex_);
  if (!Current(generation)) return false;
  JSON record;
  record.Parse("{}");
  record.SetMember(kKeywordKey, Text(keyword));
  record.SetMember(kLevelKey, level);
  taskRecords_.Append(record);
  ++pendingTasks_;
  const std::int32_t index = taskRecords_.GetLength() - 1;
  recordSources_.push_back(source);
  if (KeepsOrigins()) {
    const std::size_t p = static_cast<std::size_t>(parent);
    const std::int32_t seed = parent >= 0 && p < origins_.size() ? origins_[p].seed : index;
    origins_.resize(static_cast<std::size_t>(index) + 1);
    origins_.back() = {parent, seed, position};
  }
  workerPool_.PostWorkItem(&Harvester::HarvestTask, index, static_cast<std::int32_t>(generation));
  return true;
}

void Harvester::RunMonitor(Generation generation) {
  const RunGuard guard(generation_, generation);
  const ScopedRunGuard scope(guard);
  ui_.状态条1.SetPanelText(0, kHarvesting);
  ShowProgress(generation);
  auto lastProgress = std::chrono::steady_clock::now();
  const std::int32_t seeds = ui_.列表框_关键字.ItemCount();
  const std::vector<PhraseSource> sources = Sources();
  for (std::int32_t i = 0; i < seeds; ++i) {
    const Text keyword = ui_.列表框_关键字.ItemText(i);
    {
      MutexLock lock(runMutex_);
      if (!Current(generation)) return;
      if (!See(keyword, false, true).ask) continue;  // a seed given twice is asked once, with each phrase once
    }
    for (const PhraseSource source : sources) {
      if (!AppendAndPost(keyword, std::int32_t{1}, -1, i + 1, source, generation)) return;
      Pause(options_.postSpacingMs);
    }
  }
  PageCounts counts;
  for (;;) {
    {
      MutexLock lock(runMutex_);
      if (!Current(generation)) return;
      if (blockedEnd_) break;
      PostWaitingTasks(generation);
      counts = pageCounts_;
      if (pendingTasks_ <= 0) break;
    }
    Pause(options_.completionPollMs);
    if (std::chrono::steady_clock::now() - lastProgress >= std::chrono::milliseconds(options_.progressMs)) {
      lastProgress = std::chrono::steady_clock::now();
      ShowProgress(generation);
    }
  }
  bool blocked = false;
  {
    MutexLock lock(runMutex_);
    blocked = blockedEnd_;
  }
  if (blocked) return EndBlockedRun(generation);
  // The end of the run, in one step on the window thread: a stop cannot
  // slip in between the check and the texts. Pages that went wrong are
  // named after the completion text, which otherwise stays as it always was.
  const std::thread::id monitor = std::this_thread::get_id();  // the lambda below runs on the window thread
  window_.Invoke([&] {
    if (!Current(generation)) return;
    if (monitorThread_.joinable() && monitorThread_.get_id() == monitor) monitorThread_.detach();
    RetireRunJournal();
    ui_.按钮_开始采集.SetCaption(kStartCaption);
    ui_.状态条1.SetPanelText(0, DoneText() + ProblemPagesText(counts));
    ui_.状态条1.SetProgressText({});  // the field is for a run going on; the panel takes the whole width again
    if (options_.onRunComplete) options_.onRunComplete();
  });
}

Text Harvester::DoneText() {
  const std::int32_t listed = ui_.列表框_相关关键字.ItemCount();
  Text done = Text(kDoneBefore) + ToText(listed) + Text(kDoneAfter);
  // The distinct ones only when some repeat, and only from a list that
  // keeps its items (the command's counts them and keeps none).
  const TextArray phrases = ui_.列表框_相关关键字.Items();
  if (phrases.size() != static_cast<std::size_t>(listed)) return done;
  const std::size_t distinct = CountDistinct(phrases);
  if (distinct != phrases.size()) done += Text(kDistinctBefore) + std::to_string(distinct) + Text(kDoneAfter);
  return done;
}

void Harvester::ShowProgress(Generation generation) {
  PageCounts counts;
  std::int32_t pending = 0;
  std::int64_t unrecognised = 0;
  {
    MutexLock lock(runMutex_);
    if (!Current(generation)) return;
    counts = pageCounts_;
    pending = pendingTasks_;
    unrecognised = unrecognised_;
  }
  // The phrases in the list belong to every run since it was last cleared.
  Text text = ProgressText(counts, ui_.列表框_相关关键字.ItemCount(), pending, unrecognised);
  // With several identities, how many rest: the run goes on while one asks.
  if (const std::vector<IdentityProgress> identities = Identities(); identities.size() > 1) {
    const auto resting = std::count_if(identities.begin(), identities.end(), [](const IdentityProgress& identity) {
      return identity.state != IdentityProgress::State::kAsking;
    });
    text += " \xD0\xDD\xCF\xA2";  // 休息
    text += std::to_string(resting) + "/" + std::to_string(identities.size());
  }
  if (const std::int64_t filtered = FilteredPhrases(); filtered > 0) {
    text += " \xD2\xD1\xB9\xFD\xC2\xCB";  // 已过滤
    text += std::to_string(filtered);
  }
  if (const std::optional<std::string> until = HoldEnd()) {
    text += " \xB5\xC8\xB4\xFD\xD1\xE9\xD6\xA4\xD6\xC1";  // 等待验证至
    text += *until;
  } else if (const double perMinute = RequestsPerMinute(); perMinute > 0) {
    text += " \xCB\xD9\xC2\xCA";  // 速率
    text += std::to_string(std::lround(perMinute));
    text += "\xB4\xCE/\xB7\xD6";  // 次/分
  }
  ui_.状态条1.SetProgressText(text);
}

void Harvester::HarvestTask(std::int32_t recordIndex, std::int32_t generation) {
  if (Harvester* self = Enter()) {
    self->RunTask(recordIndex, static_cast<Generation>(generation));
    Leave();
  }
}

// One task as RunTask takes it through its steps: its record, then its page.
struct Harvester::Task {
  Task(std::int32_t record, Generation generation) : record(record), generation(generation) {}

  const std::int32_t record;
  const Generation generation;
  Text keyword, parent, seed;  // parent and seed only when origins are kept
  std::string path;            // only when pages are journaled or replayed
  bool replayed = false;       // answered in an earlier run: not asked
  std::int32_t level = 0, depth = 0, retriesMade = 0;
  std::shared_ptr<Identity> identity;
  std::shared_ptr<const PhraseFilter> filter;  // the run's, null when it has none
  PaceClock::time_point sentAt;
  bool probe = false;   // the one request of its identity's hold
  std::string error;    // why the request failed, when it did
  bool unique = false;  // each phrase once
  TextArray phrases;
  PageOutcome outcome{};
  std::uint32_t status = 0;
  bool unrecognised = false;  // no block, yet it looks like a results page
  PhraseSource source = PhraseSource::kRelated;
};

void Harvester::RunTask(std::int32_t recordIndex, Generation generation) {
  Task task(recordIndex, generation);
  if (!ReadTask(task)) return;
  if (task.level <= task.depth) {
    const RunGuard guard(generation_, generation);
    const ScopedRunGuard scope(guard);
    if (!task.replayed) {
      if (!FetchPage(task)) return;
      pagesFetched_.fetch_add(1);
      if (!SettleOutcome(task)) return;
    }
    for (std::int32_t deepest = deepestLevel_.load();
         deepest < task.level && !deepestLevel_.compare_exchange_weak(deepest, task.level);) {
    }
    if (!PostPhrases(task)) return;
  }
  {
    MutexLock lock(runMutex_);
    if (!Current(generation)) return;
    --pendingTasks_;
  }
  TrimWorkingSetNowAndThen();
}

bool Harvester::ReadTask(Task& task) {
  MutexLock lock(runMutex_);
  if (!Current(task.generation)) return false;
  task.depth = harvestDepth_.load();
  const JSON record = taskRecords_.GetItem(task.record);  // released before the lock is
  task.level = ToInteger(record.GetMember(kLevelKey));
  task.source = recordSources_[static_cast<std::size_t>(task.record)];
  // Most tasks of a deep run lie below the depth and never use their keyword.
  if (task.level > task.depth) return true;
  task.filter = filter_;
  if (options_.onPageEnd || options_.answered || options_.journalRuns) task.path = PathOf(task.record);
  if (options_.answered || resumed_) {
    if (std::optional<Answered> answered =
            options_.answered ? options_.answered(task.path) : resumed_->Answered(task.path)) {
      // Counted now, as the page it stands for was when it ended.
      task.replayed = true;
      task.keyword = ToText(record.GetMember(kKeywordKey));
      task.outcome = answered->outcome;
      task.phrases = std::move(answered->phrases);
      ++pageCounts_[static_cast<std::size_t>(task.outcome)];
      NameOrigins(task);
      return true;
    }
  }
  // No request starts while every identity holds, but a probe: the task
  // waits for a hold's end, still pending, and its worker goes on to the next.
  if (!blockedEnd_) task.identity = ChooseIdentity(task.record);
  if (!task.identity) {
    heldBack_.push_back(task.record);
    return false;
  }
  task.probe = task.identity->probe == task.record;
  ++task.identity->busy;
  task.unique = asked_.has_value();
  task.keyword = ToText(record.GetMember(kKeywordKey));
  if (const auto made = retriesMade_.find(task.record); made != retriesMade_.end()) task.retriesMade = made->second;
  return true;
}

bool Harvester::FetchPage(Task& task) {
  // A paced request waits for its token; a rest of its identity that begins
  // meanwhile sends it back, to another identity or to wait for a hold's end.
  Identity& identity = *task.identity;
  const bool mayAsk = identity.pacer->Acquire(
      [&] { return !Current(task.generation) || ThreadPool::IsCutOff() || (identity.resting.load() && !task.probe); });
  if (!mayAsk) {
    --identity.busy;
    MutexLock lock(runMutex_);
    if (!Current(task.generation)) return false;
    Requeue(task.record, Waits::kHeldBack, task.generation);
    return false;
  }
  task.sentAt = PaceClock::now();
  // The page is let go before its phrases are posted: bodies count against a
  // bound for the whole process.
  HttpClient client;
  if (identity.http) client.SetIdentity(identity.http);
  client.SetAbortHook([this, generation = task.generation] { return !Current(generation) || ThreadPool::IsCutOff(); });
  const bool suggest = task.source == PhraseSource::kSuggest;
  client.Open("GET", suggest ? BuildSuggestUrl(task.keyword, options_.searchBase)
                             : BuildSearchUrl(task.keyword, options_.searchBase));
  client.Send(Value{}, options_.timeoutMs, options_.timeoutMs, options_.timeoutMs);
  const HttpClient::Ending ending = client.LastEnding();
  if (ending == HttpClient::Ending::kAborted) {
    identity.pacer->Release(task.sentAt, false, false);
    --identity.busy;
    return false;  // the run was stopped: no outcome
  }
  if (ending != HttpClient::Ending::kComplete) task.error = client.LastError();
  FetchedPage page{ending == HttpClient::Ending::kComplete || ending == HttpClient::Ending::kCutOff,
                   ending == HttpClient::Ending::kComplete, client.StatusCode(), client.FinalUrl(),
                   client.ResponseTextView()};
  task.status = page.status;
  if (suggest) {
    std::optional<TextArray> list = ReadSuggestions(page.body);
    page.blockFound = list.has_value();
    if (list) task.phrases = std::move(*list);
    task.outcome = DecideSuggestOutcome(page, task.phrases.size());
  } else {
    RelatedBlock block = FindRelatedBlock(page.body, http::HeaderValue(client.ResponseHeaders(), "Content-Type"));
    task.phrases = std::move(block.phrases);
    page.blockFound = block.found;
    task.outcome = DecidePageOutcome(page);
    task.unrecognised = task.outcome == PageOutcome::kNoBlock && LooksLikeResultsPage(page.body);
  }
  // What the engine served tells the pacer of its limit; a failure does not.
  identity.pacer->Release(task.sentAt, task.outcome != PageOutcome::kFailed && task.status != 0,
                          task.outcome == PageOutcome::kVerification);
  --identity.busy;
  return true;
}

bool Harvester::SettleOutcome(Task& task) {
  // The task ends with its outcome, unless its page is to be requested
  // again: then it waits, still pending, and is counted only when it ends.
  MutexLock lock(runMutex_);
  if (!Current(task.generation)) return false;
  Identity& identity = *task.identity;
  if (task.probe) identity.probe = -1;
  if (task.outcome == PageOutcome::kVerification && !blockedEnd_) {
    ++identity.verification;
    if (task.probe && identity.state == IdentityProgress::State::kHolding) {
      // Still blocked: the identity holds again, longer, and the probe goes
      // first among the pages turned away.
      identity.firstProbe = false;
      StartHold(identity);
      Requeue(task.record, Waits::kTurnedAwayFirst, task.generation);
    } else {
      // The first page of the identity's block (others were on their way with it).
      if (identity.state == IdentityProgress::State::kAsking || task.probe) {
        identity.nextHoldMs = std::max(identity.nextHoldMs, identity.firstHoldMs);
        identity.blockHeldMs = 0;
        identity.firstProbe = true;
        StartHold(identity);
      }
      Requeue(task.record, Waits::kTurnedAway, task.generation);
    }
    return false;
  }
  const bool transient = task.outcome == PageOutcome::kFailed ||
                         (task.outcome == PageOutcome::kErrorStatus && task.status >= 500 && task.phrases.empty());
  if (transient) {
    ++identity.failures;
    identity.lastError = task.error.empty() ? "HTTP " + std::to_string(task.status) : task.error;
    // A proxy that fails rests, and its page goes to another identity (now,
    // or when one's hold ends) without spending a retry; when no other will
    // ever take it, the failure is the page's, as the direct connection's
    // always are.
    if (identity.http && AnyAlive(&identity)) {
      if (identity.state == IdentityProgress::State::kAsking || task.probe) StartFailRest(identity);
      Requeue(task.record, Waits::kHeldBack, task.generation);
      return false;
    }
  } else {
    ++identity.served;
    identity.failsInARow = 0;
  }
  if (task.probe) EndHold(identity, task.generation);  // the engine served the probe: the block is over
  if (AllBlocked()) blockedEnd_ = true;
  if (transient && task.retriesMade < retryLimit_) {
    retriesMade_[task.record] = task.retriesMade + 1;
    std::int64_t delayMs = options_.retryDelayMs;
    for (std::int32_t i = 0; i < task.retriesMade && delayMs < 3600000; ++i) delayMs *= 4;
    retries_.push_back({std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs), task.record});
    return false;
  }
  retriesMade_.erase(task.record);
  ++pageCounts_[static_cast<std::size_t>(task.outcome)];
  if (task.unrecognised) ++unrecognised_;
  if (task.outcome == PageOutcome::kPhrases) identity.holdsInARow = 0, identity.nextHoldMs = identity.firstHoldMs;
  NameOrigins(task);
  return true;
}

bool Harvester::PostPhrases(const Task& task) {
  // The pause after each post spaces out the requests of the tasks it
  // queues. Tasks below the depth make none, so on the last level the posts
  // go out together and the task pauses once, as long as the spaced posts
  // would have held its worker: the schedule stays the same, without a
  // wake-up per phrase (most of a harvest's phrases are on its last level).
  const bool lastLevel = task.level >= task.depth;
  // A replayed page was spaced out when it was asked.
  const std::int32_t spacingMs = task.replayed ? 0 : options_.postSpacingMs;
  const bool journaled = (options_.onPageEnd || options_.journalRuns) && !task.replayed;
  std::vector<PhraseOrigin> told;
  const std::vector<PhraseSource> sources = Sources();
  std::int32_t position = 0;
  for (const Text& phrase : task.phrases) {
    ++position;
    // A phrase the filters turn away is neither seen nor listed nor asked:
    // the same phrase may pass under another seed.
    const bool filtered = FilteredOut(task, phrase);
    // Each phrase once: a repeat is not listed again, though the tree's edge
    // is still told; a phrase is asked for only once, and only within the
    // depth (one seen first below it is asked when it turns up within).
    Sighting sighting{false, true};
    if (task.unique && !filtered) {
      MutexLock lock(runMutex_);
      if (!Current(task.generation)) return false;
      sighting = See(phrase, true, task.level + 1 <= task.depth);
    }
    PhraseOrigin origin{phrase,   task.level + 1,  task.keyword,  task.seed,  task.outcome,
                        position, sighting.repeat, task.replayed, task.source};
    origin.filtered = filtered;
    if (journaled) told.push_back(origin);
    if (filtered) {
      if (options_.keepFiltered && options_.onPhrase && AddPhraseWithOrigin(origin, task.generation) < 0 &&
          !Current(task.generation)) {
        return false;
      }
      continue;  // no request to space out
    }
    const std::int32_t index = options_.onPhrase ? AddPhraseWithOrigin(origin, task.generation)
                               : sighting.repeat ? -1
                                                 : ui_.列表框_相关关键字.AddItem(phrase);
    if (index < 0 && !Current(task.generation)) return false;
    if (!sighting.repeat) ui_.列表框_相关关键字.SetCurrentSelection(index);
    // Each source asks for it, whichever found it; below the depth, where
    // nothing is asked, one record stands for it.
    const std::size_t asks = sighting.ask ? (lastLevel ? 1 : sources.size()) : 0;
    for (std::size_t k = 0; k < asks; ++k) {
      if (!AppendAndPost(phrase, static_cast<double>(task.level) + 1.0, task.record, position, sources[k],
                         task.generation)) {
        return false;
      }
      if (!lastLevel && k + 1 < asks) Pause(spacingMs);
    }
    if (!lastLevel) Pause(spacingMs);
  }
  if (journaled) {
    bool ended = false;
    window_.Invoke([&] {
      if (!Current(task.generation)) return;
      const PageEnd end{task.path,    task.keyword, task.parent, task.seed,  task.level,
                        task.outcome, task.status,  told,        task.source};
      if (options_.onPageEnd) options_.onPageEnd(end);
      if (runJournal_) {
        // A journal that cannot be written only stops being kept: the run
        // itself is the user's, and goes on.
        if (!runJournal_->Append(JournalPageLine(end, 0))) runJournal_.reset();
        if (runJournal_ && std::chrono::steady_clock::now() - runJournalSynced_ >= std::chrono::seconds(1)) {
          runJournal_->Sync();
          runJournalSynced_ = std::chrono::steady_clock::now();
        }
      }
      ended = true;
    });
    if (!ended) return false;
  }
  // A stop ends this longer pause at once, as it would end the spaced ones.
  if (lastLevel) PauseInRun(static_cast<std::int64_t>(task.phrases.size()) * spacingMs, task.generation);
  return true;
}

void Harvester::NameOrigins(Task& task) {
  if (!KeepsOrigins()) return;
  const std::size_t i = static_cast<std::size_t>(task.record);
  if (i >= origins_.size()) return;
  task.seed = ToText(taskRecords_.GetItem(origins_[i].seed).GetMember(kKeywordKey));
  if (origins_[i].parent >= 0) task.parent = ToText(taskRecords_.GetItem(origins_[i].parent).GetMember(kKeywordKey));
}

std::string Harvester::PathOf(std::int32_t record) const {
  std::vector<std::string> steps;
  for (std::size_t i = static_cast<std::size_t>(record); i < origins_.size() && steps.size() < 64;) {
    steps.push_back(std::to_string(origins_[i].position));
    if (i < recordSources_.size() && recordSources_[i] == PhraseSource::kSuggest) steps.back() += 's';
    if (origins_[i].parent < 0) break;
    i = static_cast<std::size_t>(origins_[i].parent);
  }
  std::reverse(steps.begin(), steps.end());  // from the seed down
  std::string path;
  for (const std::string& step : steps) {
    if (!path.empty()) path += '.';
    path += step;
  }
  return path;
}

std::int32_t Harvester::AddPhraseWithOrigin(const PhraseOrigin& origin, Generation generation) {
  std::int32_t index = -1;
  window_.Invoke([&] {
    if (!Current(generation)) return;  // checked where a stop moves it on: no phrase is told after a stop
    if (origin.repeat || origin.filtered) return options_.onPhrase(origin);
    index = ui_.列表框_相关关键字.AddItem(origin.phrase);
    if (index >= 0) options_.onPhrase(origin);
  });
  return index;
}

bool Harvester::FilteredOut(const Task& task, std::string_view phrase) {
  if (!task.filter || task.filter->Passes(phrase, task.seed)) return false;
  MutexLock lock(runMutex_);
  if (Current(task.generation)) ++filtered_;
  return true;
}

Harvester::Sighting Harvester::See(std::string_view phrase, bool listed, bool withinDepth) {
  if (!asked_) return {false, true};
  const PhraseSet::Seen before = asked_->Note(FoldPhrase(phrase), listed, withinDepth);
  const Sighting sighting{listed && before.listed, withinDepth && !before.asked};
  if (sighting.repeat) ++repeats_;
  return sighting;
}

std::int32_t Harvester::PendingTasks() {
  MutexLock lock(runMutex_);
  return pendingTasks_;
}

std::shared_ptr<Harvester::Identity> Harvester::ChooseIdentity(std::int32_t record) {
  if (const auto probe = probes_.find(record); probe != probes_.end()) {
    std::shared_ptr<Identity> identity = std::move(probe->second);
    probes_.erase(probe);
    return identity;
  }
  for (const std::shared_ptr<Identity>& identity : identities_) {
    if (identity->probeWanted) {
      identity->probeWanted = false;
      identity->probe = record;
      return identity;
    }
  }
  // The least busy for its rate: each identity's waiters then wait about
  // as long, however their rates differ.
  std::shared_ptr<Identity> best;
  double bestLoad = 0;
  const std::size_t n = identities_.size();
  for (std::size_t k = 0; k < n; ++k) {
    const std::shared_ptr<Identity>& identity = identities_[(nextIdentity_ + k) % n];
    if (identity->state != IdentityProgress::State::kAsking) continue;
    const double rate = identity->pacer->PerMinute();
    const double load = (identity->busy.load() + 1) / (rate > 0 ? rate : 1);
    if (!best || load < bestLoad) best = identity, bestLoad = load;
  }
  ++nextIdentity_;
  return best;
}

bool Harvester::AnyAsking(const Identity* besides) const {
  return std::any_of(identities_.begin(), identities_.end(), [&](const std::shared_ptr<Identity>& identity) {
    return identity.get() != besides && (identity->state == IdentityProgress::State::kAsking || identity->probeWanted);
  });
}

void Harvester::Requeue(std::int32_t record, Waits waits, Generation generation) {
  if (AnyAsking()) {
    workerPool_.PostWorkItem(&Harvester::HarvestTask, record, static_cast<std::int32_t>(generation));
  } else if (waits == Waits::kHeldBack) {
    heldBack_.push_back(record);
  } else {
    turnedAway_.insert(waits == Waits::kTurnedAwayFirst ? turnedAway_.begin() : turnedAway_.end(), record);
  }
}

void Harvester::StartHold(Identity& identity) {
  identity.restEnd.reset();
  identity.resting = true;
  identity.pacer->Wake();  // requests waiting for a token go to another identity, or wait for the hold's end
  if (identity.holdsInARow >= options_.maxHolds) {
    identity.state = IdentityProgress::State::kGivenUp;
    if (AllBlocked()) blockedEnd_ = true;  // the monitor ends the run
    return;
  }
  identity.state = IdentityProgress::State::kHolding;
  ++identity.holdsInARow;
  identity.restEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(identity.nextHoldMs);
  identity.blockHeldMs += identity.nextHoldMs;
  identity.nextHoldMs = std::min<std::int64_t>(identity.nextHoldMs * 2, options_.maxHoldMs);
}

void Harvester::StartFailRest(Identity& identity) {
  identity.state = IdentityProgress::State::kFailing;
  identity.resting = true;
  identity.pacer->Wake();
  identity.nextFailMs = identity.failsInARow++ == 0
                            ? options_.failRestMs
                            : std::min<std::int64_t>(identity.nextFailMs * 2, options_.maxHoldMs);
  identity.restEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(identity.nextFailMs);
}

void Harvester::EndHold(Identity& identity, Generation generation) {
  if (identity.state == IdentityProgress::State::kHolding) {
    // The block lasted at most what this one's holds came to: the next starts
    // shorter when the first probe was served, else with what this one took.
    const std::int64_t floor = std::max<std::int64_t>(1, options_.holdMs / 4);
    identity.firstHoldMs =
        std::clamp<std::int64_t>(identity.firstProbe ? identity.blockHeldMs * 3 / 4 : identity.blockHeldMs, floor,
                                 std::max<std::int64_t>(floor, options_.maxHoldMs));
    identity.nextHoldMs = identity.firstHoldMs;
    identity.blockHeldMs = 0;
    identity.firstProbe = true;
  }
  identity.state = IdentityProgress::State::kAsking;
  identity.restEnd.reset();
  identity.resting = false;
  for (const std::int32_t record : turnedAway_) {
    workerPool_.PostWorkItem(&Harvester::HarvestTask, record, static_cast<std::int32_t>(generation));
  }
  for (const std::int32_t record : heldBack_) {
    workerPool_.PostWorkItem(&Harvester::HarvestTask, record, static_cast<std::int32_t>(generation));
  }
  turnedAway_.clear(), heldBack_.clear();
  identity.pacer->Resumed();
}

bool Harvester::AnyAlive(const Identity* besides) const {
  return std::any_of(identities_.begin(), identities_.end(), [&](const std::shared_ptr<Identity>& identity) {
    return identity.get() != besides && identity->state != IdentityProgress::State::kGivenUp && !NeverWorked(*identity);
  });
}

bool Harvester::AllBlocked() const {
  bool givenUp = false;
  for (const std::shared_ptr<Identity>& identity : identities_) {
    if (identity->state == IdentityProgress::State::kGivenUp) {
      givenUp = true;
    } else if (!NeverWorked(*identity)) {
      return false;  // it may still serve
    }
  }
  return givenUp;
}

void Harvester::PostWaitingTasks(Generation generation) {
  const auto now = std::chrono::steady_clock::now();
  const auto post = [&](std::int32_t record) {
    workerPool_.PostWorkItem(&Harvester::HarvestTask, record, static_cast<std::int32_t>(generation));
  };
  for (const std::shared_ptr<Identity>& identity : identities_) {
    if (!identity->restEnd || now < *identity->restEnd) continue;
    identity->restEnd.reset();
    // One request decides whether the identity's rest is over: a page that
    // waits for an identity, the first turned away first, or else the next
    // task to come.
    std::vector<std::int32_t>& waiting = turnedAway_.empty() ? heldBack_ : turnedAway_;
    if (waiting.empty()) {
      identity->probeWanted = true;
    } else {
      identity->probe = waiting.front();
      waiting.erase(waiting.begin());
      probes_[identity->probe] = identity;
      post(identity->probe);
    }
  }
  if (!AnyAsking()) return;
  std::stable_sort(retries_.begin(), retries_.end(), [](const Retry& a, const Retry& b) { return a.due < b.due; });
  auto due = retries_.begin();
  for (; due != retries_.end() && due->due <= now; ++due) post(due->record);
  retries_.erase(retries_.begin(), due);
}

void Harvester::EndBlockedRun(Generation generation) {
  PageCounts counts;
  {
    MutexLock lock(runMutex_);
    if (!Current(generation)) return;
    // The pages turned away end as verification pages; the tasks held back
    // or waiting for a retry end without another request, and a request
    // still under way ends with the run, without an outcome: nothing is left
    // pending.
    pageCounts_[static_cast<std::size_t>(PageOutcome::kVerification)] += static_cast<std::int64_t>(turnedAway_.size());
    pendingTasks_ = 0;
    probes_.clear();
    turnedAway_.clear(), heldBack_.clear(), retries_.clear();
    counts = pageCounts_;
  }
  // In one step on the window thread, the texts first: once the stop has
  // moved the generation on, this run's own calls no longer reach the window.
  window_.Invoke([&] {
    if (!Current(generation)) return;
    ui_.按钮_开始采集.SetCaption(kStartCaption);
    ui_.状态条1.SetPanelText(0, Text(kBlockedEnd) + ProblemPagesText(counts));
    ui_.状态条1.SetProgressText({});
    StopEverything();
    if (options_.onBlockedEnd) options_.onBlockedEnd();
  });
}

namespace {

std::string LocalClock(std::chrono::steady_clock::time_point at) {
  const auto left = at - std::chrono::steady_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(
      std::chrono::system_clock::now() + std::chrono::duration_cast<std::chrono::system_clock::duration>(left));
  std::tm local{};
  char clock[16] = "";
  if (localtime_r(&t, &local)) std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
  return clock;
}

}  // namespace

std::optional<std::string> Harvester::HoldEnd() {
  std::optional<std::chrono::steady_clock::time_point> end;
  {
    MutexLock lock(runMutex_);
    if (AnyAsking()) return std::nullopt;
    for (const std::shared_ptr<Identity>& identity : identities_) {
      if (identity->restEnd && (!end || *identity->restEnd < *end)) end = identity->restEnd;
    }
  }
  if (!end) return std::nullopt;
  return LocalClock(*end);
}

double Harvester::RequestsPerMinute() {
  MutexLock lock(runMutex_);
  double perMinute = 0;
  for (const std::shared_ptr<Identity>& identity : identities_) {
    if (identity->state == IdentityProgress::State::kAsking) perMinute += identity->pacer->PerMinute();
  }
  return perMinute;
}

std::vector<Harvester::IdentityProgress> Harvester::Identities() {
  std::vector<IdentityProgress> all;
  std::vector<std::optional<std::chrono::steady_clock::time_point>> ends;
  {
    MutexLock lock(runMutex_);
    for (const std::shared_ptr<Identity>& identity : identities_) {
      all.push_back({identity->name, identity->state, identity->pacer->PerMinute(), std::nullopt, identity->served,
                     identity->verification, identity->failures, identity->lastError});
      ends.push_back(identity->restEnd);
    }
  }
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (ends[i]) all[i].until = LocalClock(*ends[i]);
  }
  return all;
}

std::int64_t Harvester::Repeats() {
  MutexLock lock(runMutex_);
  return repeats_;
}

std::int64_t Harvester::FilteredPhrases() {
  MutexLock lock(runMutex_);
  return filtered_;
}

std::int64_t Harvester::UnrecognisedLayouts() {
  MutexLock lock(runMutex_);
  return unrecognised_;
}

PageCounts Harvester::RunPageCounts() {
  MutexLock lock(runMutex_);
  return pageCounts_;
}

std::int32_t Harvester::TaskRecordCount() {
  MutexLock lock(runMutex_);
  return taskRecords_.GetLength();
}

}  // namespace kelvarn
