#include "engine/PreflightChecks.h"

#include <algorithm>

#include "engine/UpdateCommon.h"
#include "formats/Text.h"
#include "platform/Messages.h"
#include "platform/UserInterface.h"

namespace kv {

namespace {

// Only the main product's own edition is checked, not the engineering edition.
constexpr std::uint8_t kCheckedProductCode = 1;

constexpr const char* kClientLibrary = "gds32.dll";
// Builds of the client library the package was built for; other builds of the same release are not.
constexpr const char* kAcceptedClientVersions[] = {"WI-V6.3.0.4290", "WI-V6.3.2.4731"};

bool ClientLibraryCompatible(const std::string& version) {
  return std::ranges::any_of(kAcceptedClientVersions,
                             [&](const char* accepted) { return version == accepted; });
}

bool AddressModuleCompatible(const std::string& version) {
  return !version.empty() && version.front() == '2';
}

}  // namespace

bool LoadUpdateKeys(TdmUpdateCommon& engine, const ProductCatalog& products,
                    std::vector<std::string>& updateKeys) {
  std::vector<std::string> lines;
  if (engine.LoadResourceLines("Updates.txt", lines) == 0) return false;
  const std::string known = products.KnownKeyText();
  updateKeys.clear();
  for (const std::string& line : lines) {
    // A substring test on the joined names: a fragment of a name passes here, and the run passes
    // it over later; another letter case does not pass.
    if (line.empty() || known.find(line) == std::string::npos) continue;
    if (std::ranges::any_of(updateKeys, [&](const std::string& key) { return text::IEquals(key, line); }))
      continue;
    if (products.KeyToCode(line) == kCheckedProductCode && !CheckCompatibility(products)) {
      Ui().RequestTermination();
      return false;
    }
    updateKeys.push_back(line);
  }
  return true;
}

bool CheckCompatibility(const ProductCatalog& products) {
  // The bare name goes through the library search: the library that programs started from here load.
  const bool clientOk = ClientLibraryCompatible(GetFileVersionString(kClientLibrary));
  const std::string addressPath = products.AddressLibraryPath();
  const std::string addressVersion = GetFileVersionString(addressPath);
  const bool addressOk = AddressModuleCompatible(addressVersion);
  if (clientOk && addressOk) return true;

  std::string components;
  if (!clientOk) components += "de Firebird";
  if (!addressOk) {
    if (!clientOk) components += " et ";
    components += "du module d'adresses";
  }
  ShowWarning("ATTENTION !!!\r\n\r\nCette mise à jour a détecté une version incompatible " + components +
              ".\r\n\r\nVeuillez contacter la société Korvane.\r\n\r\nL'application va se terminer." +
              "\r\n" + "\r\n" + "Path=\"" + addressPath + "\" Ver=\"" + addressVersion + "\"");
  return false;
}

}  // namespace kv
