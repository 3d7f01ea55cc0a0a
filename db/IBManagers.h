// The schema manager (TDatabaseManager) and the table manager (TTableManager) of the database
// layer: one database worked on through a bound attachment and a bound transaction, in units of
// work that nest on the transaction's Tag, shared with the connection module.
//
// Datasets handed out (CreateQueryGlobal, TTableManager::CreateQuery) are tracked by the schema
// manager: they are given back with FreeDataset, and one left at the manager's destruction is
// reported in a message box.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "db/Component.h"
#include "db/IBComponents.h"
#include "db/client/Value.h"

namespace kv {

// The list-of-variants arguments (key values, record values).
using TVariantList = std::vector<fb::Value>;
// The variant argument of ExecuteSQL and CreateDataset: nothing, one value (parameter 0) or an
// array (element i to parameter i).
using TVariantValues = std::variant<std::monostate, fb::Value, TVariantList>;

// Binds the values to the dataset's parameters by position, as above.
void BindVariantValues(TIBDataSet& DataSet, const TVariantValues& Values);

class TTableManager;

// A dataset handed out by the table manager: it owns the transaction made for it, if any, and
// frees it with itself.
class TTableQuery : public TIBQuery {
 public:
  ~TTableQuery() override;
  std::unique_ptr<TIBTransaction> OwnedTransaction;
};

class TDatabaseManager : public TComponent {
 public:
  // Owned by whoever holds it (the connection module).
  TDatabaseManager();
  // Reports the datasets and transactions still tracked, then frees them; never throws.
  ~TDatabaseManager() override;

  // Published properties.
  TIBDatabase* Database() const { return FDatabase; }
  void SetDatabase(TIBDatabase* Value);
  const std::string& UserName() const { return FUserName; }
  void SetUserName(const std::string& Value) { FUserName = Value; }
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& Value) { FPassword = Value; }
  const std::string& ConnectionString() const { return FConnectionString; }
  void SetConnectionString(const std::string& Value) { FConnectionString = Value; }
  const std::string& Role() const { return FRole; }
  void SetRole(const std::string& Value) { FRole = Value; }
  TIBTransaction* Transaction() const { return FTransaction; }
  void SetTransaction(TIBTransaction* Value);
  std::int32_t DBVersion() const { return FDBVersion; }
  void SetDBVersionValue(std::int32_t Value) { FDBVersion = Value; }
  const std::string& DBIdentifier() const { return FDBIdentifier; }
  void SetDBIdentifier(const std::string& Value) { FDBIdentifier = Value; }
  const std::string& DBDescription() const { return FDBDescription; }
  void SetDBDescription(const std::string& Value) { FDBDescription = Value; }

  // Units of work on the bound transaction; the depth is its Tag.
  void BeginNestedWork();
  void EndNestedWork();
  [[noreturn]] void AbortNestedWork(const std::exception& E);
  // Units of work this manager started on the bound transaction and has not ended.
  std::int32_t ActiveTransactionCount() const { return FActiveTransactionCount; }

  void Connect();
  void CreateDatabase();
  void RegisterUDF();
  void RegisterStoredProcs();
  void ExecuteSQL(const std::string& Sql);

  std::int64_t GenerateNumber(const std::string& gen_id);
  std::int64_t GenerateNumber(const std::string& gen_id, std::int64_t increment);
  std::int64_t GetCurrentGeneratorValue(const std::string& gen_id);
  void SetGeneratorValue(const std::string& gen_id, std::int64_t Value);
  void CreateException(const std::string& Name, const std::string& msg);
  void CreateGenerator(const std::string& Name);
  void DropGenerator(const std::string& Name);
  void DropProcedure(const std::string& Name);
  void DropIndex(const std::string& IndexName);
  void DropTrigger(const std::string& TrigName);
  void ClearSource();
  void ClearTriggerSource(const std::string& TriggerName);

