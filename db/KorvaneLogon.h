// The maker's database user: privileged database work (creating a database, changing its
// version, maintenance) is done as this user, whatever the caller's own credentials are.
#pragma once

namespace kv {

inline constexpr const char* KorvaneUserName = "KORVANE";
inline constexpr const char* KorvanePassword = "84736251";
// Used with the maker's user: no SQL role.
inline constexpr const char* KorvaneRole = "";

}  // namespace kv
