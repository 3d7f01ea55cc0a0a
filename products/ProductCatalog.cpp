#include "products/ProductCatalog.h"

#include "platform/FileUtils.h"
#include "products/ProductLocation.h"
#include "products/ProductTable.h"
#include "products/dmAdresses2Unit.h"

namespace kv {

std::uint8_t SuiteProductCatalog::KeyToCode(const std::string& key) const {
  return ProductKeyToCode(key);
}

std::string SuiteProductCatalog::KnownKeyText() const {
  return kv::KnownKeyText();
}

std::string SuiteProductCatalog::AddressLibraryPath() const {
  const std::string found = TdmAdresses2::LocateAddressLibrary();
  // A library found beside the updater is the one examined as it is: appending its full path to
  // the suite's folder would name no file.
  if (found.find_first_of("\\:") != std::string::npos) return found;
  return GetSuiteRootFolder() + PathWithDelimiter("Adresses") + PathWithDelimiter("Programs") + found;
}

}  // namespace kv