  bool FindTable(const std::string& TableName);
  bool FindGenerator(const std::string& Name);
  bool FindIndex(const std::string& IndexName);
  bool FindCheckConstraint(const std::string& Name);
  bool FindTrigger(const std::string& TriggerName);
  void GetTableNames(std::vector<std::string>& TextList);
  void GetFieldNames(const std::string& TableName, std::vector<std::string>& TextList);
  std::string GetDBOwner();
  void SetDBOwner(const std::string& Value);
  std::string GetConstraintIndexName(const std::string& ConstraintName);
  std::string GetPrimaryKeyIndexName(const std::string& TableName);

  void GetDBVersion(std::string& dbi, std::int32_t& dbv);
  void SetDBVersion(std::int32_t dbv);

  // Record, refresh or delete the user string (its first 60 characters, folded to ISO 8859-1 with
  // "?" for a character it lacks) in the table Users; neither ever fails: up to five attempts,
  // random pauses between them, no further attempt after a failure that never reached the client
  // library.
  void RegisterUser(const std::string& UserStr);
  void UnRegisterUser(const std::string& UserStr);
  void GetUserList(std::vector<std::string>& liste);

  void GetLogData(std::vector<std::string>& TextList);
  // The server's current time (days since 1899-12-30).
  double GetServerTime();
  void SetStatistics();
  void CloseAllConnections();

  // A dataset on the bound transaction, tracked until FreeDataset.
  TIBQuery* CreateQueryGlobal();
  // Closes and frees a tracked dataset (and the transaction made for it).
  void FreeDataset(TIBDataSet* DataSet);
  void Commit(TIBDataSet* DataSet);
  void CommitRetaining(TIBDataSet* DataSet);
  void Rollback(TIBDataSet* DataSet);
  void CheckNoActiveTransaction();
  // Kept for the callers that bracket their updates with them; they do nothing.
  void AcquireUpdateLock() {}
  void ReleaseUpdateLock() {}

  // Tracks a dataset handed out by a table manager, with the transaction made for it, if any.
  void RegisterDataset(TIBDataSet* DataSet, TIBTransaction* MadeTransaction);
  const std::vector<TIBDataSet*>& DatasetList() const { return FDatasetList; }
  const std::vector<TIBTransaction*>& TransactionList() const { return FTransactionList; }

  // Whether the attached server is of the Firebird 3 family or later (asked once per attachment).
  bool IsFirebird3Family();

  // Seconds the connected users' own transaction waits at most for a row another program holds;
  // 0: the client's default (no limit). The connection module sets it for the attached server.
  void SetLockTimeout(int Seconds);

  // The pause between two attempts of RegisterUser and UnRegisterUser, in milliseconds (0 to
  // 1999, drawn at random); sleeps by default. Tests shorten it.
  std::function<void(int Milliseconds)> Pause;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  friend class TTableManager;

  // Runs the work as one unit of work: failures go to AbortNestedWork.
  template <typename Work>
  void Nested(Work&& work);
  // Opens FQuery on the lines and answers whether a row came back.
  bool QueryHasRow(std::vector<std::string> Lines);
  // The key of a user string as an SQL literal, quotes doubled.
  static std::string UserKey(const std::string& UserStr);
  void PurgeStaleUsers();
  // Runs one attempt up to five times with the pauses; swallows the last failure.
  void WithAttempts(const std::function<void()>& Attempt);

  TIBDatabase* FDatabase = nullptr;
  std::string FUserName;
  std::string FPassword;
  std::unique_ptr<TIBTransaction> FTransaction2;
  TIBTransaction* FTransaction = nullptr;
  std::unique_ptr<TIBQuery> FQuery;
  std::unique_ptr<TIBQuery> FQuery2;
  std::unique_ptr<TIBSQL> FSQL;
  std::unique_ptr<TIBSQL> FSQL2;
  std::unique_ptr<TIBTransaction> FLockTransaction;
  std::unique_ptr<TIBSQL> FLockSQL;
  std::vector<TIBDataSet*> FDatasetList;
  std::vector<TIBTransaction*> FTransactionList;
  std::string FRole;
  std::string FConnectionString;
  std::int32_t FDBVersion = 0;
  std::string FDBIdentifier;
  std::string FDBDescription;
  std::int32_t FActiveTransactionCount = 0;
};

