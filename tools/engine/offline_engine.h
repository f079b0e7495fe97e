// The offline search engine: a real HTTP server on 127.0.0.1 that stands in
// for the web search engine in tests, demos and benchmarks.
//
// GET /s?wd=<percent-encoded GBK keyword> answers a results page in one of
// the engine's layouts (below), GBK or UTF-8 as that layout was, whose related
// phrases are made deterministically from the keyword out of a small GBK
// vocabulary: pages differ, phrases repeat across pages, and every phrase has
// a page of its own, so the tree has any depth. /s?word=<...>, as the phone
// page's links write it, is the same request. GET /stats answers
// "requests N". A "fault" query key overrides the server's fault mode for one
// request.
//
// GET /su?wd=<percent-encoded keyword>&action=opensearch&ie=utf-8 answers the
// keyword's search suggestions as the engine's drop-down list gets them,
// ["keyword",["phrase",…]] in UTF-8 (the keyword is read as GBK unless
// ie=utf-8): other phrases than its related ones, a few the same. The
// policy limits them in buckets of their own; the verify, error and garbage
// faults spoil them as they do pages, and the others leave them alone.
//
// Like the real engine it sets a cookie on a response to a request that has
// none, and it can turn clients away: a search request it blocks is
// redirected to its verification page under /static/captcha/, a UTF-8 page
// titled "百度安全验证".
//
// Thread safety: Start and Stop from one thread; RequestCount from any.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "text/text.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace kelvarn {

enum class EngineFault {
  kNone,
  kErrorStatus,   // 500 with a short body
  kReset,         // the connection closes halfway through the body
  kStall,         // half the body, then nothing until the server stops (at most 60 s)
  kHuge,          // a 200 MiB body
  kTrickle,       // the page at one byte a second (until the server stops)
  kGarbage,       // 64 KiB of random bytes
  kRedirect,      // 302 to the same page, which then answers normally
  kRedirectLoop,  // 302 to the same page, for ever
  kNoBlockEnd,    // the related-searches block never ends
  kUpperCase,     // links end in "</A>"
  kVerify,        // every search request is sent to the verification page
};

// "error", "reset", "stall", "huge", "trickle", "garbage", "redirect",
// "redirect-loop", "no-block-end", "upper-case", "verify" or "none".
std::optional<EngineFault> ParseEngineFault(std::string_view name);

// The forms of the related-searches block the engine has served, each in
// the encoding it used: classic and 2008 in GBK, the others in UTF-8. 2022 is
// the 2021 block as late-2022 pages write it: on many indented lines, its data
// in a comment ahead of the label, icons and character references in some
// links, and a script naming the label earlier on the page. Mobile is the
// page phones get, its links in a list, not a table. Mixed picks one of the
// six by the keyword. Benchmarks index the forms by number: new ones go
// before kMixed.
enum class EngineLayout { kClassic, k2008, k2018, k2021, k2022, kMobile, kMixed };

// "classic", "2008", "2018", "2021", "2022", "mobile" or "mixed".
std::optional<EngineLayout> ParseEngineLayout(std::string_view name);

// A model of the real engine's limit on each client. An identity is the
// client's source address and the engine's cookie, or none. Each has a token
// bucket of `burst` pages refilled at `rate` a second; a request that finds it
// empty starts a block of `penaltySeconds` of verification pages, and every
// request during a block starts the penalty again. An identity without the
// cookie is distrusted: it gets rate and burst times `cookieless`.
struct EnginePolicy {
  double rate = 0;  // pages a second; 0: no limit
  double burst = 1;
  double penaltySeconds = 0;
  double cookieless = 1;
};

// "rate=R,burst=B,penalty=S,cookieless=C", any of them in any order; nothing
// for a malformed text, a negative value, or a rate without a burst of at
// least one page.
std::optional<EnginePolicy> ParseEnginePolicy(std::string_view text);

// The policy's state for every identity. Thread-safe.
class EngineLimits {
 public:
  using Clock = std::chrono::steady_clock;
  explicit EngineLimits(EnginePolicy policy) : policy_(policy) {}

  // Whether the identity's request at `now` gets its page (true) or the
  // verification page.
  bool Admit(const std::string& identity, bool hasCookie, Clock::time_point now);
  // "identity ADDRESS COOKIE pages N verification N blocks N" lines, one an
  // identity, in the order of their names.
  std::string Report() const;

