// The checks made before the wizard may go on: which products the package updates, and whether
// the database client and the address module are of a version the package was built for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

class TdmUpdateCommon;

// What the checks need to know of the installed suite; the products layer answers it.
class ProductCatalog {
 public:
  virtual ~ProductCatalog() = default;
  // The product code of an update key (0: none).
  virtual std::uint8_t KeyToCode(const std::string& key) const = 0;
  // The key names of every product, in code order, each followed by CR LF.
  virtual std::string KnownKeyText() const = 0;
  // The address module's library as the checks examine it: the suite root, "Adresses\Programs\",
  // then the address module lookup's answer.
  virtual std::string AddressLibraryPath() const = 0;
};

// Fills updateKeys from "Updates.txt"; false when there are none or the checks failed (the
// application has then been asked to terminate).
bool LoadUpdateKeys(TdmUpdateCommon& engine, const ProductCatalog& products,
                    std::vector<std::string>& updateKeys);
// True when both components are compatible; otherwise shows the warning and answers false.
bool CheckCompatibility(const ProductCatalog& products);

}  // namespace kv
