// The connection string of a product database (the registry's value, the connection dialog's
// field) on any bytes: its kind, and its split into server and path. Only the split of a kind
// without a server part may raise, and only its own error; the path keeps at most 255 characters
// and both parts are taken from the text as it stands.
#include <cstddef>
#include <cstdint>
#include <string>

#include "db/IBCommon.h"
#include "platform/Errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const kv::TConnectionType kind = kv::GetConnectionType(text);
  if (kind < kv::ibctUnknown || kind > kv::ibctNetWare) __builtin_trap();
  std::string server = "?", path = "?";
  try {
    kv::SplitConnectionString(text, server, path);
  } catch (const kv::Error& e) {
    if (kind == kv::ibctLocal || kind == kv::ibctTCPIP || kind == kv::ibctNetBEUI) __builtin_trap();
    if (std::string(e.what()) != "error 0203130939") __builtin_trap();
    return 0;
  }
  if (kind != kv::ibctLocal && kind != kv::ibctTCPIP && kind != kv::ibctNetBEUI) __builtin_trap();
  std::size_t characters = 0;
  for (const char c : path) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  if (kind != kv::ibctLocal && characters > kv::kMaxDatabasePathLength) __builtin_trap();
  switch (kind) {
    case kv::ibctLocal:
      if (!server.empty() || path != text) __builtin_trap();
      break;
    case kv::ibctTCPIP:
      // server ":" path..., the path perhaps cut.
      if (text.empty() ? !server.empty() || !path.empty()
                       : text.compare(0, server.size() + 1, server + ":") != 0 ||
                             text.compare(server.size() + 1, path.size(), path) != 0)
        __builtin_trap();
      break;
    default:  // NetBEUI: "\\" server "\" path
      if (!server.starts_with("\\\\") || server.find('\\', 2) != std::string::npos) __builtin_trap();
      break;
  }
  return 0;
}
