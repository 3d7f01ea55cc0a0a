#include "db/client/CallWatchdog.h"

#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "db/client/IscApi.h"

namespace kv::fb {

namespace {

using Clock = std::chrono::steady_clock;

std::mutex gLimitMutex;
std::optional<std::chrono::seconds> gLimit;

// The watchdog thread and the calls in progress. Started by the first watched call, stopped and
// joined at the end of the process.
class Watchdog {
 public:
  static Watchdog& Instance() {
    static Watchdog watchdog;
    return watchdog;
  }

  unsigned long long Enter(isc_db_handle db) {
    std::lock_guard lock(mutex_);
    if (thread_ == nullptr) {
      owner_ = detail::ProcessId();
      thread_ = new std::thread([this] { Run(); });
    }
    const unsigned long long id = ++lastId_;
    calls_[id] = Call{db, Clock::now() + CallTimeLimit()};
    wake_.notify_one();
    return id;
  }

  void Leave(unsigned long long id) {
    // Waits while an abort is under way: the handle stays valid until the abort is done.
    std::lock_guard lock(mutex_);
    calls_.erase(id);
  }

  ~Watchdog() {
    if (thread_ == nullptr) return;
    // A child made by fork() has the object but not the thread: nothing to join there.
    if (detail::ProcessId() != owner_) return;
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_->join();
    delete thread_;
  }

 private:
  struct Call {
    isc_db_handle db;
    Clock::time_point deadline;
  };

  Watchdog() = default;

  void Run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      if (calls_.empty()) {
        wake_.wait(lock);
        continue;
      }
      Clock::time_point next = Clock::time_point::max();
      const Clock::time_point now = Clock::now();
      for (auto it = calls_.begin(); it != calls_.end();) {
        if (it->second.deadline <= now) {
          Abort(it->second.db);
          it = calls_.erase(it);  // aborted once; the call returns its error
        } else {
          next = std::min(next, it->second.deadline);
          ++it;
        }
      }
      if (next != Clock::time_point::max()) wake_.wait_until(lock, next);
    }
  }

  static void Abort(isc_db_handle db) noexcept {
    try {
      const detail::IscApi& api = detail::Api();
      if (api.fb_cancel_operation == nullptr) return;  // a client before Firebird 2.5
      ISC_STATUS_ARRAY status = {};
      api.fb_cancel_operation(status, &db, fb_cancel_abort);
    } catch (...) {
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<unsigned long long, Call> calls_;
  unsigned long long lastId_ = 0;
  bool stop_ = false;
  // Never destroyed in a child made by fork() (see the destructor), hence a plain pointer.
  std::thread* thread_ = nullptr;
  long owner_ = 0;
};

std::chrono::seconds LimitFromEnvironment() {
  const char* text = std::getenv(kCallLimitVariable);
  if (text == nullptr || *text == '\0') return kDefaultCallLimit;
  char* end = nullptr;
  const long seconds = std::strtol(text, &end, 10);
  if (*end != '\0' || seconds <= 0) return kDefaultCallLimit;
  return std::chrono::seconds(seconds);
}

}  // namespace

std::chrono::seconds CallTimeLimit() {
  std::lock_guard lock(gLimitMutex);
  if (!gLimit) gLimit = LimitFromEnvironment();
  return *gLimit;
}

void SetCallTimeLimit(std::chrono::seconds limit) {
  std::lock_guard lock(gLimitMutex);
  gLimit = limit;
}

namespace detail {

WatchedCall::WatchedCall(isc_db_handle db) noexcept {
  if (db == 0) return;
  try {
    id_ = Watchdog::Instance().Enter(db);
  } catch (...) {
    // Without a thread the call runs unwatched, as before.
  }
}

WatchedCall::~WatchedCall() {
  if (id_ != 0) Watchdog::Instance().Leave(id_);
}

}  // namespace detail

}  // namespace kv::fb