// One line of a table's column definitions ("pname VARCHAR(60) NOT NULL *").
struct TColumnDefinition {
  std::string Name;
  std::string Definition;   // the line without its marks: name, type, constraints
  bool Key = false;         // marked "*"
  bool NotWritten = false;  // marked "#": left out of INSERT and UPDATE
};

enum TReferenceOption : unsigned { UpdateCascade = 0x1, DeleteSetNull = 0x2, DeleteCascade = 0x4 };

class TTableManager : public TComponent {
 public:
  TTableManager();
  // Frees the cached queries; never throws.
  ~TTableManager() override;

  static TColumnDefinition ParseColumnDefinition(const std::string& Line);

  const std::vector<std::string>& FieldDefs() const { return FFieldDefs; }
  void SetFieldDefs(const std::vector<std::string>& Value) { FFieldDefs = Value; }
  const std::string& TableName() const { return FTableName; }
  void SetTableName(const std::string& Value) { FTableName = Value; }
  using TMapFieldsToRecord = std::function<void(TIBDataSet& DataSet, void* PRec)>;
  using TMapRecordToSQLParams = std::function<void(TParams& Params, void* PRec)>;
  const TMapFieldsToRecord& OnMapFieldsToRecord() const { return FMapFieldsToRecordProc; }
  void SetOnMapFieldsToRecord(TMapFieldsToRecord Value) { FMapFieldsToRecordProc = std::move(Value); }
  const TMapRecordToSQLParams& OnMapRecordToSQLParams() const { return FMapRecordToSQLParamsProc; }
  void SetOnMapRecordToSQLParams(TMapRecordToSQLParams Value) {
    FMapRecordToSQLParamsProc = std::move(Value);
  }
  TDatabaseManager* DatabaseManager() const { return FDatabaseManager; }
  void SetDatabaseManager(TDatabaseManager* Value);
  TIBDatabase* Database() const { return FDatabaseManager ? FDatabaseManager->Database() : nullptr; }
  std::string KeyName();

  void CreateTable();
  void CreateTable(bool FailIfExists);
  void DropTable();
  void EmptyTable();
  void AllowAccess();
  void DenyAccess();
  bool AddColumn(const std::string& FieldName, const std::string& FieldDef, bool FailIfExists);
  void DropColumn(const std::string& FieldName, bool FailIfNotExists);
  bool FindColumn(const std::string& ColumnName);
  void CreateIndex(const std::string& IndexName, const std::vector<std::string>& Columns, bool Unique);
  void CreateDescendingIndex(const std::string& IndexName, const std::vector<std::string>& Columns,
                             bool Unique);
  void CreateReferenceConstraint(const std::string& Name, const std::vector<std::string>& Columns,
                                 const std::string& RefTable, const std::vector<std::string>& RefColumns,
                                 unsigned Options);
  void CreateReferenceConstraint2(const std::string& Name, const std::vector<std::string>& Columns,
                                  const std::string& RefTable, const std::vector<std::string>& RefColumns);
  void CreateReferenceConstraintCascadeSetNull(const std::string& Name,
                                               const std::vector<std::string>& Columns,
                                               const std::string& RefTable,
                                               const std::vector<std::string>& RefColumns);
  void CreateReferenceConstraintCascadeDelete(const std::string& Name,
                                              const std::vector<std::string>& Columns,
                                              const std::string& RefTable,
                                              const std::vector<std::string>& RefColumns);
  void ExecuteSQL(const std::string& Sql, const TVariantValues& Values = {});

