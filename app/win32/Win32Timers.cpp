#include "app/win32/Win32Timers.h"

#include <algorithm>
#include <map>

#include "app/win32/SystemApi.h"

namespace kv {

namespace {

class Win32Timer;

// The running timers by the system's timer id: a thread timer calls back with its id only.
std::map<UINT_PTR, Win32Timer*>& RunningTimers() {
  static std::map<UINT_PTR, Win32Timer*> timers;
  return timers;
}

class Win32Timer : public Timer {
 public:
  ~Win32Timer() override { Stop(); }

  static void CALLBACK Elapsed(HWND, UINT, UINT_PTR id, DWORD) {
    const auto found = RunningTimers().find(id);
    // A tick already queued for a timer stopped since finds nothing.
    if (found != RunningTimers().end()) found->second->Fire();
  }

 protected:
  void Restart() override {
    Stop();
    if (!Running()) return;
    id_ = ::SetTimer(nullptr, 0, std::max<UINT>(USER_TIMER_MINIMUM, Interval()), &Win32Timer::Elapsed);
    if (id_ != 0) RunningTimers()[id_] = this;
  }

 private:
  void Stop() {
    if (id_ == 0) return;
    ::KillTimer(nullptr, id_);
    RunningTimers().erase(id_);
    id_ = 0;
  }

  UINT_PTR id_ = 0;
};

}  // namespace

std::unique_ptr<Timer> Win32TimerFactory::CreateTimer() {
  return std::make_unique<Win32Timer>();
}

}  // namespace kv
