#include "platform/Timers.h"

namespace kv {

namespace {

class IdleTimer : public Timer {
 protected:
  void Restart() override {}
};

class IdleTimerFactory : public TimerFactory {
 public:
  std::unique_ptr<Timer> CreateTimer() override { return std::make_unique<IdleTimer>(); }
};

TimerFactory* installed = nullptr;

}  // namespace

void Timer::SetInterval(std::uint32_t milliseconds) {
  if (milliseconds == interval_) return;
  interval_ = milliseconds;
  Restart();
}

void Timer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Restart();
}

void Timer::SetOnTimer(Handler handler) {
  onTimer_ = std::move(handler);
  Restart();
}

void Timer::Fire() {
  if (!Running()) return;
  // A copy: the handler may replace itself or destroy the timer.
  const Handler handler = onTimer_;
  handler();
}

TimerFactory& Timers() {
  static IdleTimerFactory idle;
  return installed != nullptr ? *installed : idle;
}

void SetTimers(TimerFactory* factory) {
  installed = factory;
}

ScopedTimers::ScopedTimers(TimerFactory& factory) : previous_(installed) {
  SetTimers(&factory);
}

ScopedTimers::~ScopedTimers() {
  SetTimers(previous_);
}

std::unique_ptr<Timer> CreateTimer(std::uint32_t intervalMs, bool enabled, Timer::Handler onTimer) {
  std::unique_ptr<Timer> timer = Timers().CreateTimer();
  timer->SetEnabled(false);
  timer->SetInterval(intervalMs);
  timer->SetOnTimer(std::move(onTimer));
  timer->SetEnabled(enabled);
  return timer;
}

}  // namespace kv
