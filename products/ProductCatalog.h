// The pre-flight checks' view of the installed suite, answered from the product table, the
// registry and the address module lookup.
#pragma once

#include <cstdint>
#include <string>

#include "engine/PreflightChecks.h"

namespace kv {

class SuiteProductCatalog : public ProductCatalog {
 public:
  std::uint8_t KeyToCode(const std::string& key) const override;
  std::string KnownKeyText() const override;
  // The suite root + "Adresses\Programs\" + "TSAdresses2.dll" when the lookup finds no library
  // beside the updater; the library it found otherwise.
  std::string AddressLibraryPath() const override;
};

}  // namespace kv
