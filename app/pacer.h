// Pacing: how fast one identity (a way to the engine with its own cookies;
// today the direct connection) asks for pages. The engine lets each client
// ask at some sustained rate with a burst on top, and answers anything more
// with verification pages for a while; asking during that while prolongs it.
//
// A Pacer is a token bucket of one token in front of the identity's
// requests: a worker waits for the token before it sends, so requests leave
// evenly spaced, never in a burst the engine might not allow; and never more
// are in flight than one second's worth, so a block draws a verification
// page or two, not one per worker. A RateFinder picks the bucket's rate when the user asks
// for "auto".
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/thread_safety.h"

namespace kelvarn {

using PaceClock = std::chrono::steady_clock;

// What the user asked for: no pacing (the run asks as fast as its workers
// go), a fixed number of requests a minute, or the rate found by itself.
struct Pace {
  enum class Mode { kOff, kFixed, kAuto };
  Mode mode = Mode::kOff;
  double perMinute = 0;  // kFixed: 1 to 100000
};

// "0" (off), "auto", or a whole number of requests a minute, 1 to 100000,
// with spaces around allowed; nothing for anything else.
std::optional<Pace> ParsePace(std::string_view text);
// The text ParsePace reads back: "0", "auto" or the number.
std::string PaceText(const Pace& pace);

// Finds how fast the engine lets one identity ask, from what its pages say.
// Not thread-safe: the Pacer calls it under its lock. Times are passed in, so
// that tests can run it against a model of the engine in simulated time.
//
// The engine allows a rate R and a burst B: a stretch of requests at one
// rate above R, from a rest to the block, holds B + R×T pages in its T
// seconds, so stretches of different length give R. The finder starts
// modestly and doubles the rate every half second of clean pages, as TCP's
// slow start does. At the first verification page it drops well below the
// rate that drew it, to the pages a second the stretch got, less a margin;
// at each later one to R's estimate less a margin (or by a quarter). From
// the first block on it raises the rate only slowly, 1% a minute of clean
// pages, never above R's estimate nor within 3% of a rate that drew a block.
class RateFinder {
 public:
  static constexpr double kStartPerSecond = 2;
  static constexpr double kMinPerSecond = 1.0 / 60;
  static constexpr double kMaxPerSecond = 2000;

  double PerSecond() const { return rate_; }
  // A request leaves at `at`.
  void Sent(PaceClock::time_point at);
  // The answer to a request sent at `sentAt`: a page the engine served (of
  // phrases, of no block, of an error status) or a verification page.
  // Failures that say nothing of the engine's limit are not reported.
  void Answered(PaceClock::time_point sentAt, bool verification);
  // The run goes on after a rest: a new stretch begins with the next request.
  void Resumed(PaceClock::time_point at);
  std::optional<double> EstimatedPerSecond() const { return estimate_; }

 private:
  // Where the slow start doubled: seconds into the stretch, clean pages by
  // then, and the rate from then on.
  struct Step {
    double seconds, pages, rate;
  };
  struct Stretch {
    double seconds, pages;
    bool steady;             // at one rate throughout, after a rest
    std::vector<Step> ramp;  // the slow start's
  };
  // The slope of the least-squares line pages = B + R×T through the points.
  // fromRate: the slow start's stretch counts from where its rate passed R,
  // since before that the bucket stayed full and its refill was wasted; R is
  // not known, so the line is fitted again from its own slope, a few times.
  static std::optional<double> Slope(const std::vector<Stretch>& points, bool fromRate);
  void Raise(PaceClock::time_point now);

  double rate_ = kStartPerSecond;
  bool slowStart_ = true;
  bool steady_ = false;  // the rate has not changed since the stretch began
  std::optional<double> lowestBlocked_;
  std::optional<double> estimate_;
  bool exact_ = false;              // the estimate comes from stretches far apart in length
  std::vector<Stretch> stretches_;  // each ended by a block; the last 32
  std::optional<PaceClock::time_point> stretchStart_, cleanSince_;
  double stretchPages_ = 0;
  std::vector<Step> ramp_;
  bool blocked_ = false;  // from a block to the next rest's end
};

class Pacer {
 public:
  explicit Pacer(Pace pace);

  bool Paced() const { return pace_.mode != Pace::Mode::kOff; }
  // Waits until a request may leave: a token is there, fewer requests than
  // the bucket holds are in flight and no earlier waiter is ahead. False,
  // without a token, as soon as stop() is true: it is asked at every Wake()
  // and at least every 100 ms. Unpaced, returns true at once.
  bool Acquire(const std::function<bool()>& stop) EXCLUDES(mutex_);
  // The request taken by Acquire ended: `verification` when the engine
  // turned it away; `answered` false when it says nothing of the limit (a
  // failure, a stop).
  void Release(PaceClock::time_point sentAt, bool answered, bool verification) EXCLUDES(mutex_);
  // The run goes on after a hold: tokens start from the empty bucket.
  void Resumed() EXCLUDES(mutex_);
  // Rouses the waiters, so that they look at their stop() again.
  void Wake() EXCLUDES(mutex_);
  // Requests a minute now; 0 when unpaced.
  double PerMinute() const EXCLUDES(mutex_);

 private:
  // Requests in flight at most: one second's worth, at least one.
  double InFlightLimit() const REQUIRES(mutex_);
  double PerSecond() const REQUIRES(mutex_);
  void Refill(PaceClock::time_point now) REQUIRES(mutex_);
  void Changed() REQUIRES(mutex_);  // wakes the waiters

  const Pace pace_;
  mutable Mutex mutex_;
  std::condition_variable changed_;
  RateFinder finder_ GUARDED_BY(mutex_);
  double tokens_ GUARDED_BY(mutex_) = 1;
  PaceClock::time_point refilled_ GUARDED_BY(mutex_);
  std::int32_t inFlight_ GUARDED_BY(mutex_) = 0;
  std::uint64_t changes_ GUARDED_BY(mutex_) = 0;
  // Waiters in the order they came, by ticket: the first is served first.
  std::uint64_t nextTicket_ GUARDED_BY(mutex_) = 0;
  std::deque<std::uint64_t> waiting_ GUARDED_BY(mutex_);
};

}  // namespace kelvarn
