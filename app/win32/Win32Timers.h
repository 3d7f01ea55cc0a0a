// The timers port on the Windows API: each timer is a thread timer of the program's message loop.
#pragma once

#include "platform/Timers.h"

namespace kv {

class Win32TimerFactory : public TimerFactory {
 public:
  std::unique_ptr<Timer> CreateTimer() override;
};

}  // namespace kv
