// The bound on every round trip to a database server. A server that stops answering (a pulled
// cable, a frozen server machine) must not freeze the program: a call on an attachment that has
// not come back within the limit has its attachment aborted by the watchdog thread
// (fb_cancel_operation with fb_cancel_abort closes the client's side of the connection), and the
// call then fails with the client's network error. An attachment being made has no handle yet: the
// same limit is given to the client as its connect time-out (isc_dpb_connect_timeout), which
// bounds the connection and the server's first answer.
#pragma once

#include <chrono>

namespace kv::fb {

// The environment variable giving the limit in whole seconds (read once, when first needed).
inline constexpr const char* kCallLimitVariable = "KORVANE_DB_CALL_LIMIT";
inline constexpr std::chrono::seconds kDefaultCallLimit{60};

// The limit: SetCallTimeLimit's when set, else KORVANE_DB_CALL_LIMIT's, else kDefaultCallLimit.
std::chrono::seconds CallTimeLimit();
void SetCallTimeLimit(std::chrono::seconds limit);

}  // namespace kv::fb
