// The connection string of a product database: its kind, and its split into the server and the
// database path, as the Firebird client library reads it. Positions and lengths count characters
// of the UTF-8 text, never bytes.
#pragma once

#include <string>

namespace kv {

enum TConnectionType : int {
  ibctUnknown = 0,
  ibctLocal = 1,
  ibctTCPIP = 2,
  ibctNetBEUI = 3,
  ibctUNIX = 4,
  ibctNetWare = 5,
};

// The longest database path (and NetBEUI remainder) a split keeps, in characters.
inline constexpr std::size_t kMaxDatabasePathLength = 255;

// The kind of a connection string; the empty text is TCP/IP (the local server's default).
TConnectionType GetConnectionType(const std::string& text);

// The server and the database path of a local, TCP/IP or NetBEUI string; raises
// "error 0203130939" for every other kind.
void SplitConnectionString(const std::string& text, std::string& server, std::string& path);

}  // namespace kv
