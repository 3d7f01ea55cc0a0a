#include "products/EngineParts.h"

namespace kv {

// The engine does not own its database parts yet: without a connection module no company database
// is reached, and the print-list update reports each company as not connected.
TdmDBConnection* DBConnectionOf(TdmUpdateCommon&) {
  return nullptr;
}

TdmStructurePrinting* StructurePrintingOf(TdmUpdateCommon&) {
  return nullptr;
}

const std::vector<std::string>& CompanyNames(TdmUpdateCommon&) {
  static const std::vector<std::string> none;
  return none;
}

}  // namespace kv
