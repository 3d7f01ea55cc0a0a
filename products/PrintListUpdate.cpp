#include "products/PrintListUpdate.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "db/KorvaneLogon.h"
#include "db/dmDBConnectionUnit.h"
#include "engine/Package.h"
#include "engine/UpdateCommon.h"
#include "formats/Text.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "products/EngineParts.h"
#include "products/MultiSte.h"
#include "products/ProductFiles.h"
#include "products/ProductLocation.h"
#include "products/ProductTable.h"
#include "products/dmStructurePrintingUnit.h"

namespace kv {

namespace {

constexpr const char* kPrintListsResource = "PrintLists.txt";
constexpr const char* kDefaultCompany = "Default";

// The company database of a product: its identifier and version as the connection module checks
// them.
struct CompanyDatabaseKind {
  ProductCode code;
  const char* identifier;
  std::int32_t version;
};
constexpr CompanyDatabaseKind kCompanyDatabases[] = {
    {pcWinTessivo, "TSV_PRO", 2},
    {pcWinTessivoIngenieur, "TSV_ING", 2},
    {pcAdresses, "TS_Adresses", 2},
    {pcBrisklane, "Brisklane", 1},
    {pcZrq, "ZRQ", 1},
};

bool HasPrintLists(ProductCode code) {
  return code == pcWinTessivo || code == pcWinTessivoIngenieur || code == pcAdresses || code == pcBrisklane ||
         code == pcTsvQuaymart || code == pcZrq;
}

bool IsDatabaseList(const std::string& name) {
  return name.size() >= 4 && text::IEquals(std::string_view(name).substr(name.size() - 4), ".lst");
}

// The file name without its extension.
std::string WithoutExtension(const std::string& name) {
  const auto dot = name.find_last_of(".\\:");
  return dot != std::string::npos && name[dot] == '.' ? name.substr(0, dot) : name;
}

// Lines as a string list takes them from its text: CR LF, CR or LF end a line.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

// The text as the suite's programs store it: its code page 1252 bytes, each byte the ISO 8859-1
// character of the same code (they read it back through the same character set). A text without a
// code page 1252 form stays as it is, and the database layer refuses it.
std::string StoredForm(const std::string& utf8) {
  const std::string bytes = text::Utf8ToCp1252(utf8);
  return text::Cp1252ToUtf8(bytes) == utf8 ? text::Latin1ToUtf8(bytes) : utf8;
}

// A stored text as the user reads it: in code page 1252.
std::string ShownForm(const std::string& stored) {
  return text::Cp1252ToUtf8(text::Utf8ToLatin1(stored));
}

// The names of the package's list that may be used: a name that would leave the target folder is
// reported and passed over. False when one was refused.
bool CheckListNames(TdmUpdateCommon& engine, const std::string& Folder, bool copiedToFolder,
                    std::vector<std::string>& names) {
  bool allSafe = true;
  names.clear();
  for (const std::string& line : *engine.PrintLists) {
    if (line.empty()) continue;
    if (!copiedToFolder && !IsDatabaseList(line)) {
      names.push_back(line);  // not used for the databases
      continue;
    }
    switch (CheckTargetName(Folder, line)) {
      case TargetNameCheck::Safe:
        names.push_back(line);
        break;
      case TargetNameCheck::NameRefused:
        engine.ReportLine("Nom de fichier refusé dans le paquet : " + line);
        allSafe = false;
        break;
      case TargetNameCheck::BehindLink:
        engine.ReportFileBehindLink(PathWithDelimiter(Folder) + line);
        allSafe = false;
        break;
    }
  }
  return allSafe;
}

}  // namespace

bool CompanyDatabaseKindOf(ProductCode code, std::string& identifier, std::int32_t& version) {
  for (const CompanyDatabaseKind& kind : kCompanyDatabases) {
    if (kind.code != code) continue;
    identifier = kind.identifier;
    version = kind.version;
    return true;
  }
  return false;
}

void CreateCompanyDatabase(const std::string& connectionString, ProductCode code) {
  std::string identifier;
  std::int32_t version = 0;
  if (!CompanyDatabaseKindOf(code, identifier, version)) {
    throw Error("Le produit " + ProductKeyName(code) + " n'a pas de base de données de société.");
  }
  TdmDBConnection connection;
  connection.Init(version, identifier, "Base de données", "Updater");
  TDatabaseManager& manager = *connection.DatabaseManager;
  manager.SetConnectionString(connectionString);
  manager.SetUserName(KorvaneUserName);
  manager.SetPassword(KorvanePassword);
  manager.SetRole(KorvaneRole);
  manager.CreateDatabase();
  manager.RegisterUDF();
  TdmStructurePrinting store("", &connection);
  store.ManagerPrintParams->CreateTable();
  store.ManagerPrintImages->CreateTable();
  connection.ClearAllConnections();
}

std::string PrintListUpdatedText(const std::string& name) {
  return "Les paramètres pour l'impression : \"" + name + "\" ont été mise à jour.";
}

std::string PrintListAddedText(const std::string& description) {
  return "Les paramètres pour l'impression : \"" + description + "\" ont été ajoutés.";
}

UpdateOutcome UpdatePrintLists(TdmUpdateCommon& engine, const std::string& Folder) {
  if (!HasPrintLists(engine.ProductCode)) return UpdateOutcome::Completed;
  if (engine.LoadResourceLines(kPrintListsResource, *engine.PrintLists) == 0) return UpdateOutcome::Completed;
  try {
    return ImportAllCompanyPrintLists(engine, Folder) ? UpdateOutcome::Completed
                                                      : UpdateOutcome::CompletedWithWarnings;
  } catch (const std::exception&) {
    throw Error("Cannot import resource files");
  }
}

bool ImportAllCompanyPrintLists(TdmUpdateCommon& engine, const std::string& Folder) {
  std::stringstream stream;
  const bool trading = engine.ProductCode == pcTsvQuaymart;
  std::vector<std::string> names;
  bool result = CheckListNames(engine, Folder, trading, names);
  if (trading) {
    // Plain files in the program folder; no database is opened.
    for (const std::string& name : names) {
      std::string extracted;
      ExtractResourceToFile(name, PathWithDelimiter(Folder) + name, extracted);
      engine.ReportLine(PrintListUpdatedText(name));
    }
    engine.ReportLine("");
    return result;
  }
  // Only the names that passed the check are written.
  const std::vector<std::string> packaged = *engine.PrintLists;
  *engine.PrintLists = names;
  struct Restore {
    TdmUpdateCommon& engine;
    const std::vector<std::string>& lines;
    ~Restore() { *engine.PrintLists = lines; }
  } restore{engine, packaged};
  if (engine.CompanyList && !engine.CompanyList->FReadError.empty()) {
    engine.ReportLine("La liste des sociétés " + engine.CompanyList->FFilename + " ne peut pas être lue :\r\n" +
                      engine.CompanyList->FReadError);
    result = false;
  }
  const std::vector<std::string>& companies = CompanyNames(engine);
  if (companies.empty()) return ImportCompanyPrintLists(engine, "", stream) && result;
  for (const std::string& company : companies) {
    if (!ImportCompanyPrintLists(engine, company, stream)) result = false;
  }
  return result;
}

bool ImportCompanyPrintLists(TdmUpdateCommon& engine, const std::string& Company, std::stringstream& Stream) {
  const std::string shown = Company.empty() ? kDefaultCompany : Company;
  engine.ReportLine("\r\nMise à jour de listes pour la société " + shown);
  if (!ConnectCompanyDatabase(engine, Company)) {
    engine.ReportLine("Echec de connexion a la société " + shown + ", mise à jour des listes non effectuée.");
    return false;
  }
  try {
    Stream.str({});
    Stream.clear();
    for (const std::string& name : *engine.PrintLists) {
      if (!IsDatabaseList(name)) continue;
      // A list the package lacks is passed over.
      if (!LoadResourceToStream(name, Stream)) continue;
      ImportPrintList(engine, name, Stream);
    }
  } catch (...) {
    try {
      DisconnectDatabase(engine);
    } catch (...) {
      if (TdmDBConnection* connection = DBConnectionOf(engine)) connection->ClearAllConnections();
    }
    throw;
  }
  DisconnectDatabase(engine);
  return true;
}

void ImportPrintList(TdmUpdateCommon& engine, const std::string& Name, std::stringstream& Stream) {
  const std::string bytes = Stream.str();
  if (bytes.empty()) return;
  Stream.str({});
  Stream.clear();
  // The list's bytes go into the columns unchanged: the suite shows them in code page 1252, so the
  // byte 0x80 stored as it is is the "€" the layout means.
  const std::vector<std::string> lines = SplitLines(text::Latin1ToUtf8(bytes));
  const std::string listName = text::ToLower(WithoutExtension(Name));
  const std::string storedName = StoredForm(listName);
  TdmStructurePrinting& store = *StructurePrintingOf(engine);
  if (store.PrintParamsExist(storedName)) {
    store.UpdatePrintParams(storedName, lines);
    engine.ReportLine(PrintListUpdatedText(listName));
  } else {
    engine.ReportLine(PrintListAddedText(ShownForm(store.InsertPrintParams(storedName, lines))));
  }
}

bool ConnectCompanyDatabase(TdmUpdateCommon& engine, const std::string& Company) {
  TdmDBConnection* connection = DBConnectionOf(engine);
  // Without a store nothing could be written: no company is opened.
  if (connection == nullptr || StructurePrintingOf(engine) == nullptr) return false;
  const auto kind = std::find_if(std::begin(kCompanyDatabases), std::end(kCompanyDatabases),
                                 [&](const CompanyDatabaseKind& k) { return k.code == engine.ProductCode; });
  if (kind == std::end(kCompanyDatabases)) return false;
  const std::string company = Company.empty() ? kDefaultCompany : Company;
  const std::string databaseName = GetProductDatabaseName(ProductKeyName(engine.ProductCode), company, true);
  if (databaseName.empty()) return false;
  // An attachment still open is kept only when it is this company's own database: the lists of one
  // company must never be written into another's. Any other is closed by SetParams below.
  if (connection->Connected() && connection->DatabaseManager->ConnectionString() == databaseName &&
      connection->DatabaseManager->DBIdentifier() == kind->identifier &&
      connection->DatabaseManager->DBVersion() == kind->version)
    return true;
  BeginBusyCursor();
  try {
    connection->Init(kind->version, kind->identifier, "Base de données", "Updater");
    connection->SetParams(databaseName, "", "", "");
    connection->ConnectAsKorvane();
  } catch (const std::exception&) {
    // Unreachable, of another kind or version, or its disk full: this company is skipped.
    EndBusyCursor();
    return false;
  }
  EndBusyCursor();
  // A critically low disk disconnects without raising: nothing may be written then.
  return connection->Connected();
}

bool DisconnectDatabase(TdmUpdateCommon& engine) {
  TdmDBConnection* connection = DBConnectionOf(engine);
  if (connection == nullptr) return false;
  connection->Disconnect();
  return true;
}

}  // namespace kv
