#include "platform/host/FileTimes.h"

#include <cstdint>

namespace kv::host {

namespace {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kEpochDifference = 116444736000000000LL;
constexpr std::int64_t kUnitsPerSecond = 10000000LL;

}  // namespace

win::FileTime FileTimeFromTimespec(const timespec& ts) {
  return static_cast<win::FileTime>(
      kEpochDifference + static_cast<std::int64_t>(ts.tv_sec) * kUnitsPerSecond + ts.tv_nsec / 100);
}

timespec TimespecFromFileTime(win::FileTime time) {
  const std::int64_t since1970 = static_cast<std::int64_t>(time) - kEpochDifference;
  std::int64_t sec = since1970 / kUnitsPerSecond;
  std::int64_t rem = since1970 % kUnitsPerSecond;
  if (rem < 0) {
    rem += kUnitsPerSecond;
    --sec;
  }
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(sec);
  ts.tv_nsec = static_cast<long>(rem * 100);
  return ts;
}

}  // namespace kv::host
