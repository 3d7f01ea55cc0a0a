#include "tests/support/ManualClock.h"

#include <algorithm>

namespace kv::test {

class ManualClock::ClockTimer : public Timer {
 public:
  explicit ClockTimer(ManualClock& clock) : clock_(&clock) { clock.timers_.push_back(this); }
  ~ClockTimer() override {
    if (clock_ != nullptr) std::erase(clock_->timers_, this);
  }

  void Detach() { clock_ = nullptr; }
  void FireOnce() { Fire(); }

  std::uint64_t due = 0;
  std::uint64_t start = 0;

 protected:
  void Restart() override {
    if (clock_ == nullptr) return;
    due = clock_->now_ + Interval();
    start = ++clock_->starts_;
  }

 private:
  ManualClock* clock_;
};

ManualClock::ManualClock() : installed_(*this) {}

ManualClock::~ManualClock() {
  for (ClockTimer* timer : timers_) timer->Detach();
}

std::unique_ptr<Timer> ManualClock::CreateTimer() {
  return std::make_unique<ClockTimer>(*this);
}

void ManualClock::Advance(std::uint64_t milliseconds) {
  const std::uint64_t target = now_ + milliseconds;
  for (;;) {
    ClockTimer* next = nullptr;
    for (ClockTimer* timer : timers_) {
      if (!timer->Running() || timer->due > target) continue;
      if (next == nullptr || timer->due < next->due ||
          (timer->due == next->due && timer->start < next->start)) {
        next = timer;
      }
    }
    if (next == nullptr) break;
    now_ = next->due;
    // The next period counts from this due time; a handler that changes the timer restarts it.
    next->due += next->Interval();
    next->start = ++starts_;
    next->FireOnce();
  }
  now_ = target;
}

std::size_t ManualClock::RunningTimers() const {
  return static_cast<std::size_t>(
      std::count_if(timers_.begin(), timers_.end(), [](const ClockTimer* t) { return t->Running(); }));
}

}  // namespace kv::test
