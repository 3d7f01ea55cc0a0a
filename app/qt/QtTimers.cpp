#include "app/qt/QtTimers.h"

#include <QTimer>
#include <algorithm>
#include <climits>

namespace kv {

namespace {

class QtTimer : public Timer {
 public:
  QtTimer() {
    timer_.setTimerType(Qt::CoarseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Fire(); });
  }

 protected:
  void Restart() override {
    if (!Running()) {
      timer_.stop();
      return;
    }
    timer_.start(static_cast<int>(std::min<std::uint32_t>(Interval(), INT_MAX)));
  }

 private:
  QTimer timer_;
};

}  // namespace

std::unique_ptr<Timer> QtTimerFactory::CreateTimer() {
  return std::make_unique<QtTimer>();
}

}  // namespace kv
