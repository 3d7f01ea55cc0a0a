// The products of the suite: code, registry key name (also the package's update key) and aliases.
#pragma once

#include <cstdint>
#include <string>

namespace kv {

using ProductCode = std::uint8_t;

enum : ProductCode {
  pcNone = 0,
  pcWinTessivo = 1,
  pcWinTessivoIngenieur = 2,
  pcAdresses = 3,
  pcZorbalt = 4,
  pcPdfDll = 5,
  pcBrisklane = 6,
  pcTsvQuaymart = 7,
  pcPelmora = 8,
  pcKorvaneFinance = 9,
  pcZrq = 10,
  pcCalderix = 11,
  pcCommon = 12,
  pcOptaris = 13,
  pcVlx = 14,
};
inline constexpr ProductCode kLastProductCode = pcVlx;

// The key name of a code 1 to 14, empty for any other.
std::string ProductKeyName(ProductCode code);
// Case-insensitive; the key names first, then the aliases TSV_PRO, TSV_ING, TS_Adresses; 0 otherwise.
ProductCode ProductKeyToCode(const std::string& name);
// The fourteen key names in code order, each followed by CR LF.
std::string KnownKeyText();

}  // namespace kv
