#include "products/EngineParts.h"

#include "db/dmDBConnectionUnit.h"
#include "engine/UpdateCommon.h"
#include "products/MultiSte.h"
#include "products/dmStructurePrintingUnit.h"

namespace kv {

void InstallEngineParts() {
  TEngineParts parts;
  parts.CreateCompanyList = [] {
    return TEngineParts::Owned<TFMultiSte>(new TFMultiSte, [](TFMultiSte* p) { delete p; });
  };
  parts.CreateStructurePrinting = [](TdmDBConnection& connection) {
    return TEngineParts::Owned<TdmStructurePrinting>(new TdmStructurePrinting("", &connection),
                                                     [](TdmStructurePrinting* p) { delete p; });
  };
  SetEngineParts(std::move(parts));
}

TdmDBConnection* DBConnectionOf(TdmUpdateCommon& engine) {
  return engine.DBConnection.get();
}

TdmStructurePrinting* StructurePrintingOf(TdmUpdateCommon& engine) {
  return engine.StructurePrinting.get();
}

const std::vector<std::string>& CompanyNames(TdmUpdateCommon& engine) {
  static const std::vector<std::string> none;
  return engine.CompanyList ? engine.CompanyList->ComboBoxCompanies.Items : none;
}

}  // namespace kv
