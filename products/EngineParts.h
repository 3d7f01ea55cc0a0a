// The engine's parts that the products layer defines: the company list and the print structure
// store, made by the factories installed here; and how the print-list update reaches them.
#pragma once

#include <string>
#include <vector>

namespace kv {

class TdmUpdateCommon;
class TdmDBConnection;
class TdmStructurePrinting;

// Installs the factories of the company list and of the print structure store (on the engine's
// connection module) for every engine made afterwards. The program calls it once at start-up.
void InstallEngineParts();

// nullptr when the engine has none.
TdmDBConnection* DBConnectionOf(TdmUpdateCommon& engine);
TdmStructurePrinting* StructurePrintingOf(TdmUpdateCommon& engine);
// The companies of the installation in the company list's order (an empty name: the default one);
// empty without company list.
const std::vector<std::string>& CompanyNames(TdmUpdateCommon& engine);

}  // namespace kv
