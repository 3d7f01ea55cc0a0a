// The result of an update: returned by every product updater and by the replacement policy, and
// kept by the update run, which closes the report with its line.
#pragma once

#include <cstdint>

namespace kv {

enum class UpdateOutcome : std::uint8_t {
  NoOutcome = 0,  // no updater ran
  Completed = 1,
  Failed = 2,        // an error stopped the update; its text is in the report
  NotPerformed = 3,  // the user kept an installed file
  CompletedWithWarnings = 4,
};

}  // namespace kv
