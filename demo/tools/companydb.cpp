// kv-companydb: makes a company database of a product of the suite with the program's own schema
// and table managers, and writes printing lists into it as the updater does. The demo generator
// uses it; tests and benchmarks call the same functions directly.
//
//   kv-companydb create PRODUCT CONNECTION [LIST.lst ...]
//
// PRODUCT is an update key ("WinTessivo"); CONNECTION a connection string as the registry holds it
// (C:\WKorvane\TSV\Data\SUD.FDB, through KORVANE_PREFIX); each LIST is a host file in code page
// 1252 stored under its lower-case name without extension.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "db/IBCommon.h"
#include "db/IBComponents.h"
#include "db/KorvaneLogon.h"
#include "db/dmDBConnectionUnit.h"
#include "formats/Text.h"
#include "platform/Errors.h"
#include "platform/Win32.h"
#include "products/PrintListUpdate.h"
#include "products/ProductTable.h"
#include "products/dmStructurePrintingUnit.h"

namespace {

std::vector<std::string> ListLines(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw kv::Error("Fichier illisible : " + file.string());
  const std::string text = kv::text::Cp1252ToUtf8(std::string(std::istreambuf_iterator<char>(in), {}));
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start =
        end +
        ((end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

// Attached as the maker's user, who owns every company database.
void OpenAsKorvane(kv::TIBDatabase& database, const std::string& connectionString) {
  database.DatabaseName = connectionString;
  database.Params = {"user_name=" + std::string(kv::KorvaneUserName),
                     "password=" + std::string(kv::KorvanePassword)};
  database.Open();
}

bool DatabaseExists(const std::string& connectionString) {
  if (kv::GetConnectionType(connectionString) == kv::ibctLocal) {
    return kv::win::GetFileAttributes(connectionString) != kv::win::INVALID_FILE_ATTRIBUTES;
  }
  try {
    kv::TIBDatabase database;
    OpenAsKorvane(database, connectionString);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// A database left half made (no character set, no tables, lists missing) would pass for a finished
// one later. A local file goes through the host's file system; a server's database is dropped.
void RemoveUnfinished(const std::string& connectionString) noexcept {
  try {
    if (kv::GetConnectionType(connectionString) == kv::ibctLocal) {
      kv::win::DeleteFile(connectionString);
      return;
    }
    kv::TIBDatabase database;
    OpenAsKorvane(database, connectionString);
    database.DropDatabase();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kv-companydb: %s could not be removed: %s\n", connectionString.c_str(), error.what());
  }
}

void FillDatabase(kv::ProductCode code, const std::string& connectionString, const std::vector<std::string>& lists) {
  kv::CreateCompanyDatabase(connectionString, code);
  if (lists.empty()) return;
  std::string identifier;
  std::int32_t version = 0;
  kv::CompanyDatabaseKindOf(code, identifier, version);
  kv::TdmDBConnection connection;
  connection.Init(version, identifier, "Base de données", "kv-companydb");
  connection.SetParams(connectionString, "", "", "");
  connection.ConnectAsKorvane();
  kv::TdmStructurePrinting store("", &connection);
  for (const std::string& list : lists) {
    const std::filesystem::path file(list);
    store.InsertPrintParams(kv::text::ToLower(file.stem().string()), ListLines(file));
  }
  connection.Disconnect();
}

int Create(const std::string& product, const std::string& connectionString,
           const std::vector<std::string>& lists) {
  const kv::ProductCode code = kv::ProductKeyToCode(product);
  // Never replaced, and never removed below: it is somebody's data.
  if (DatabaseExists(connectionString)) throw kv::Error("La base de données " + connectionString + " existe déjà.");
  try {
    FillDatabase(code, connectionString, lists);
  } catch (...) {
    RemoveUnfinished(connectionString);
    throw;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 3 || args[0] != "create") {
    std::fprintf(stderr, "usage: kv-companydb create PRODUCT CONNECTION [LIST.lst ...]\n");
    return 64;
  }
  try {
    return Create(args[1], args[2], std::vector<std::string>(args.begin() + 3, args.end()));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kv-companydb: %s\n", error.what());
    return 1;
  }
}
