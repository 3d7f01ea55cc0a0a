#include "products/ProductTable.h"

#include <array>
#include <utility>

#include "formats/Text.h"

namespace kv {

namespace {

constexpr std::array<const char*, kLastProductCode> kKeyNames = {
    "WinTessivo", "WinTessivo Ingenieur", "Adresses", "Zorbalt",  "PDFDLL", "Brisklane", "TSVQuaymart",
    "Pelmora",    "Korvane Finance",      "ZRQ",      "Calderix", "Common", "Optaris",   "VLX",
};

constexpr std::array<std::pair<const char*, ProductCode>, 3> kAliases = {{
    {"TSV_PRO", pcWinTessivo},
    {"TSV_ING", pcWinTessivoIngenieur},
    {"TS_Adresses", pcAdresses},
}};

}  // namespace

std::string ProductKeyName(ProductCode code) {
  if (code < 1 || code > kLastProductCode) return {};
  return kKeyNames[code - 1];
}

ProductCode ProductKeyToCode(const std::string& name) {
  if (name.empty()) return pcNone;
  for (ProductCode code = 1; code <= kLastProductCode; ++code) {
    if (text::IEquals(name, kKeyNames[code - 1])) return code;
  }
  for (const auto& [alias, code] : kAliases) {
    if (text::IEquals(name, alias)) return code;
  }
  return pcNone;
}

std::string KnownKeyText() {
  std::string known;
  for (const char* name : kKeyNames) known += std::string(name) + "\r\n";
  return known;
}

}  // namespace kv
