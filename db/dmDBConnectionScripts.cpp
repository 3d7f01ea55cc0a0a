// TdmDBConnection: command scripts, run as the maker's user in one module transaction.
#include "db/CommandScript.h"
#include "db/KorvaneLogon.h"
#include "db/dmDBConnectionUnit.h"
#include "platform/Errors.h"

namespace kv {

namespace {

// Switches the statement's parameter scanning off for its life: ":name" inside procedure and
// trigger bodies reaches the server unchanged.
class ParamCheckOff {
 public:
  explicit ParamCheckOff(TIBSQL& sql) : sql_(sql) { sql_.ParamCheck = false; }
  ~ParamCheckOff() { sql_.ParamCheck = true; }
  ParamCheckOff(const ParamCheckOff&) = delete;
  ParamCheckOff& operator=(const ParamCheckOff&) = delete;

 private:
  TIBSQL& sql_;
};

}  // namespace

void TdmDBConnection::ExecuteCommands(const std::vector<std::string>& TextList, const std::string& db_id,
                                      std::int32_t Vmin, std::int32_t Vmax) {
  // The checks come before anything changes: a refused script leaves the attachment and the
  // credentials as they were.
  std::string dbid;
  std::int32_t dbv = 0;
  DatabaseManager->GetDBVersion(dbid, dbv);
  if (dbid != db_id) throw Error("Les commandes ne sont pas destinées à cette base de données!");
  if (Vmin > dbv) throw Error("La base de données n'est pas à jour pour exécuter ces commandes!");
  if (Vmax < dbv) throw Error("Ces commandes sont obsolètes!");

  const std::string connectionString = DatabaseManager->ConnectionString();
  const std::string userName = DatabaseManager->UserName();
  const std::string role = DatabaseManager->Role();
  const std::string password = DatabaseManager->Password();
  try {
    SetParams(connectionString, KorvaneUserName, KorvaneRole, KorvanePassword);
    // Directly: the script may be the one that brings the database to the expected version.
    DatabaseManager->Connect();
    IBSQL->SQL.clear();
    ParamCheckOff paramCheckOff(*IBSQL);
    DoStartTransaction(false);
    try {
      ReadCommandScript(TextList, [&](const std::vector<std::string>& statement) {
        IBSQL->SQL = statement;
        IBSQL->ExecQuery();
      });
      DoCommit();
    } catch (const std::exception& E) {
      DoRollback(E);
    }
  } catch (...) {
    SetParams(connectionString, userName, role, password);
    throw;
  }
  SetParams(connectionString, userName, role, password);
}

}  // namespace kv
