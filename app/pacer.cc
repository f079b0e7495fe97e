#include "app/pacer.h"

#include <algorithm>
#include <cmath>

namespace kelvarn {
namespace {

constexpr double kMaxPerMinute = 100000;

double Seconds(PaceClock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

std::optional<Pace> ParsePace(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text == "auto") return Pace{Pace::Mode::kAuto, 0};
  if (text.empty() || text.size() > 6) return std::nullopt;
  double n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n > kMaxPerMinute) return std::nullopt;
  if (n == 0) return Pace{};
  return Pace{Pace::Mode::kFixed, n};
}

std::string PaceText(const Pace& pace) {
  switch (pace.mode) {
    case Pace::Mode::kOff:
      return "0";
    case Pace::Mode::kAuto:
      return "auto";
    case Pace::Mode::kFixed:
      break;
  }
  return std::to_string(static_cast<std::int64_t>(pace.perMinute));
}

void RateFinder::Sent(PaceClock::time_point at) {
  if (!stretchStart_) stretchStart_ = at;
  if (!cleanSince_) cleanSince_ = at;
  Raise(at);
}

void RateFinder::Answered(PaceClock::time_point sentAt, bool verification) {
  if (!verification) {
    // A page sent before the stretch's block still counts in its stretch;
    // one sent after it (the probe's) belongs to the next.
    if (!blocked_) stretchPages_ += 1;
    return;
  }
  if (blocked_) return;  // the block is known already: one drop a block
  blocked_ = true;
  const double drew = rate_;
  lowestBlocked_ = std::min(lowestBlocked_.value_or(drew), drew);
  if (stretchStart_) {
    const double seconds = Seconds(sentAt - *stretchStart_);
    if (seconds > 0.5) stretches_.push_back({seconds, stretchPages_});
  }
  // A least-squares line through the stretches (pages = B + R×T), when
  // their lengths differ enough to tell a slope: R is the allowance.
  estimate_.reset();
  if (stretches_.size() >= 2) {
    double st = 0, sp = 0, stt = 0, stp = 0;
    const double n = static_cast<double>(stretches_.size());
    for (const Stretch& s : stretches_) st += s.seconds, sp += s.pages, stt += s.seconds * s.seconds,
                                        stp += s.seconds * s.pages;
    const double spread = stt - st * st / n;
    const double shortest = std::min_element(stretches_.begin(), stretches_.end(), [](auto& a, auto& b) {
                              return a.seconds < b.seconds;
                            })->seconds;
    const double longest = std::max_element(stretches_.begin(), stretches_.end(), [](auto& a, auto& b) {
                             return a.seconds < b.seconds;
                           })->seconds;
    if (longest > shortest * 1.5 && spread > 0) {
      const double slope = (stp - st * sp / n) / spread;
      if (slope > 0 && slope < drew) estimate_ = slope;
    }
  }
  const double margin = 0.92;
  rate_ = estimate_ ? std::min(*estimate_ * margin, drew * 0.8) : drew / 2;
  rate_ = std::clamp(rate_, kMinPerSecond, kMaxPerSecond);
  slowStart_ = false;
}

void RateFinder::Resumed(PaceClock::time_point at) {
  blocked_ = false;
  stretchStart_ = at;
  cleanSince_ = at;
  stretchPages_ = 0;
}

void RateFinder::Raise(PaceClock::time_point now) {
  if (blocked_ || !cleanSince_) return;
  const double clean = Seconds(now - *cleanSince_);
  if (slowStart_) {
    if (clean < 2) return;
    rate_ = std::min(rate_ * 2, kMaxPerSecond);
  } else {
    if (clean < 60) return;
    const double ceiling = lowestBlocked_ ? *lowestBlocked_ * 0.97 : kMaxPerSecond;
    rate_ = std::max(rate_, std::min(rate_ * 1.01, ceiling));
  }
  cleanSince_ = now;
}

Pacer::Pacer(Pace pace) : pace_(pace), refilled_(PaceClock::now()) {}

double Pacer::PerSecond() const {
  return pace_.mode == Pace::Mode::kAuto ? finder_.PerSecond() : pace_.perMinute / 60;
}

double Pacer::Capacity() const { return std::max(1.0, std::floor(PerSecond())); }

void Pacer::Refill(PaceClock::time_point now) {
  tokens_ = std::min(Capacity(), tokens_ + Seconds(now - refilled_) * PerSecond());
  refilled_ = now;
}

bool Pacer::Acquire(const std::function<bool()>& stop) {
  if (!Paced()) return true;
  MutexLock lock(mutex_);
  const std::uint64_t ticket = nextTicket_++;
  waiting_.push_back(ticket);
  for (;;) {
    if (stop()) {
      waiting_.erase(std::find(waiting_.begin(), waiting_.end(), ticket));
      Changed();  // the next in line may be first now
      return false;
    }
    const PaceClock::time_point now = PaceClock::now();
    Refill(now);
    auto wait = std::chrono::milliseconds(100);
    if (waiting_.front() == ticket && inFlight_ < static_cast<std::int32_t>(Capacity())) {
      if (tokens_ >= 1) {
        tokens_ -= 1;
        ++inFlight_;
        waiting_.pop_front();
        if (pace_.mode == Pace::Mode::kAuto) finder_.Sent(now);
        Changed();
        return true;
      }
      const auto due = std::chrono::duration<double>((1 - tokens_) / PerSecond());
      wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(due));
    }
    const std::uint64_t seen = changes_;
    mutex_.WaitFor(changed_, wait, [&]() REQUIRES(mutex_) { return changes_ != seen; });
  }
}

void Pacer::Release(PaceClock::time_point sentAt, bool answered, bool verification) {
  if (!Paced()) return;
  MutexLock lock(mutex_);
  --inFlight_;
  if (pace_.mode == Pace::Mode::kAuto && answered) {
    Refill(PaceClock::now());
    finder_.Answered(sentAt, verification);
  }
  Changed();
}

void Pacer::Changed() {
  ++changes_;
  changed_.notify_all();
}

void Pacer::Resumed() {
  if (!Paced()) return;
  MutexLock lock(mutex_);
  const PaceClock::time_point now = PaceClock::now();
  tokens_ = 1;
  refilled_ = now;
  if (pace_.mode == Pace::Mode::kAuto) finder_.Resumed(now);
  Changed();
}

void Pacer::Wake() {
  MutexLock lock(mutex_);
  Changed();
}

double Pacer::PerMinute() const {
  if (!Paced()) return 0;
  MutexLock lock(mutex_);
  return PerSecond() * 60;
}

}  // namespace kelvarn
