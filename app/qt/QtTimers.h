// The timers port on Qt: each timer is a QTimer of the program's event loop.
#pragma once

#include "platform/Timers.h"

namespace kv {

class QtTimerFactory : public TimerFactory {
 public:
  std::unique_ptr<Timer> CreateTimer() override;
};

}  // namespace kv
