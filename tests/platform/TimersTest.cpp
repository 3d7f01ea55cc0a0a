// The timers port: the default factory, and the manual clock that tests of timed behaviour use.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/Timers.h"
#include "tests/support/ManualClock.h"

namespace kv::test {

namespace {

// Each firing as "name@ms" on the clock.
struct FiringLog {
  const ManualClock& clock;
  std::vector<std::string> entries;

  Timer::Handler Record(const std::string& name) {
    return [this, name] { entries.push_back(name + "@" + std::to_string(clock.Now())); };
  }
};

}  // namespace

TEST(Timers, CreatedTimerHoldsItsSettings) {
  ManualClock clock;
  const auto timer = CreateTimer(1800000, true, [] {});
  EXPECT_EQ(timer->Interval(), 1800000u);
  EXPECT_TRUE(timer->Enabled());
  EXPECT_TRUE(timer->Running());
  const auto stopped = CreateTimer(500, false, [] {});
  EXPECT_FALSE(stopped->Enabled());
  EXPECT_FALSE(stopped->Running());
  EXPECT_EQ(clock.RunningTimers(), 1u);
}

TEST(Timers, WithoutAnInstalledFactoryTimersNeverFire) {
  int fired = 0;
  const auto timer = CreateTimer(10, true, [&] { ++fired; });
  EXPECT_TRUE(timer->Running());
  ManualClock clock;  // a clock installed later does not drive the timer made before it
  clock.Advance(1000);
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(clock.RunningTimers(), 0u);
}

TEST(Timers, ScopedFactoryIsRemovedWithItsGuard) {
  TimerFactory& before = Timers();
  {
    ManualClock clock;
    EXPECT_EQ(&Timers(), &clock);
  }
  EXPECT_EQ(&Timers(), &before);
}

TEST(ManualClock, ConnectionModuleTimersFireInTheOrderTheyFallDue) {
  ManualClock clock;
  FiringLog log{clock, {}};
  const auto users = CreateTimer(1800000, true, log.Record("users"));
  const auto disk = CreateTimer(3600000, true, log.Record("disk"));
  clock.Advance(1799999);
  EXPECT_TRUE(log.entries.empty());
  clock.Advance(1);
  EXPECT_EQ(log.entries, (std::vector<std::string>{"users@1800000"}));
  // To 7,200,000 in one step: every due firing, in order; at the same moment, the timer whose
  // period began first (the disk check's began at 0, the users' last one at 1,800,000).
  clock.Advance(5400000);
  EXPECT_EQ(log.entries, (std::vector<std::string>{"users@1800000", "disk@3600000", "users@3600000",
                                                   "users@5400000", "disk@7200000", "users@7200000"}));
  EXPECT_EQ(clock.Now(), 7200000u);
}

TEST(ManualClock, DisabledTimerWaitsAndCountsAgainFromItsEnabling) {
  ManualClock clock;
  FiringLog log{clock, {}};
  const auto timer = CreateTimer(100, false, log.Record("t"));
  clock.Advance(1000);
  EXPECT_TRUE(log.entries.empty());
  timer->SetEnabled(true);
  clock.Advance(250);
  EXPECT_EQ(log.entries, (std::vector<std::string>{"t@1100", "t@1200"}));
  timer->SetEnabled(false);
  clock.Advance(1000);
  EXPECT_EQ(log.entries.size(), 2u);
}

TEST(ManualClock, NewIntervalCountsFromNow) {
  ManualClock clock;
  FiringLog log{clock, {}};
  const auto timer = CreateTimer(100, true, log.Record("t"));
  clock.Advance(90);
  timer->SetInterval(50);
  clock.Advance(100);
  EXPECT_EQ(log.entries, (std::vector<std::string>{"t@140", "t@190"}));
}

TEST(ManualClock, ZeroIntervalOrNoHandlerNeverFires) {
  ManualClock clock;
  int fired = 0;
  const auto zero = CreateTimer(0, true, [&] { ++fired; });
  const auto none = CreateTimer(10, true, nullptr);
  clock.Advance(1000);
  EXPECT_EQ(fired, 0);
  EXPECT_FALSE(zero->Running());
  EXPECT_FALSE(none->Running());
}

TEST(ManualClock, HandlerMayStopOrDestroyItsOwnTimer) {
  ManualClock clock;
  int stopped = 0, destroyed = 0;
  std::unique_ptr<Timer> once;
  once = CreateTimer(10, true, [&] {
    ++stopped;
    once->SetEnabled(false);
  });
  std::unique_ptr<Timer> gone;
  gone = CreateTimer(10, true, [&] {
    ++destroyed;
    gone.reset();
  });
  clock.Advance(100);
  EXPECT_EQ(stopped, 1);
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(gone, nullptr);
}

TEST(ManualClock, DestroyedTimerIsForgotten) {
  ManualClock clock;
  int fired = 0;
  auto timer = CreateTimer(10, true, [&] { ++fired; });
  timer.reset();
  clock.Advance(100);
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(clock.RunningTimers(), 0u);
}

TEST(ManualClock, TimerMayOutliveItsClock) {
  std::unique_ptr<Timer> timer;
  {
    ManualClock clock;
    timer = CreateTimer(10, true, [] {});
  }
  timer->SetInterval(20);  // no clock to tell any more
  EXPECT_EQ(timer->Interval(), 20u);
}

}  // namespace kv::test
