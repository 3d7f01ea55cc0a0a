// The timers port: periodic timers the core creates (the connection module's user registration
// and free-disk-space watch). The program installs a factory whose timers fire from its event
// loop, tests a manual clock; while none is installed, timers are created but never fire.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace kv {

// A periodic timer, as the toolkit's timer component: it runs while it is enabled, has an interval
// above 0 and a handler, and then calls the handler each time the interval has elapsed.
class Timer {
 public:
  using Handler = std::function<void()>;

  virtual ~Timer() = default;
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  std::uint32_t Interval() const { return interval_; }
  bool Enabled() const { return enabled_; }
  bool Running() const { return enabled_ && interval_ > 0 && onTimer_ != nullptr; }

  // A changed interval or state, or a new handler, starts the count again from now.
  void SetInterval(std::uint32_t milliseconds);
  void SetEnabled(bool enabled);
  void SetOnTimer(Handler handler);

 protected:
  Timer() = default;
  // For the backend, each time the interval has elapsed. The handler may change or destroy the
  // timer: nothing of it is used after the call.
  void Fire();
  // For the backend: Running() or the interval may have changed; count from now, or stop.
  virtual void Restart() = 0;

 private:
  std::uint32_t interval_ = 1000;
  bool enabled_ = true;
  Handler onTimer_;
};

class TimerFactory {
 public:
  virtual ~TimerFactory() = default;
  // A new timer with the defaults: interval 1000 ms, enabled, no handler.
  virtual std::unique_ptr<Timer> CreateTimer() = 0;
};

// The factory in effect; until one is installed, one whose timers never fire.
TimerFactory& Timers();
// Installs a factory (not owned); nullptr restores the default one. Timers already created keep
// the factory that made them.
void SetTimers(TimerFactory* factory);

// Installs a factory for the guard's life; the previous one comes back afterwards.
class ScopedTimers {
 public:
  explicit ScopedTimers(TimerFactory& factory);
  ~ScopedTimers();
  ScopedTimers(const ScopedTimers&) = delete;
  ScopedTimers& operator=(const ScopedTimers&) = delete;

 private:
  TimerFactory* previous_;
};

// A timer of the factory in effect, counting from now when it runs.
std::unique_ptr<Timer> CreateTimer(std::uint32_t intervalMs, bool enabled, Timer::Handler onTimer);

}  // namespace kv
