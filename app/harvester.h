// The harvester: the application-wide variables, run control (the start/stop
// button and the run monitor), the harvest task, the keyword-list and
// settings handlers, and the close sequence. It reaches the window only
// through the component operations, so the same code runs in the window, in
// the headless command and in tests.
//
// Threads: handlers run on the window thread; one monitor thread per run;
// the pool's workers run the tasks. Every run has a generation: start, stop
// and close each begin a new one on the window thread, under the run lock.
// A monitor or task carries its run's generation, and each effect it has on
// the shared state (a record appended, pendingTasks changed, a post) is made
// under the run lock only while that generation is current; effects on the
// window are made through the components under a RunGuard, checked on the
// window thread. So after Stop or Close returns, nothing of the stopped run
// touches anything, and its requests are aborted. The run lock is never held
// across a call into the window thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "app/pacer.h"
#include "app/page_outcome.h"
#include "app/phrase_filter.h"
#include "app/phrase_set.h"
#include "app/settings.h"
#include "base/thread_safety.h"
#include "json/json.h"
#include "net/http_client.h"
#include "pool/thread_pool.h"
#include "text/files.h"
#include "ui/components.h"
#include "ui/dialogs.h"

namespace kelvarn {

// The main window's components, under the window's own names.
struct MainComponents {
  ListBox& 列表框_关键字;
  ListBox& 列表框_相关关键字;
  EditBox& 编辑框_工作线程;
  EditBox& 编辑框_采集级别;
  Button& 按钮_开始采集;
  StatusBar& 状态条1;
  FileDialog& 通用对话框1;
};

class JournalContents;

class Harvester {
 public:
  // A phrase as it enters the collected list, with where it came from. The
  // texts are GBK and live only for the call.
  struct PhraseOrigin {
    std::string_view phrase;
    std::int32_t level;                            // its own task's: a seed is 1, so a seed's phrases are 2
    std::string_view parent;                       // the keyword whose page gave it
    std::string_view seed;                         // the seed that keyword descends from (the parent itself on level 2)
    PageOutcome outcome;                           // what that page gave
    std::int32_t position;                         // on that page, from 1
    bool repeat = false;                           // listed already in this run (each phrase once): not listed again
    bool replayed = false;                         // from a page answered in an earlier run (Options::answered)
    PhraseSource source = PhraseSource::kRelated;  // what of its parent's gave it
    bool filtered = false;                         // the run's filters turned it away: neither listed nor asked
  };

  // A page asked for that ended, with what it gave: its place in the tree
  // (its path: "3.5.2" is the third seed's fifth phrase's second phrase,
  // the same in every run of the same seeds against the same pages), and its
  // phrases as told to onPhrase. A page of suggestions marks its step "s"
  // ("3.5s" is the suggestions for that phrase, "3s.2" the second of the
  // third seed's suggestions, asked for its related searches), so a run of
  // the related searches alone names its pages as it always did. The texts
  // live only for the call.
  struct PageEnd {
    std::string_view path, keyword, parent, seed;  // parent empty for a seed, whose seed is itself
    std::int32_t level;
    PageOutcome outcome;
    std::uint32_t status;
    const std::vector<PhraseOrigin>& phrases;
    PhraseSource source = PhraseSource::kRelated;  // what was asked for the keyword
  };
  // What an earlier run of the same harvest got for a page.
  struct Answered {
    PageOutcome outcome;
    TextArray phrases;
  };

  struct Options {
    std::string settingsDir;                            // ends in exactly one "/"; config.ini and cookies.txt live here
    std::string searchBase;                             // scheme, host and port of search URLs
    std::int32_t timeoutMs = 15000;                     // each of connect, send and receive
    std::int32_t postSpacingMs = 5;                     // pause after every post
    std::int32_t completionPollMs = 50;                 // how often the monitor looks for the end
    std::int32_t progressMs = 250;                      // how often the status bar's progress field is redrawn
    std::function<void(std::string_view url)> openUrl;  // the desktop's URL handler
    // Starts the run monitor's thread; none: std::thread. Throws
    // std::system_error, as std::thread does, when no thread can be made.
    std::function<std::thread(std::function<void()> monitor)> startThread;
    // Called on the window thread when a run completes (after the status text).
    std::function<void()> onRunComplete;

