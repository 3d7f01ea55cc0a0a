// The components of the connection module as the schema manager meets them (IBDatabase,
// GlobalTransaction, DatabaseManager bound to both) and a reader of rows on an attachment and a
// transaction of its own, for the tests of the schema and table managers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/IBComponents.h"
#include "db/IBManagers.h"
#include "db/KorvaneLogon.h"

namespace kv::test {

struct ManagerComponents {
  TIBDatabase IBDatabase;
  TIBTransaction GlobalTransaction;
  TDatabaseManager DatabaseManager;
  // The pauses between attempts, as RegisterUser and UnRegisterUser asked for them.
  std::vector<int> Pauses;

  explicit ManagerComponents(const std::string& connectionString) {
    IBDatabase.Name = "IBDatabase";
    GlobalTransaction.Name = "GlobalTransaction";
    DatabaseManager.Name = "DatabaseManager";
    IBDatabase.SetDefaultTransaction(&GlobalTransaction);
    DatabaseManager.SetDatabase(&IBDatabase);
    DatabaseManager.SetTransaction(&GlobalTransaction);
    DatabaseManager.SetConnectionString(connectionString);
    DatabaseManager.SetUserName(KorvaneUserName);
    DatabaseManager.SetPassword(KorvanePassword);
    DatabaseManager.Pause = [this](int milliseconds) { Pauses.push_back(milliseconds); };
  }
};

// Every row of a query, read in a transaction of its own that is committed afterwards.
inline std::vector<std::vector<fb::Value>> ReadRows(TIBDatabase& database, const std::string& sql,
                                                    const std::vector<fb::Value>& params = {}) {
  TIBTransaction transaction;
  transaction.SetDefaultDatabase(&database);
  TIBQuery query;
  query.SetDatabase(&database);
  query.SetTransaction(&transaction);
  query.SQL = {sql};
  for (std::size_t i = 0; i < params.size(); ++i) query.Params()[static_cast<int>(i)].Value = params[i];
  transaction.StartTransaction();
  std::vector<std::vector<fb::Value>> rows;
  for (query.Open(); !query.Eof(); query.Next()) {
    std::vector<fb::Value> row;
    for (int i = 0; i < query.FieldCount(); ++i) row.push_back(query.Fields(i).Value);
    rows.push_back(std::move(row));
  }
  query.Close();
  transaction.Commit();
  return rows;
}

// The first column of every row, as text.
inline std::vector<std::string> ReadColumn(TIBDatabase& database, const std::string& sql,
                                           const std::vector<fb::Value>& params = {}) {
  std::vector<std::string> values;
  for (const auto& row : ReadRows(database, sql, params)) values.push_back(row.at(0).AsString());
  return values;
}

// Runs one statement in a transaction of its own.
inline void RunStatement(TIBDatabase& database, const std::string& sql,
                         const std::vector<fb::Value>& params = {}) {
  TIBTransaction transaction;
  transaction.SetDefaultDatabase(&database);
  TIBSQL statement;
  statement.SetDatabase(&database);
  statement.SetTransaction(&transaction);
  statement.SQL = {sql};
  for (std::size_t i = 0; i < params.size(); ++i) statement.Params()[static_cast<int>(i)].Value = params[i];
  transaction.StartTransaction();
  statement.ExecQuery();
  transaction.Commit();
}

// An attachment of its own to a database, as the maker's user and without the connection module's
// checks: another workstation, or a test that prepares or reads a database behind the module.
struct KorvaneAttachment {
  explicit KorvaneAttachment(const std::string& connectionString) {
    database.DatabaseName = connectionString;
    database.Params = {std::string("user_name=") + KorvaneUserName,
                       std::string("password=") + KorvanePassword, "lc_ctype=ISO8859_1"};
    database.Open();
  }
  void Run(const std::string& sql) { RunStatement(database, sql); }
  std::vector<std::string> Column(const std::string& sql) { return ReadColumn(database, sql); }

  TIBDatabase database;
};

}  // namespace kv::test
