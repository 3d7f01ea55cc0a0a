// The Firebird client library, loaded at run time once into one table of entry points, and the
// names the client is given for databases.
//
// Nothing links the client at build time: a machine without it runs everything that needs no
// database, and every database operation raises the French DatabaseError of a missing client.
#pragma once

#include <filesystem>
#include <string>

namespace kv::fb {

// The environment variable naming another client library file (tests; a private client).
inline constexpr const char* kClientOverrideVariable = "KORVANE_FBCLIENT";

// The file loaded: KORVANE_FBCLIENT when set, else "libfbclient.so.2" ("gds32.dll" on Windows).
std::string ClientLibraryName();
// Loads the client if needed; false when it cannot be loaded (never throws).
bool IsClientAvailable() noexcept;
// The client's version text: on Windows the loaded file's FileVersion ("WI-V6.3.0.4290"), else the
// client's own (isc_get_client_version, e.g. "LI-V6.3.11.33637 Firebird 3.0"); "?" for a client
// with neither. Throws DatabaseError when the client is missing.
std::string ClientVersion();

// The private Firebird root of the running program: <folder of the program>/../firebird when it
// holds a firebird.conf, else the root of the build that made the program. The loader sets
// FIREBIRD to it before loading the client unless FIREBIRD is set already.
std::filesystem::path ProgramFirebirdRoot();

// The name under which the client opens a connection string. A local string ("C:\Data\SOC.FDB":
// ":\" at the second character, no server part) is a path of the host prefix's drives and becomes
// its host path, opened by the embedded engine; any other form ("127.0.0.1:C:\Data\SOC.FDB") goes
// to the client as it is. Throws DatabaseError when a local path lies on no drive.
std::string ClientDatabaseName(const std::string& connectionString);
// Whether the text is such a local string.
bool IsLocalConnectionString(const std::string& connectionString);

}  // namespace kv::fb
