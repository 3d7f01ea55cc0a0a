// FILETIME and the host's timespec: exact where both hold the time, defined for every value.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

#include "platform/Win32.h"
#include "platform/host/FileTimes.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

constexpr std::int64_t kEpochSeconds = 11644473600LL;  // 1601-01-01 to 1970-01-01
constexpr win::FileTime kMax64 = std::numeric_limits<win::FileTime>::max();

struct TimeCase {
  const char* label;
  win::FileTime fileTime;
  std::int64_t seconds;  // since 1970
  long nanoseconds;
};

class FileTimeToTimespec : public ::testing::TestWithParam<TimeCase> {};

TEST_P(FileTimeToTimespec, IsExactOverTheWholeRangeAndComesBack) {
  const TimeCase& c = GetParam();
  const timespec ts = host::TimespecFromFileTime(c.fileTime);
  EXPECT_EQ(static_cast<std::int64_t>(ts.tv_sec), c.seconds);
  EXPECT_EQ(ts.tv_nsec, c.nanoseconds);
  if (c.fileTime <= win::MAX_FILETIME) {
    EXPECT_EQ(host::FileTimeFromTimespec(ts), c.fileTime);
  } else {
    EXPECT_EQ(host::FileTimeFromTimespec(ts), win::MAX_FILETIME) << "beyond a FILETIME: clamped";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, FileTimeToTimespec,
    ::testing::Values(TimeCase{"Year1601", 0, -kEpochSeconds, 0}, TimeCase{"OneUnit", 1, -kEpochSeconds, 100},
                      TimeCase{"UnixEpoch", 116444736000000000ULL, 0, 0},
                      TimeCase{"BeforeUnixEpoch", 116444735999999999ULL, -1, 999999900},
                      TimeCase{"Year2024", 133549362001234567ULL, 1710462600, 123456700},
                      TimeCase{"MaxFileTime", win::MAX_FILETIME, 922337203685LL - kEpochSeconds, 477580700},
                      TimeCase{"TwoToThe63", 0x8000000000000000ULL, 922337203685LL - kEpochSeconds,
                               477580800},
                      TimeCase{"AllOnes", kMax64, 1844674407370LL - kEpochSeconds, 955161500}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(FileTimeFromTimespec, HostTimesOutsideTheFileTimeRangeAreClamped) {
  const std::int64_t maxSeconds = 922337203685LL - kEpochSeconds;
  struct Case {
    std::int64_t seconds;
    long nanoseconds;
    win::FileTime expected;
  };
  for (const Case& c :
       {Case{-kEpochSeconds - 1, 999999999, 0}, Case{std::numeric_limits<std::int64_t>::min(), 0, 0},
        Case{maxSeconds + 1, 0, win::MAX_FILETIME},
        Case{std::numeric_limits<std::int64_t>::max(), 999999999, win::MAX_FILETIME},
        Case{maxSeconds, 999999999, win::MAX_FILETIME}, Case{0, -5, 116444736000000000ULL},
        Case{0, 2000000000, 116444736009999999ULL}}) {
    SCOPED_TRACE(c.seconds);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(c.seconds);
    ts.tv_nsec = c.nanoseconds;
    EXPECT_EQ(host::FileTimeFromTimespec(ts), c.expected);
  }
}

TEST(FileTimeToLocalFileTime, NeverWrapsAroundAtEitherEnd) {
  test::TempPrefix prefix;
  const char* saved = std::getenv("TZ");
  const std::string previous = saved ? saved : "";
  for (const char* zone : {"UTC0", "CET-1", "EST5", "NZST-12"}) {
    SCOPED_TRACE(zone);
    setenv("TZ", zone, 1);
    tzset();
    const win::FileTime middle = 133549362000000000ULL;
    const win::FileTime local = win::FileTimeToLocalFileTime(middle);
    const auto offset = static_cast<std::int64_t>(local - middle);
    EXPECT_EQ(offset % 36000000000LL, 0) << "whole hours here";
    EXPECT_LE(win::FileTimeToLocalFileTime(0), 0 + 14 * 36000000000ULL);
    EXPECT_GE(win::FileTimeToLocalFileTime(kMax64), kMax64 - 14 * 36000000000ULL);
    for (const win::FileTime edge : {win::MAX_FILETIME, win::FileTime{0x8000000000000000ULL}}) {
      const win::FileTime shifted = win::FileTimeToLocalFileTime(edge);
      EXPECT_LE(shifted > edge ? shifted - edge : edge - shifted, 14 * 36000000000ULL) << edge;
    }
  }
  if (saved) {
    setenv("TZ", previous.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace
}  // namespace kv
