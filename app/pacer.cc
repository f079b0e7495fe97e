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
  if (blocked_) return;  // the probe, or requests already on their way
  if (!stretchStart_) stretchStart_ = at;
  if (!cleanSince_) cleanSince_ = at;
  Raise(at);
}

void RateFinder::Answered(PaceClock::time_point sentAt, bool verification) {
  if (!verification) {
    // A page sent before the stretch's block counts in its stretch; the
    // probe's belongs to the next.
    if (!blocked_) stretchPages_ += 1;
    return;
  }
  if (blocked_) return;  // one drop a block
  blocked_ = true;
  const double drew = rate_;
  lowestBlocked_ = std::min(lowestBlocked_.value_or(drew), drew);
  const double seconds = stretchStart_ ? Seconds(sentAt - *stretchStart_) : 0;
  if (seconds > 0) stretches_.push_back({seconds, stretchPages_, steady_ && !slowStart_, std::move(ramp_)});
  ramp_.clear();
  if (stretches_.size() > 32) stretches_.erase(stretches_.begin());
  // The stretches at one rate from a rest to a block fit pages = B + R×T
  // exactly; the slow start's from where its rate passed R. Lengths 10 s or
  // more apart tell R well: a small margin will do. Closer ones are at the
  // mercy of a page more or less; then the line through the slow start's
  // whole stretch, which its wasted refill makes too steep, bounds R from
  // above, with a wider margin.
  std::vector<Stretch> points;
  for (const Stretch& s : stretches_) {
    if (s.steady) points.push_back(s);
  }
  if (points.size() < 2) points = stretches_;
  estimate_.reset();
  const auto [shortest, longest] = std::minmax_element(
      points.begin(), points.end(), [](const Stretch& a, const Stretch& b) { return a.seconds < b.seconds; });
  exact_ = points.size() >= 2 && longest->seconds - shortest->seconds >= 10;
  if (const std::optional<double> slope = Slope(points, exact_); slope && *slope < drew) estimate_ = slope;
  if (estimate_) {
    rate_ = std::min(*estimate_ * (exact_ ? 0.95 : 0.8), drew * 0.97);
  } else if (slowStart_ && seconds > 0) {
    rate_ = std::min(drew * 0.6, 0.85 * stretchPages_ / seconds);
  } else {
    rate_ = drew * 0.75;
  }
  rate_ = std::clamp(rate_, kMinPerSecond, kMaxPerSecond);
  slowStart_ = false;
}

std::optional<double> RateFinder::Slope(const std::vector<Stretch>& points, bool fromRate) {
  if (points.size() < 2) return std::nullopt;
  const auto [shortest, longest] = std::minmax_element(
      points.begin(), points.end(), [](const Stretch& a, const Stretch& b) { return a.seconds < b.seconds; });
  if (longest->seconds < shortest->seconds * 1.3) return std::nullopt;  // too alike to tell a slope
  std::optional<double> slope;
  for (int round = 0; round < (fromRate ? 4 : 1); ++round) {
    double st = 0, sp = 0, stt = 0, stp = 0;
    for (const Stretch& s : points) {
      double seconds = s.seconds, pages = s.pages;
      if (slope) {
        const auto passed =
            std::find_if(s.ramp.begin(), s.ramp.end(), [&](const Step& step) { return step.rate > *slope; });
        if (passed != s.ramp.end() && passed->seconds < seconds) seconds -= passed->seconds, pages -= passed->pages;
      }
      st += seconds, sp += pages, stt += seconds * seconds, stp += seconds * pages;
    }
    const double n = static_cast<double>(points.size());
    const double spread = stt - st * st / n;
    if (spread <= 0) break;
    const double next = (stp - st * sp / n) / spread;
    if (next <= 0) break;
    slope = next;
  }
  return slope;
}

void RateFinder::Resumed(PaceClock::time_point at) {
  blocked_ = false;
  steady_ = true;
  stretchStart_.reset();
  cleanSince_ = at;
  stretchPages_ = 0;
  ramp_.clear();
}

void RateFinder::Raise(PaceClock::time_point now) {
  const double clean = Seconds(now - *cleanSince_);
  if (slowStart_) {
    if (ramp_.empty()) ramp_.push_back({0, 0, rate_});
    if (clean < 0.5) return;
    rate_ = std::min(rate_ * 2, kMaxPerSecond);
    ramp_.push_back({Seconds(now - *stretchStart_), stretchPages_, rate_});
  } else {
    if (clean < 60) return;
    double ceiling = lowestBlocked_ ? *lowestBlocked_ * 0.97 : kMaxPerSecond;
    if (estimate_) ceiling = std::min(ceiling, *estimate_ * (exact_ ? 0.98 : 1));
    if (rate_ * 1.01 <= ceiling) rate_ *= 1.01, steady_ = false;
  }
  cleanSince_ = now;
}

Pacer::Pacer(Pace pace) : pace_(pace), refilled_(PaceClock::now()) {}

double Pacer::PerSecond() const { return pace_.mode == Pace::Mode::kAuto ? finder_.PerSecond() : pace_.perMinute / 60; }

double Pacer::InFlightLimit() const { return std::max(1.0, std::floor(PerSecond())); }

void Pacer::Refill(PaceClock::time_point now) {
  tokens_ = std::min(1.0, tokens_ + Seconds(now - refilled_) * PerSecond());
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
    if (waiting_.front() == ticket && inFlight_ < static_cast<std::int32_t>(InFlightLimit())) {
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
  tokens_ = 0;  // the probe took this second's token
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