    // A failed page, or a 5xx page without phrases, is requested again this
    // many times; none: config.ini's 重试次数 when present, else 2. The first
    // retry waits retryDelayMs, each later one four times as long; a waiting
    // page holds no worker.
    std::optional<std::int32_t> retries;
    std::int32_t retryDelayMs = 1000;
    // From a verification page on, the run holds: no request starts for
    // holdMs, doubled with each hold in a row up to maxHoldMs; then one page
    // turned away is requested again, the probe. When the engine answers it,
    // the pages turned away are requested again first, then the rest; when
    // it turns the probe away too, the run holds again. A block that one
    // hold outlasted starts the next block's holds a quarter shorter (never
    // under a quarter of holdMs); one that needed more starts them at the
    // time it took. After maxHolds holds in a row without a page of phrases
    // the run ends as if stopped (0: at the first verification page), and
    // onBlockedEnd is called on the window thread.
    std::int32_t holdMs = 60000;
    std::int32_t maxHoldMs = 15 * 60000;
    std::int32_t maxHolds = 5;
    std::function<void()> onBlockedEnd;

    // How fast the run asks, and whether it asks for each distinct phrase
    // once (FoldPhrase's comparison; a repeat is listed and requested no
    // more, but told to onPhrase with `repeat` set). None: config.ini's
    // 采集节奏 section, which the window's settings dialog writes.
    std::optional<Pace> pace;
    std::optional<bool> unique;

    // The identities the run asks through: each a way to the engine (null:
    // direct, with the process's cookies) with its own pacing and its own
    // holds, as above. A blocked identity holds while the others go on, and
    // its pages go to them; the run holds only when every identity holds,
    // and ends blocked only when each has been blocked maxHolds times in a
    // row or has never worked. A proxy that fails (no answer, or a 5xx of
    // its own) rests failRestMs, doubled each time up to maxHoldMs, while
    // another identity can ask; its page goes to them without spending a
    // retry. None: the direct connection alone.
    std::vector<std::shared_ptr<HttpIdentity>> identities;
    std::int32_t failRestMs = 30000;

    // Called on the window thread with every phrase, in the same step that
    // adds it to the collected list, so that it is told exactly what the
    // list holds. None (the window): no origins are kept at all.
    std::function<void(const PhraseOrigin&)> onPhrase;
    // Called on the window thread when a page asked for ends, after its
    // phrases were listed and their tasks posted; never for a page a stop
    // cut off, nor for one turned away and asked again.
    std::function<void(const PageEnd&)> onPageEnd;
    // What each keyword is asked from: its results page's related searches,
    // the engine's suggestions, or both, in this order: a task each, through
    // the same pacing, identities, holds, retries and journal. With each
    // phrase once, a phrase either source found is listed once and asked
    // from each source once. None: the related searches.
    std::vector<PhraseSource> sources;

    // A page an earlier run got with phrases or without a block, by its
    // path: it is not asked again, and its phrases are listed and queued as
    // if just asked, told to onPhrase as replayed, not to onPageEnd. Called
    // on workers, under the run's lock: it must not call back.
    std::function<std::optional<Answered>(std::string_view path)> answered;
    // The window keeps a journal of each run in the settings directory's
    // runs/ (the last few), so that a run a crash or a closed window cut
    // short can be continued (OfferToContinue). A completed run, or one the
    // user stopped, is retired.
    bool journalRuns = false;

    // The run's filters (seeds always pass): a phrase they turn away is
    // neither listed nor asked for, and counted (FilteredPhrases). With
    // keepFiltered it is still told to onPhrase, marked `filtered`; without,
    // it is not. onPageEnd hears every phrase of a page, the filtered ones
    // marked, so that a journal holds the page whole and a replay filters it
    // again. None: config.ini's filters, which the window's settings dialog
    // writes. Read by workers, never changed during a run.
    std::shared_ptr<const PhraseFilter> filter;
    bool keepFiltered = false;
  };

  // One per process: the pool's routine finds it through a process-wide
  // pointer, as the work item carries two integers only.
  Harvester(MainComponents components, UiThread& ui, Dialogs& dialogs, Options options);
  ~Harvester();
  Harvester(const Harvester&) = delete;
  Harvester& operator=(const Harvester&) = delete;

