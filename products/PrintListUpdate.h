// The print-list update: the printing lists a package names in "PrintLists.txt" written into the
// database of every company of the installation (table PRT_Params), or, for the trading product,
// copied into its program folder.
#pragma once

#include <sstream>
#include <string>

#include "engine/UpdateOutcome.h"
#include "products/ProductTable.h"

namespace kv {

class TdmUpdateCommon;

// For the products with printing lists (codes 1, 2, 3, 6, 7, 10; any other gives Completed at
// once): Completed when every company was updated (also when the package has no list),
// CompletedWithWarnings when one was not. A database error while writing raises
// "Cannot import resource files"; the connection is then closed.
UpdateOutcome UpdatePrintLists(TdmUpdateCommon& engine, const std::string& Folder);
// Every company of the company list in its order (the default company when the list is empty);
// the trading product's lists copied into Folder instead. True when every company was updated.
bool ImportAllCompanyPrintLists(TdmUpdateCommon& engine, const std::string& Folder);
// One company's database opened, its lists written, the database closed (also on error). False
// when the database could not be opened.
bool ImportCompanyPrintLists(TdmUpdateCommon& engine, const std::string& Company, std::stringstream& Stream);
// Writes the list whose bytes (code page 1252) the stream holds, then empties the stream. The bytes
// are stored unchanged: each one the ISO 8859-1 character of the same code, as the suite's programs
// write and read them; the report shows the list's texts in code page 1252.
void ImportPrintList(TdmUpdateCommon& engine, const std::string& Name, std::stringstream& Stream);
// Opens the company's database of the running product as the maker's user; true only when the
// connection module is connected afterwards. Never raises.
bool ConnectCompanyDatabase(TdmUpdateCommon& engine, const std::string& Company);
// Closes the company database; false when the engine has no connection module.
bool DisconnectDatabase(TdmUpdateCommon& engine);

// The identifier and version of a product's company databases, as the connection module checks
// them; false for a product without company databases.
bool CompanyDatabaseKindOf(ProductCode code, std::string& identifier, std::int32_t& version);
// Creates a company database of the product (the base objects of every product database, its
// identifier and version, the server functions, the tables PRT_Params and PRT_Images), as the
// maker's user; raises the database layer's errors.
void CreateCompanyDatabase(const std::string& connectionString, ProductCode code);

// The report lines of a list brought up to date and of a list added.
std::string PrintListUpdatedText(const std::string& name);
std::string PrintListAddedText(const std::string& description);

}  // namespace kv
