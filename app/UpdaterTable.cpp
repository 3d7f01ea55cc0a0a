#include "app/UpdaterTable.h"

#include "products/CommonFiles.h"

namespace kv {

void UpdaterTable::Set(ProductCode code, Updater updater) {
  if (updater) {
    updaters_[code] = std::move(updater);
  } else {
    updaters_.erase(code);
  }
}

const Updater* UpdaterTable::Find(ProductCode code) const {
  const auto it = updaters_.find(code);
  return it == updaters_.end() ? nullptr : &it->second;
}

UpdaterTable ProgramUpdaters() {
  UpdaterTable table;
  table.Set(pcCommon, [](TdmUpdateCommon& engine, ProductCode) { return InstallCommonFiles(engine); });
  return table;
}

}  // namespace kv