  // Run control: the click handler of 按钮_开始采集 (window thread).
  void OnStartButton() EXCLUDES(runMutex_);
  // Keyword lists and settings (window thread).
  void AddKeyword();
  void ImportKeywords();
  // The lines of a keyword file that import adds: GBK split at CR LF only, or
  // a file that is clearly UTF-8 (UTF-16) converted and split at LF; lines of
  // nothing but spaces skipped, leading spaces kept. A zero byte ends a line
  // too, so that a stray one does not cut off the rest of the file.
  static TextArray KeywordLines(std::string_view fileBytes);
  // The import rules on one file (as KeywordLines splits it); false, with
  // "导入失败.", when the file cannot be read.
  bool ImportFile(const std::string& path);
  void ClearKeywords();
  void ExportPhrases();
  void ClearPhrases();
  // The lists' own commands (window thread). A key pressed in the seed list
  // (phrases false) or the phrase list: Ctrl+F asks for a text and finds
  // the next item holding it, F3 and Shift+F3 find the next and previous one
  // again (asking first when nothing was asked yet), Ctrl+C copies the items
  // highlighted; false for any other key. Not found: a message box says so.
  bool OnListKey(bool phrases, std::int64_t key, std::int64_t modifiers);
  void FindInList(ListBox& list, bool ask, bool backward);
  // 复制全部 and 排序 of the phrase list's menu. A sort during a run orders
  // what is there; the phrases that come afterwards are appended as always,
  // so that none is lost.
  void CopyAllPhrases();
  void SortPhrases(ItemOrder order);
  void LoadSettings();
  void SaveWorkerCount();
  void SaveDepth();
  // The harvest settings dialog: asks until the settings are usable or cancelled, then saves them.
  void EditPacing();
  // When the window's last run did not end, asks whether to continue it;
  // on yes, puts its seeds and depth back and starts it again, asking only
  // for the pages it did not get (window thread, at start-up, before any run).
  void OfferToContinue();
  // Ends any run at once: the monitor and the tasks are cut off, queued tasks
  // dropped, requests aborted (window thread).
  void StopEverything() EXCLUDES(runMutex_);
  // The close sequence: stop, ask whether to open the maker's page, open it on
  // OK, end the program with exit code 0 (window thread; does not return).
  void Close();

  ThreadPool& Pool() { return workerPool_; }
  // Tasks posted and not finished in the current run.
  std::int32_t PendingTasks() EXCLUDES(runMutex_);
  // Pages requested since start-up, and the deepest level requested.
  std::int64_t PagesFetched() const { return pagesFetched_.load(); }
  std::int32_t DeepestLevel() const { return deepestLevel_.load(); }
  // Records of the current run.
  std::int32_t TaskRecordCount() EXCLUDES(runMutex_);
  // What the current run's pages gave so far, one count per outcome. A page
  // is counted once, when its task ends: not while it waits for a retry or
  // for a hold to end.
  PageCounts RunPageCounts() EXCLUDES(runMutex_);
  // The current run's pages without a block that look like results pages: a
  // layout Kelvarn does not read.
  std::int64_t UnrecognisedLayouts() EXCLUDES(runMutex_);
  // When the current run's hold ends, while it holds: local time, "HH:MM:SS".
  std::optional<std::string> HoldEnd() EXCLUDES(runMutex_);
  // The current run's requests a minute; 0 when it is not paced.
  double RequestsPerMinute() EXCLUDES(runMutex_);
  // Phrases of the current run that were listed already (each phrase once).
  std::int64_t Repeats() EXCLUDES(runMutex_);
  // Phrases of the current run its filters turned away (one on two pages counts twice).
  std::int64_t FilteredPhrases() EXCLUDES(runMutex_);

  // Each identity of the current run as it stands.
  struct IdentityProgress {
    enum class State { kAsking, kHolding, kFailing, kGivenUp };
    std::string name;                                         // "direct", or the proxy's host:port
    State state = State::kAsking;                             // kHolding: blocked; kFailing: rested after failures
    double perMinute = 0;                                     // its requests a minute; 0 when unpaced
    std::optional<std::string> until;                         // when its rest ends, local "HH:MM:SS"
    std::int64_t served = 0, verification = 0, failures = 0;  // its requests, by what they got
    std::string lastError;                                    // why its last request failed, without credentials
  };
  std::vector<IdentityProgress> Identities() EXCLUDES(runMutex_);

