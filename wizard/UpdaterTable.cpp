#include "wizard/UpdaterTable.h"

#include "products/CommonFiles.h"
#include "products/ProductUpdaters.h"

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
  const auto main = [](TdmUpdateCommon& engine, ProductCode) { return UpdateMainProduct(engine); };
  table.Set(pcWinTessivo, main);
  table.Set(pcWinTessivoIngenieur, main);
  table.Set(pcAdresses, [](TdmUpdateCommon& engine, ProductCode) { return UpdateAddressModule(engine); });
  table.Set(pcZorbalt, [](TdmUpdateCommon& engine, ProductCode) { return UpdateZorbalt(engine); });
  table.Set(pcBrisklane, [](TdmUpdateCommon& engine, ProductCode) { return UpdateBrisklane(engine); });
  table.Set(pcTsvQuaymart, [](TdmUpdateCommon& engine, ProductCode) { return UpdateQuaymart(engine); });
  table.Set(pcPelmora, UpdateKorvane5Data);
  table.Set(pcKorvaneFinance, UpdateKorvane5Data);
  table.Set(pcZrq, [](TdmUpdateCommon& engine, ProductCode) { return UpdateZrq(engine); });
  table.Set(pcCommon, [](TdmUpdateCommon& engine, ProductCode) { return InstallCommonFiles(engine); });
  table.Set(pcOptaris, [](TdmUpdateCommon& engine, ProductCode) { return UpdateOptaris(engine); });
  return table;
}

}  // namespace kv
