// Which updater brings a product up to date: a table from product code to updater. A code without
// updater still counts as the run's key; the run then ends without outcome.
#pragma once

#include <functional>
#include <map>

#include "engine/UpdateOutcome.h"
#include "products/ProductTable.h"

namespace kv {

class TdmUpdateCommon;

// Receives the engine and the code being run (two products share one updater by their code).
using Updater = std::function<UpdateOutcome(TdmUpdateCommon& engine, ProductCode code)>;

class UpdaterTable {
 public:
  // Installs or replaces the updater of a code; an empty function removes it.
  void Set(ProductCode code, Updater updater);
  // nullptr when the code has no updater.
  const Updater* Find(ProductCode code) const;

 private:
  std::map<ProductCode, Updater> updaters_;
};

// The table the program runs with: one entry per product whose updater exists.
UpdaterTable ProgramUpdaters();

}  // namespace kv