 private:
  struct Identity;  // one way to the engine during a run, with its pacing and rests
  static void HarvestTask(std::int32_t recordIndex, std::int32_t generation);
  void RunTask(std::int32_t recordIndex, Generation generation) EXCLUDES(runMutex_);
  // RunTask's steps, each false when the task ends there without its last
  // step. ReadTask: the record (cut off, or held back during a hold);
  // FetchPage: the page (the run was stopped); SettleOutcome: the page's
  // outcome counted (cut off, turned away, or waiting for a retry);
  // PostPhrases: each phrase listed and its task posted (cut off).
  struct Task;
  bool ReadTask(Task& task) EXCLUDES(runMutex_);
  bool FetchPage(Task& task) EXCLUDES(runMutex_);
  bool SettleOutcome(Task& task) EXCLUDES(runMutex_);
  bool PostPhrases(const Task& task) EXCLUDES(runMutex_);
  // The task's parent and seed texts, when origins are kept (runMutex_ held).
  void NameOrigins(Task& task) REQUIRES(runMutex_);
  void RunMonitor(Generation generation) EXCLUDES(runMutex_);
  void BeginGeneration() EXCLUDES(runMutex_);  // window thread
  // The identities of config.ini's proxies file, when it names one; false,
  // after a message box, when the file cannot be used (window thread).
  bool WindowIdentities(std::vector<std::shared_ptr<HttpIdentity>>& identities);
  bool Current(Generation generation) const { return generation_.load() == generation; }
  // Waits ms milliseconds, or less when the run is cut off meanwhile.
  void PauseInRun(std::int64_t ms, Generation generation) EXCLUDES(runMutex_);
  // Appends a record and posts its task, unless the run was cut off. parent:
  // the record whose page gave the keyword, -1 for a seed.
  bool AppendAndPost(std::string_view keyword, const Value& level, std::int32_t parent, std::int32_t position,
                     PhraseSource source, Generation generation) EXCLUDES(runMutex_);
  // The run's sources, as Options::sources names them (never empty).
  std::vector<PhraseSource> Sources() const;
  // The record's path (see PageEnd), from the origins (runMutex_ held).
  std::string PathOf(std::int32_t record) const REQUIRES(runMutex_);
  bool KeepsOrigins() const {
    return options_.onPhrase || options_.onPageEnd || options_.answered || options_.journalRuns ||
           filterNeedsSeed_.load();
  }
  // Whether the run's filters turn the phrase of the task's page away; counts it when they do.
  bool FilteredOut(const Task& task, std::string_view phrase) EXCLUDES(runMutex_);
  // config.ini's filters for a window's run; false, after a message box,
  // when its stop-word file cannot be read (window thread).
  bool WindowFilter(std::shared_ptr<const PhraseFilter>& filter);
  // The window's journal of the run starting now (a new one, or the one
  // being continued); it ends with a retiring line when the run does.
  void OpenRunJournal(const Pace& pace, bool unique);
  void RetireRunJournal();
  // Adds a phrase to the collected list and tells onPhrase of it, in one step
  // on the window thread; the list's index, or -1. A repeat is only told.
  std::int32_t AddPhraseWithOrigin(const PhraseOrigin& origin, Generation generation) EXCLUDES(runMutex_);
  // With each phrase once, what seeing a phrase means: whether it was
  // listed already (a repeat; a seed is asked, never listed), and whether it
  // is to be asked for now: when it lies within the depth and was not asked
  // before (it may have been seen first below the depth). Without it, every
  // phrase is new and asked (runMutex_ held).
  struct Sighting {
    bool repeat, ask;
  };
  Sighting See(std::string_view phrase, bool listed, bool withinDepth) REQUIRES(runMutex_);
  // "采集完成,空闲等待中,相关关键字共(N)个", and ",不重复(M)个" after it
  // when the list holds repeats (window thread).
  Text DoneText();
  // Redraws the progress field from the run's counts (monitor thread).
  void ShowProgress(Generation generation) EXCLUDES(runMutex_);
  // The identity a task is to ask through: its probe's, one whose rest
  // just ended, else the least busy for its rate; none while every identity
  // rests (runMutex_ held).
  std::shared_ptr<Identity> ChooseIdentity(std::int32_t record) REQUIRES(runMutex_);
  // Whether an identity besides the one given may ask now, or takes the next task as its probe.
  bool AnyAsking(const Identity* besides = nullptr) const REQUIRES(runMutex_);
  // A task that could not ask goes to another identity now, or waits for
  // one to be free: among the pages turned away (first, for a probe) or
  // those held back.
  enum class Waits { kTurnedAway, kTurnedAwayFirst, kHeldBack };
  void Requeue(std::int32_t record, Waits waits, Generation generation) REQUIRES(runMutex_);
  // Starts a hold of the identity, or gives it up after too many in a row
  // and marks the run for its end when none is left (runMutex_ held).
  void StartHold(Identity& identity) REQUIRES(runMutex_);
  // Rests a proxy that failed, longer each time in a row.
  void StartFailRest(Identity& identity) REQUIRES(runMutex_);
  // The identity's probe was served: its hold is over, and what waited for
  // an identity is posted, the pages turned away first (runMutex_ held).
  void EndHold(Identity& identity, Generation generation) REQUIRES(runMutex_);
  // Whether every identity is given up, or has never worked (runMutex_ held).
  bool AllBlocked() const REQUIRES(runMutex_);
  // Whether an identity besides the one given may still serve: one not given
  // up, and not a proxy that has only failed (runMutex_ held).
  bool AnyAlive(const Identity* besides) const REQUIRES(runMutex_);
  static bool NeverWorked(const Identity& identity);
  // Posts the tasks whose wait is over (runMutex_ held).
  void PostWaitingTasks(Generation generation) REQUIRES(runMutex_);
  // Ends a run turned away by the engine as a stop would (monitor thread).
  void EndBlockedRun(Generation generation) EXCLUDES(runMutex_);