  void BuildSQL4Insert(std::vector<std::string>& Sql);
  void BuildSQL4Update(std::vector<std::string>& Sql, const std::vector<std::string>* ExcludedFieldNames);
  void BuildDeleteSQL(std::vector<std::string>& Sql);
  void BuildCreateTableSQL(std::vector<std::string>& Sql);
  void BuildSelectSQL(std::vector<std::string>& Sql, const std::vector<std::string>& Columns,
                      const std::string& Where);
  // The statements of the writable rows, on the manager's bound transaction; their text is built
  // on first use.
  TIBSQL& SQLAppend();
  TIBSQL& SQLUpdate();

  // A dataset tracked by the schema manager, named table_0000, table_0001, ...; with no
  // transaction given it gets one of its own ("concurrency", "nowait").
  TIBQuery* CreateQuery(bool ReadOnly, TIBTransaction* Transaction);
  TIBQuery* CreateQuery(bool ReadOnly) { return CreateQuery(ReadOnly, nullptr); }
  TIBQuery* CreateDataset(const std::vector<std::string>& Columns, const std::string& Where,
                          const TVariantValues& Values, bool ReadOnly, bool UniDirectional);
  void FreeDataset(TIBDataSet* DataSet);
  TIBQuery* QueryFindPrimaryKey();
  bool FindPK(const TVariantList& KeyValues);
  void AppendRecord(const TVariantList& Values);
  void DeleteRecord(const TVariantList& KeyValues);
  std::int32_t RecordCount();
  std::string GetConstraintIndexName(const std::string& ConstraintName);
  std::string GetPrimaryIndexName();
  std::string GetUserPrivileges(const std::string& UserName);
  std::int32_t GetfieldSize(const std::string& Fieldname);
  std::string GetfieldType(const std::string& Fieldname);
  void ChangeVarCharFieldLength(const std::string& FieldName, std::int32_t NewLength);
  void EnlargeStringField(const std::string& OldFieldName, const std::string& NewFieldName,
                          std::int32_t NewSize);
  void ConvertVarCharFieldToInteger(const std::string& FieldName, const std::string& TempName);
  void Test() {}

  // Raises "no database! (code)" without a manager or an attachment.
  void CheckDatabase(int Code) const;
  // The key columns in definition order (FPKCount takes their number).
  std::vector<TColumnDefinition> GetKeyColumns();
  std::int32_t PKCount() const { return FPKCount; }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  std::vector<TColumnDefinition> Columns() const;
  // The schema manager's statement, after CheckDatabase(5).
  TIBSQL& ManagerSQL();
  TIBQuery& ManagerQuery();
  // The key lines "name = :p0", "AND name2 = :p1", ...
  std::vector<std::string> KeyParamLines();
  TIBQuery* GetFindPKQuery(TIBQuery*& Cache, const std::string& FirstLine, bool Exists);
  void ReleaseCachedQuery(TIBQuery*& Query) noexcept;
  // Reads the only value of a one-column query; not exactly one row raises Error.
  fb::Value ReadOneValue(TIBQuery& Query, const std::string& ErrorText);
  std::string FieldSource(TIBQuery& Query, const std::string& Fieldname, const std::string& ErrorText);

  TDatabaseManager* FDatabaseManager = nullptr;
  std::vector<std::string> FFieldDefs;
  std::string FTableName;
  std::string FKeyname;
  std::vector<std::string> FConstraintIndexNames;
  TMapFieldsToRecord FMapFieldsToRecordProc;
  TMapRecordToSQLParams FMapRecordToSQLParamsProc;
  std::int32_t FQueryCounter = 0;
  std::unique_ptr<TIBSQL> FInsertSQL;
  std::unique_ptr<TIBSQL> FUpdateSQL;
  TIBQuery* FQueryFindPrimaryKey = nullptr;
  TIBQuery* FQueryFindPK = nullptr;
  std::int32_t FPKCount = 0;
};

}  // namespace kv
