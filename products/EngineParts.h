// The engine's members that the print-list update works with: the company list, the database
// connection module and the print structure store on it.
#pragma once

#include <string>
#include <vector>

namespace kv {

class TdmUpdateCommon;
class TdmDBConnection;
class TdmStructurePrinting;

// nullptr when the engine has none.
TdmDBConnection* DBConnectionOf(TdmUpdateCommon& engine);
TdmStructurePrinting* StructurePrintingOf(TdmUpdateCommon& engine);
// The companies of the installation in the company list's order (an empty name: the default one).
const std::vector<std::string>& CompanyNames(TdmUpdateCommon& engine);

}  // namespace kv
