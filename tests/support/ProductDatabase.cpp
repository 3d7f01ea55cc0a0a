#include "tests/support/ProductDatabase.h"

#include "db/IBComponents.h"
#include "db/IBManagers.h"
#include "db/KorvaneLogon.h"
#include "db/client/Attachment.h"
#include "tests/support/CompanyDatabase.h"
#include "tests/support/FirebirdRoot.h"

namespace kv::test {

namespace fs = std::filesystem;

ProductDatabase::ProductDatabase(const TempPrefix& prefix, const std::string& windowsPath,
                                 const std::string& identifier, std::int32_t version)
    : windowsPath_(windowsPath) {
  UseTestFirebirdRoot();
  hostPath_ = prefix.Host(windowsPath);
  fs::create_directories(hostPath_.parent_path());
  TIBDatabase database;
  TIBTransaction transaction;
  transaction.SetDefaultDatabase(&database);
  database.SetDefaultTransaction(&transaction);
  TDatabaseManager manager;
  manager.Name = "DatabaseManager";
  manager.SetDatabase(&database);
  manager.SetTransaction(&transaction);
  manager.SetConnectionString(windowsPath);
  manager.SetUserName(KorvaneUserName);
  manager.SetPassword(KorvanePassword);
  manager.SetDBIdentifier(identifier);
  manager.SetDBVersionValue(version);
  manager.CreateDatabase();
  manager.RegisterUDF();
  manager.RegisterStoredProcs();
  database.Close();
}

ProductDatabase::~ProductDatabase() {
  try {
    fb::Attachment attachment;
    attachment.Attach(windowsPath_, CompanyDatabase::AttachParams());
    attachment.Drop();
  } catch (...) {
    // Still attached elsewhere or already gone: the file is removed below.
  }
  std::error_code ec;
  fs::remove(hostPath_, ec);
}

}  // namespace kv::test