 private:
  struct Identity {
    double tokens = 0;
    Clock::time_point refilled;
    std::optional<Clock::time_point> blockedUntil;
    std::uint64_t pages = 0, verifications = 0, blocks = 0;
  };
  const EnginePolicy policy_;
  mutable std::mutex mutex_;
  std::map<std::string, Identity> identities_;  // guarded by mutex_
};

struct EngineOptions {
  int port = 0;  // 0: any free port
  int phrasesPerPage = 10;
  int latencyMs = 0;          // added before every answer
  int jitterMs = 0;           // +- this much, uniformly
  std::size_t pageBytes = 0;  // pad pages with result entries to about this size
  EngineFault fault = EngineFault::kNone;
  // After this many search requests (0: never), block every search request
  // for blockMs, then serve again.
  int blockAfter = 0;
  int blockMs = 0;
  bool requireCookie = false;  // block every search request without the engine's cookie
  int failFirst = 0;           // answer the first N search requests with 503
  EngineLayout layout = EngineLayout::kClassic;
  EnginePolicy policy;    // no limit unless its rate is set
  std::string blockFrom;  // block every search request from this source address
};

class OfflineEngine {
 public:
  explicit OfflineEngine(EngineOptions options = {});
  ~OfflineEngine();  // stops
  OfflineEngine(const OfflineEngine&) = delete;
  OfflineEngine& operator=(const OfflineEngine&) = delete;

  // Binds 127.0.0.1 and serves on threads of its own. Returns the port, or
  // -1 when it cannot bind.
  int Start();
  void Stop();

  int Port() const { return port_; }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // Search requests answered so far, and how many of them were blocked.
  std::uint64_t RequestCount() const { return requests_.load(); }
  std::uint64_t BlockedCount() const { return blocked_.load(); }
  // The policy's count of each identity, as /stats gives it.
  std::string LimitsReport() const { return limits_.Report(); }
  // Search requests that carried the engine's cookie.
  std::uint64_t CookieCount() const { return withCookie_.load(); }
  // Suggestion requests (/su) answered so far, blocked ones too.
  std::uint64_t SuggestCount() const { return suggestions_.load(); }

  // The related phrases of a keyword's page, in page order.
  static TextArray PhrasesFor(std::string_view keyword, int count);
  // The suggestions for a keyword, in list order: three words each, but
  // every third is the related phrase at its place.
  static TextArray SuggestionsFor(std::string_view keyword, int count);
  // The whole page of a keyword, and whether it is UTF-8.
  static Text PageFor(std::string_view keyword, const EngineOptions& options, EngineFault fault);
  static bool IsUtf8Page(std::string_view keyword, const EngineOptions& options);

 private:
  EngineOptions options_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  // A search request, /s: the page of its keyword, spoilt by its fault, or
  // the request turned away.
  void ServeSearch(const httplib::Request& req, httplib::Response& res);
  // Sets the engine's cookie on a client that has none, and turns the request
  // away when it should: to the verification page (the verify fault, or
  // blocked), or with 503 among the first failFirst. True when it did.
  bool TurnsAway(const httplib::Request& req, httplib::Response& res, const std::string& keyword, std::uint64_t number,
                 EngineFault fault);
  // Answers with the keyword's page as the fault spoils it.
  void Answer(EngineFault fault, const httplib::Request& req, httplib::Response& res, const std::string& keyword);
  // Whether this search request is turned away to the verification page.
  bool Blocks(bool hasCookie);
  // A suggestion request, /su: the list, spoilt by its fault, or the
  // request turned away.
  void ServeSuggest(const httplib::Request& req, httplib::Response& res);

  std::atomic<std::uint64_t> requests_{0}, blocked_{0}, withCookie_{0}, suggestions_{0};
  std::mutex blockMutex_;
  int beforeBlock_ = 0;                                                // guarded by blockMutex_
  std::optional<std::chrono::steady_clock::time_point> blockedUntil_;  // guarded by blockMutex_
  EngineLimits limits_;
  EngineLimits suggestLimits_;  // the same policy, counted apart: the list is a service of its own
  std::atomic<bool> stopping_{false};
  int port_ = -1;
};

}  // namespace kelvarn