  MainComponents ui_;
  UiThread& window_;
  Dialogs& dialogs_;
  const Options options_;
  const Settings settings_;

  ThreadPool workerPool_;
  std::atomic<Generation> generation_{0};  // changed under runMutex_, on the window thread
  std::atomic<std::int32_t> harvestDepth_{0};
  std::atomic<std::int64_t> pagesFetched_{0};
  std::atomic<std::int32_t> deepestLevel_{0};

  Mutex runMutex_;
  std::condition_variable cutOff_;  // the generation changed
  JSON taskRecords_ GUARDED_BY(runMutex_);
  // Beside each record, by index, when onPhrase listens: the record whose page
  // gave its keyword (-1 for a seed) and the seed it descends from. Indexes,
  // not texts: the texts are read from those records when a phrase is told.
  // A deque grows without the copy a vector makes, which would be the peak.
  struct Origin {
    std::int32_t parent, seed, position;  // position: on the parent's page, or in the seed list, from 1
  };
  std::deque<Origin> origins_ GUARDED_BY(runMutex_);
  // What each record's keyword is asked from, by index.
  std::deque<PhraseSource> recordSources_ GUARDED_BY(runMutex_);
  std::int32_t pendingTasks_ GUARDED_BY(runMutex_) = 0;
  PageCounts pageCounts_ GUARDED_BY(runMutex_){};
  std::int64_t unrecognised_ GUARDED_BY(runMutex_) = 0;
  // Tasks of the run that wait, still counted in pendingTasks_: failed pages
  // until their retry is due, pages turned away and tasks taken during a hold
  // until it ends (those first).
  struct Retry {
    std::chrono::steady_clock::time_point due;
    std::int32_t record;
  };
  std::vector<Retry> retries_ GUARDED_BY(runMutex_);
  std::vector<std::int32_t> turnedAway_ GUARDED_BY(runMutex_);
  std::vector<std::int32_t> heldBack_ GUARDED_BY(runMutex_);
  std::unordered_map<std::int32_t, std::int32_t> retriesMade_ GUARDED_BY(runMutex_);  // by record
  std::int32_t retryLimit_ GUARDED_BY(runMutex_) = 2;
  // The run's identities, shared with tasks that may outlive the run; their
  // state changes under runMutex_. A record posted as an identity's probe is
  // asked through that identity.
  std::vector<std::shared_ptr<Identity>> identities_ GUARDED_BY(runMutex_);
  std::unordered_map<std::int32_t, std::shared_ptr<Identity>> probes_ GUARDED_BY(runMutex_);
  std::uint32_t nextIdentity_ GUARDED_BY(runMutex_) = 0;  // where the search for the least busy begins
  // The run's phrases asked, with each phrase once.
  std::optional<PhraseSet> asked_ GUARDED_BY(runMutex_);
  std::int64_t repeats_ GUARDED_BY(runMutex_) = 0;
  // The run's filters (null: none) and the phrases they turned away.
  std::shared_ptr<const PhraseFilter> filter_ GUARDED_BY(runMutex_);
  std::int64_t filtered_ GUARDED_BY(runMutex_) = 0;
  std::atomic<bool> filterNeedsSeed_{false};       // set at a start, before any task
  bool blockedEnd_ GUARDED_BY(runMutex_) = false;  // the engine turned the run away for good

  // The window's run journal (window thread only), what the run continued
  // got before, and the journal handed from OfferToContinue to the start.
  std::optional<AppendFile> runJournal_;
  std::chrono::steady_clock::time_point runJournalSynced_;
  std::shared_ptr<const JournalContents> resumed_ GUARDED_BY(runMutex_);
  std::optional<AppendFile> continuing_;
  std::shared_ptr<const JournalContents> continued_;

  // The current run's monitor; window thread only.
  std::thread monitorThread_;
  // The text the lists' find looks for (window thread only).
  Text findText_;
};

}  // namespace kelvarn
