// A clock for tests of timed behaviour: installed as the timers factory for its life, it never
// moves by itself. Advance(ms) moves it forward and fires every timer that falls due on the way,
// in the order of their due times (timers due at the same moment in the order their current
// periods began), a periodic timer as many times as its interval fits.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Timers.h"

namespace kv::test {

class ManualClock : public TimerFactory {
 public:
  ManualClock();
  ~ManualClock() override;
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;

  std::unique_ptr<Timer> CreateTimer() override;

  void Advance(std::uint64_t milliseconds);
  // Milliseconds advanced since the clock was made.
  std::uint64_t Now() const { return now_; }
  // Timers of this clock that exist and run.
  std::size_t RunningTimers() const;

 private:
  class ClockTimer;
  friend class ClockTimer;

  std::vector<ClockTimer*> timers_;
  std::uint64_t now_ = 0;
  std::uint64_t starts_ = 0;  // orders timers due at the same moment
  ScopedTimers installed_;
};

}  // namespace kv::test
