#include "platform/host/FileTimes.h"

#include <cstdint>

namespace kv::host {

namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kEpochSeconds = 11644473600LL;
constexpr std::uint64_t kUnitsPerSecond = 10000000ULL;

static_assert(sizeof(time_t) >= 8, "the host must keep times in 64 bits");

}  // namespace

win::FileTime FileTimeFromTimespec(const timespec& ts) {
  // Whole seconds since 1601, and the 100-ns units of the fraction; each step checks its range
  // before it computes, so nothing can overflow.
  constexpr std::int64_t kMaxSeconds = static_cast<std::int64_t>(win::MAX_FILETIME / kUnitsPerSecond);
  const std::int64_t sec = static_cast<std::int64_t>(ts.tv_sec);
  const long nsec = ts.tv_nsec < 0 ? 0 : (ts.tv_nsec > 999999999L ? 999999999L : ts.tv_nsec);
  if (sec < -kEpochSeconds) return 0;
  if (sec > kMaxSeconds - kEpochSeconds) return win::MAX_FILETIME;
  const std::uint64_t units = static_cast<std::uint64_t>(sec + kEpochSeconds) * kUnitsPerSecond +
                              static_cast<std::uint64_t>(nsec / 100);
  return units > win::MAX_FILETIME ? win::MAX_FILETIME : units;
}

timespec TimespecFromFileTime(win::FileTime time) {
  // In unsigned arithmetic: the seconds since 1601 are below 2^64 / 10^7, far inside time_t.
  const std::uint64_t seconds = time / kUnitsPerSecond;
  const std::uint64_t rest = time % kUnitsPerSecond;
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(seconds) - kEpochSeconds);
  ts.tv_nsec = static_cast<long>(rest * 100);
  return ts;
}

}  // namespace kv::host
