// The table manager TTableManager and its queries (declared in db/IBManagers.h with the schema
// manager).
#include "db/IBManagers.h"

#include <algorithm>

#include "formats/Text.h"
#include "platform/Errors.h"

namespace kv {

namespace {

std::string Join(const std::vector<std::string>& items, const std::string& separator) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? separator : "") + items[i];
  return out;
}

template <typename T>
bool Contains(const std::vector<T*>& list, const TComponent* item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// Opens a dataset whose transaction the dataset layer starts when it is not active.
void OpenStartingTransaction(TIBQuery& query) {
  if (query.Transaction() != nullptr && !query.Transaction()->Active())
    query.Transaction()->StartTransaction();
  query.Open();
}

}  // namespace

// --- TTableQuery ---------------------------------------------------------------------------

TTableQuery::~TTableQuery() {
  // Leaves the transaction while both are whole, then frees it.
  Close();
  if (Transaction() == OwnedTransaction.get()) SetTransaction(nullptr);
  OwnedTransaction.reset();
}

// --- TTableManager -------------------------------------------------------------------------

TTableManager::TTableManager()
    : FInsertSQL(std::make_unique<TIBSQL>()), FUpdateSQL(std::make_unique<TIBSQL>()) {}

TTableManager::~TTableManager() {
  ReleaseCachedQuery(FQueryFindPK);
  ReleaseCachedQuery(FQueryFindPrimaryKey);
}

void TTableManager::ReleaseCachedQuery(TIBQuery*& Query) noexcept {
  if (Query == nullptr) return;
  TIBQuery* query = Query;
  Query = nullptr;
  try {
    if (FDatabaseManager != nullptr && Contains(FDatabaseManager->DatasetList(), query)) {
      FDatabaseManager->FreeDataset(query);
      return;
    }
  } catch (...) {
  }
  delete query;
}

void TTableManager::SetDatabaseManager(TDatabaseManager* Value) {
  FDatabaseManager = Value;
  if (Value != nullptr) FreeNotification(Value);
}

void TTableManager::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove) return;
  if (AComponent == FDatabaseManager) FDatabaseManager = nullptr;
  if (AComponent == FQueryFindPK) FQueryFindPK = nullptr;
  if (AComponent == FQueryFindPrimaryKey) FQueryFindPrimaryKey = nullptr;
}

void TTableManager::CheckDatabase(int Code) const {
  if (FDatabaseManager == nullptr || FDatabaseManager->Database() == nullptr) {
    throw Error("no database! (" + std::to_string(Code) + ")");
  }
}

TIBSQL& TTableManager::ManagerSQL() {
  CheckDatabase(5);
  return *FDatabaseManager->FSQL;
}

TIBQuery& TTableManager::ManagerQuery() {
  CheckDatabase(5);
  return *FDatabaseManager->FQuery;
}

TColumnDefinition TTableManager::ParseColumnDefinition(const std::string& Line) {
  TColumnDefinition column;
  std::string definition = text::Trim(Line);
  if (const auto star = definition.find('*'); star != std::string::npos) {
    column.Key = true;
    definition.erase(star, 1);
  }
  if (const auto hash = definition.find('#'); hash != std::string::npos) {
    column.NotWritten = true;
    definition.erase(hash, 1);
  }
  column.Name = definition.substr(0, definition.find(' '));
  column.Definition = definition;
  return column;
}

std::vector<TColumnDefinition> TTableManager::Columns() const {
  std::vector<TColumnDefinition> columns;
  for (const std::string& line : FFieldDefs) columns.push_back(ParseColumnDefinition(line));
  return columns;
}

std::vector<TColumnDefinition> TTableManager::GetKeyColumns() {
  std::vector<TColumnDefinition> keys;
  for (const TColumnDefinition& column : Columns()) {
    if (column.Key) keys.push_back(column);
  }
  FPKCount = static_cast<std::int32_t>(keys.size());
  return keys;
}

std::vector<std::string> TTableManager::KeyParamLines() {
  std::vector<std::string> lines;
  const auto keys = GetKeyColumns();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    lines.push_back((i ? "AND " : "") + keys[i].Name + " = :p" + std::to_string(i));
  }
  return lines;
}

// --- Generated statements ------------------------------------------------------------------

void TTableManager::BuildSQL4Insert(std::vector<std::string>& Sql) {
  Sql = {"INSERT INTO " + FTableName + "("};
  std::vector<std::string> names;
  for (const TColumnDefinition& column : Columns()) {
    if (column.NotWritten) continue;
    if (!names.empty()) Sql.back() += ",";
    Sql.push_back(column.Name);
    names.push_back(column.Name);
  }
  Sql.back() += ")";
  Sql.push_back("VALUES (:" + Join(names, ", :") + ")");
}

void TTableManager::BuildSQL4Update(std::vector<std::string>& Sql,
                                    const std::vector<std::string>* ExcludedFieldNames) {
  Sql = {"UPDATE " + FTableName + " SET"};
  bool first = true;
  for (const TColumnDefinition& column : Columns()) {
    if (column.Key || column.NotWritten) continue;
    if (ExcludedFieldNames != nullptr &&
        std::any_of(ExcludedFieldNames->begin(), ExcludedFieldNames->end(),
                    [&](const std::string& excluded) { return text::IEquals(excluded, column.Name); })) {
      continue;
    }
    if (!first) Sql.back() += ",";
    Sql.push_back(column.Name + " = :" + column.Name);
    first = false;
  }
  Sql.push_back("WHERE");
  const auto keys = GetKeyColumns();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    Sql.push_back(keys[i].Name + " = :OLD_" + keys[i].Name + (i + 1 < keys.size() ? " AND" : ""));
  }
}

void TTableManager::BuildDeleteSQL(std::vector<std::string>& Sql) {
  Sql = {"DELETE FROM " + FTableName + " WHERE"};
  const auto keys = GetKeyColumns();
  for (std::size_t i = 0; i < keys.size(); ++i) {
    Sql.push_back((i ? "AND " : "") + keys[i].Name + " = :OLD_" + keys[i].Name);
  }
}

void TTableManager::BuildCreateTableSQL(std::vector<std::string>& Sql) {
  Sql = {"CREATE TABLE " + FTableName + "("};
  for (const TColumnDefinition& column : Columns()) Sql.push_back(column.Definition + ",");
  std::vector<std::string> keyNames;
  for (const TColumnDefinition& key : GetKeyColumns()) keyNames.push_back(key.Name);
  if (!keyNames.empty()) {
    Sql.push_back("PRIMARY KEY (" + Join(keyNames, ",") + ")");
  } else {
    Sql.back().pop_back();
  }
  Sql.push_back(")");
}

void TTableManager::BuildSelectSQL(std::vector<std::string>& Sql, const std::vector<std::string>& Columns,
                                   const std::string& Where) {
  Sql = {"SELECT " + Join(Columns, ", "), "FROM " + FTableName};
  if (!Where.empty()) {
    Sql.push_back("WHERE");
    Sql.push_back(Where);
  }
  std::vector<std::string> keyNames;
  for (const TColumnDefinition& key : GetKeyColumns()) keyNames.push_back(key.Name);
  Sql.push_back(keyNames.empty() ? std::string() : "ORDER BY " + Join(keyNames, ", "));
}

TIBSQL& TTableManager::SQLAppend() {
  CheckDatabase(5);
  if (FInsertSQL->SQL.empty()) BuildSQL4Insert(FInsertSQL->SQL);
  FInsertSQL->SetTransaction(FDatabaseManager->Transaction());
  return *FInsertSQL;
}

TIBSQL& TTableManager::SQLUpdate() {
  CheckDatabase(5);
  if (FUpdateSQL->SQL.empty()) BuildSQL4Update(FUpdateSQL->SQL, nullptr);
  FUpdateSQL->SetTransaction(FDatabaseManager->Transaction());
  return *FUpdateSQL;
}

// --- Table statements ----------------------------------------------------------------------

void TTableManager::CreateTable() {
  CheckDatabase(1);
  TIBSQL& statement = ManagerSQL();
  FDatabaseManager->Nested([&] {
    BuildCreateTableSQL(statement.SQL);
    statement.ExecQuery();
    ExecuteSQL("GRANT SELECT, REFERENCES ON " + FTableName + " TO ROLE_READER");
    ExecuteSQL("GRANT SELECT, REFERENCES, DELETE, UPDATE, INSERT ON " + FTableName +
               " TO ROLE_READER_WRITER");
  });
}

void TTableManager::CreateTable(bool FailIfExists) {
  if (!FailIfExists) {
    CheckDatabase(1);
    if (FDatabaseManager->FindTable(FTableName)) return;
  }
  CreateTable();
}

void TTableManager::DropTable() {
  CheckDatabase(2);
  TIBSQL& statement = ManagerSQL();
  FDatabaseManager->Nested([&] {
    statement.SQL = {"DROP TABLE " + FTableName};
    statement.ExecQuery();
  });
}

void TTableManager::EmptyTable() {
  ExecuteSQL("DELETE FROM " + FTableName);
}

void TTableManager::AllowAccess() {
  CheckDatabase(10);
  FDatabaseManager->Nested([&] {
    ExecuteSQL("GRANT SELECT, REFERENCES ON " + FTableName + " TO ROLE_READER");
    ExecuteSQL("GRANT SELECT, REFERENCES, DELETE, UPDATE, INSERT ON " + FTableName +
               " TO ROLE_READER_WRITER");
  });
}

void TTableManager::DenyAccess() {
  CheckDatabase(11);
  FDatabaseManager->Nested([&] {
    ExecuteSQL("REVOKE SELECT, REFERENCES ON " + FTableName + " FROM ROLE_READER");
    ExecuteSQL("REVOKE SELECT, REFERENCES, DELETE, UPDATE, INSERT ON " + FTableName +
               " FROM ROLE_READER_WRITER");
  });
}

bool TTableManager::AddColumn(const std::string& FieldName, const std::string& FieldDef, bool FailIfExists) {
  const bool existed = FindColumn(FieldName);
  if (!existed || FailIfExists)
    ExecuteSQL("ALTER TABLE " + FTableName + " Add " + FieldName + " " + FieldDef);
  return existed;
}

void TTableManager::DropColumn(const std::string& FieldName, bool FailIfNotExists) {
  if (FailIfNotExists || FindColumn(FieldName))
    ExecuteSQL("ALTER TABLE " + FTableName + " DROP " + FieldName);
}

bool TTableManager::FindColumn(const std::string& ColumnName) {
  TIBQuery& query = ManagerQuery();
  bool found = false;
  FDatabaseManager->Nested([&] {
    query.SQL = {"SELECT RDB$FIELD_NAME FROM RDB$RELATION_FIELDS WHERE",
                 "RDB$RELATION_NAME = '" + text::ToUpper(FTableName) + "'",
                 "AND RDB$FIELD_NAME = '" + text::ToUpper(ColumnName) + "'"};
    query.Open();
    found = !query.Eof();
    query.Close();
  });
  return found;
}

void TTableManager::CreateIndex(const std::string& IndexName, const std::vector<std::string>& Columns,
                                bool Unique) {
  ExecuteSQL("CREATE " + std::string(Unique ? "UNIQUE " : "") + "INDEX " + IndexName + " ON " + FTableName +
             "(" + Join(Columns, ", ") + ")");
}

void TTableManager::CreateDescendingIndex(const std::string& IndexName,
                                          const std::vector<std::string>& Columns, bool Unique) {
  ExecuteSQL("CREATE " + std::string(Unique ? "UNIQUE " : "") + " DESC INDEX " + IndexName + " ON " +
             FTableName + "(" + Join(Columns, ", ") + ")");
}

namespace {

std::string ReferenceConstraintSql(const std::string& table, const std::string& name,
                                   const std::vector<std::string>& columns, const std::string& refTable,
                                   const std::vector<std::string>& refColumns) {
  return "ALTER TABLE " + table + " Add CONSTRAINT " + name + " FOREIGN KEY (" + Join(columns, ",") +
         ") REFERENCES " + refTable + "(" + Join(refColumns, ",") + ")";
}

}  // namespace

void TTableManager::CreateReferenceConstraint(const std::string& Name,
                                              const std::vector<std::string>& Columns,
                                              const std::string& RefTable,
                                              const std::vector<std::string>& RefColumns, unsigned Options) {
  if ((Options & DeleteSetNull) != 0 && (Options & DeleteCascade) != 0)
    throw Error("Incompatible delete options");
  std::string sql = ReferenceConstraintSql(FTableName, Name, Columns, RefTable, RefColumns);
  if ((Options & DeleteSetNull) != 0) sql += " ON DELETE SET NULL";
  if ((Options & DeleteCascade) != 0) sql += " ON DELETE CASCADE";
  if ((Options & UpdateCascade) != 0) sql += " ON UPDATE CASCADE";
  ExecuteSQL(sql);
}

void TTableManager::CreateReferenceConstraint2(const std::string& Name,
                                               const std::vector<std::string>& Columns,
                                               const std::string& RefTable,
                                               const std::vector<std::string>& RefColumns) {
  ExecuteSQL(ReferenceConstraintSql(FTableName, Name, Columns, RefTable, RefColumns));
}

void TTableManager::CreateReferenceConstraintCascadeSetNull(const std::string& Name,
                                                            const std::vector<std::string>& Columns,
                                                            const std::string& RefTable,
                                                            const std::vector<std::string>& RefColumns) {
  ExecuteSQL(ReferenceConstraintSql(FTableName, Name, Columns, RefTable, RefColumns) + " ON DELETE SET NULL");
}

void TTableManager::CreateReferenceConstraintCascadeDelete(const std::string& Name,
                                                           const std::vector<std::string>& Columns,
                                                           const std::string& RefTable,
                                                           const std::vector<std::string>& RefColumns) {
  ExecuteSQL(ReferenceConstraintSql(FTableName, Name, Columns, RefTable, RefColumns) + " ON DELETE CASCADE");
}

void TTableManager::ExecuteSQL(const std::string& Sql, const TVariantValues& Values) {
  CheckDatabase(4);
  TIBSQL& statement = ManagerSQL();
  FDatabaseManager->Nested([&] {
    statement.SQL = {Sql};
    BindVariantValues(statement, Values);
    statement.ExecQuery();
  });
}

// --- Datasets ------------------------------------------------------------------------------

TIBQuery* TTableManager::CreateQuery(bool ReadOnly, TIBTransaction* Transaction) {
  CheckDatabase(3);
  if (Transaction == nullptr) FDatabaseManager->CheckNoActiveTransaction();
  auto query = std::make_unique<TTableQuery>();
  query->SetDatabase(FDatabaseManager->Database());
  if (!ReadOnly) {
    const auto nothing = [](TIBDataSet&) {};
    query->AfterDelete = nothing;
    query->AfterPost = nothing;
    query->AfterInsert = nothing;
    BuildSQL4Insert(query->InsertSQL);
    BuildSQL4Update(query->ModifySQL, nullptr);
    BuildDeleteSQL(query->DeleteSQL);
  }
  if (Transaction != nullptr) {
    query->SetTransaction(Transaction);
  } else {
    query->OwnedTransaction = std::make_unique<TIBTransaction>();
    query->OwnedTransaction->SetDefaultDatabase(FDatabaseManager->Database());
    query->OwnedTransaction->Params.clear();
    query->OwnedTransaction->Params = {"concurrency", "nowait"};
    query->SetTransaction(query->OwnedTransaction.get());
  }
  char number[16];
  std::snprintf(number, sizeof number, "%.4d", FQueryCounter);
  query->Name = FTableName + "_" + number;
  ++FQueryCounter;
  FDatabaseManager->RegisterDataset(query.get(), query->OwnedTransaction.get());
  return query.release();
}

TIBQuery* TTableManager::CreateDataset(const std::vector<std::string>& Columns, const std::string& Where,
                                       const TVariantValues& Values, bool ReadOnly, bool UniDirectional) {
  TIBQuery* query = CreateQuery(ReadOnly, nullptr);
  try {
    BuildSelectSQL(query->SQL, Columns, Where);
    BindVariantValues(*query, Values);
    query->UniDirectional = UniDirectional;
    OpenStartingTransaction(*query);
  } catch (...) {
    if (FDatabaseManager != nullptr) FDatabaseManager->FreeDataset(query);
    throw;
  }
  return query;
}

void TTableManager::FreeDataset(TIBDataSet* DataSet) {
  if (FDatabaseManager == nullptr) throw Error("no database! (3)");
  FDatabaseManager->FreeDataset(DataSet);
}

TIBQuery* TTableManager::GetFindPKQuery(TIBQuery*& Cache, const std::string& FirstLine, bool Exists) {
  if (Cache == nullptr) {
    CheckDatabase(3);
    TIBQuery* query = CreateQuery(true, FDatabaseManager->Transaction());
    try {
      query->UniDirectional = true;
      std::vector<std::string> lines;
      if (Exists) lines = {"SELECT 'T' FROM RDB$DATABASE WHERE EXISTS", "("};
      lines.push_back(FirstLine);
      for (std::string& line : KeyParamLines()) lines.push_back(std::move(line));
      if (Exists) lines.push_back(")");
      query->SQL = std::move(lines);
      FreeNotification(query);
    } catch (...) {
      FDatabaseManager->FreeDataset(query);
      throw;
    }
    Cache = query;
  }
  return Cache;
}

bool TTableManager::FindPK(const TVariantList& KeyValues) {
  TIBQuery* query = GetFindPKQuery(FQueryFindPK, "SELECT 'T' FROM " + FTableName + " WHERE", true);
  if (query->Active()) throw Error("Query FPK is active");
  GetKeyColumns();
  if (static_cast<std::int32_t>(KeyValues.size()) != FPKCount) throw Error("FindPK : count mismatch");
  for (std::size_t i = 0; i < KeyValues.size(); ++i)
    query->ParamByName("p" + std::to_string(i)).Value = KeyValues[i];
  query->Open();
  const bool found = !query->Eof();
  query->Close();
  return found;
}

TIBQuery* TTableManager::QueryFindPrimaryKey() {
  TIBQuery* query = GetFindPKQuery(FQueryFindPrimaryKey, "SELECT * FROM " + FTableName + " WHERE", false);
  if (query->Active()) throw Error("Query FWK is active");
  return query;
}

void TTableManager::DeleteRecord(const TVariantList& KeyValues) {
  if (static_cast<std::int32_t>(KeyValues.size()) != static_cast<std::int32_t>(GetKeyColumns().size())) {
    throw Error("key mismatch");
  }
  TIBSQL& statement = ManagerSQL();
  FDatabaseManager->Nested([&] {
    statement.SQL = {"DELETE FROM " + FTableName + " WHERE"};
    for (std::string& line : KeyParamLines()) statement.SQL.push_back(std::move(line));
    for (std::size_t i = 0; i < KeyValues.size(); ++i)
      statement.Params()[static_cast<int>(i)].Value = KeyValues[i];
    statement.ExecQuery();
  });
}

void TTableManager::AppendRecord(const TVariantList& Values) {
  CheckDatabase(7);
  TIBSQL& statement = ManagerSQL();
  BuildSQL4Insert(statement.SQL);
  FDatabaseManager->Nested([&] {
    const int count = statement.Params().Count();
    // A value without a column would be lost without a word.
    if (static_cast<int>(Values.size()) > count) throw Error("AppendRecord : count mismatch");
    for (int i = 0; i < count; ++i) {
      statement.Params()[i].Value =
          i < static_cast<int>(Values.size()) ? Values[static_cast<std::size_t>(i)] : fb::Value::Null();
    }
    statement.ExecQuery();
  });
}

std::int32_t TTableManager::RecordCount() {
  CheckDatabase(6);
  TIBQuery* query = CreateQuery(true, nullptr);
  std::int32_t count = 0;
  try {
    query->SQL = {"SELECT COUNT(*) FROM " + FTableName};
    FDatabaseManager->Nested([&] {
      OpenStartingTransaction(*query);
      count = query->Fields(0).AsInteger();
      query->Close();
    });
  } catch (...) {
    if (FDatabaseManager != nullptr) FDatabaseManager->FreeDataset(query);
    throw;
  }
  FDatabaseManager->FreeDataset(query);
  return count;
}

std::string TTableManager::KeyName() {
  if (FKeyname.empty()) {
    CheckDatabase(8);
    FKeyname = FDatabaseManager->GetPrimaryKeyIndexName(text::ToUpper(FTableName));
  }
  return FKeyname;
}

std::string TTableManager::GetConstraintIndexName(const std::string& ConstraintName) {
  for (std::size_t i = 0; i + 1 < FConstraintIndexNames.size(); i += 2) {
    if (FConstraintIndexNames[i] == ConstraintName) return FConstraintIndexNames[i + 1];
  }
  CheckDatabase(9);
  const std::string indexName = FDatabaseManager->GetConstraintIndexName(ConstraintName);
  FConstraintIndexNames.push_back(ConstraintName);
  FConstraintIndexNames.push_back(indexName);
  return indexName;
}

std::string TTableManager::GetPrimaryIndexName() {
  TIBQuery& query = ManagerQuery();
  std::string name;
  FDatabaseManager->Nested([&] {
    query.SQL = {"SELECT RDB$CONSTRAINT_NAME FROM RDB$RELATION_CONSTRAINTS WHERE RDB$RELATION_NAME = ",
                 "'" + text::ToUpper(FTableName) + "'", "AND RDB$CONSTRAINT_TYPE = 'PRIMARY KEY'"};
    query.Open();
    name = text::Trim(query.Fields(0).AsString());
    query.Close();
  });
  return name;
}

std::string TTableManager::GetUserPrivileges(const std::string& UserName) {
  TIBQuery& query = ManagerQuery();
  std::string privileges;
  FDatabaseManager->Nested([&] {
    query.SQL = {"SELECT RDB$PRIVILEGE FROM RDB$USER_PRIVILEGES WHERE", "RDB$USER = '" + UserName + "'",
                 "AND RDB$RELATION_NAME = '" + text::ToUpper(FTableName) + "'"};
    for (query.Open(); !query.Eof(); query.Next()) privileges += text::Trim(query.Fields(0).AsString());
    query.Close();
  });
  return privileges;
}

fb::Value TTableManager::ReadOneValue(TIBQuery& Query, const std::string& ErrorText) {
  Query.Open();
  if (Query.Eof()) throw Error(ErrorText);
  fb::Value value = Query.Fields(0).Value;
  Query.Next();
  if (!Query.Eof()) throw Error(ErrorText);
  Query.Close();
  return value;
}

std::string TTableManager::FieldSource(TIBQuery& Query, const std::string& Fieldname,
                                       const std::string& ErrorText) {
  Query.SQL = {
      "SELECT RDB$FIELD_SOURCE FROM RDB$RELATION_FIELDS WHERE RDB$FIELD_NAME = :P0 AND "
      "RDB$RELATION_NAME = :P1"};
  Query.ParamByName("P0").SetAsString(text::ToUpper(Fieldname));
  Query.ParamByName("P1").SetAsString(text::ToUpper(FTableName));
  return text::Trim(ReadOneValue(Query, ErrorText).AsString());
}

std::int32_t TTableManager::GetfieldSize(const std::string& Fieldname) {
  CheckDatabase(5);
  TIBQuery* query = FDatabaseManager->CreateQueryGlobal();
  std::int32_t size = 0;
  try {
    query->UniDirectional = true;
    FDatabaseManager->Nested([&] {
      const std::string domain = FieldSource(*query, Fieldname, "0406291509");
      query->SQL = {"SELECT RDB$FIELD_LENGTH FROM RDB$FIELDS WHERE RDB$FIELD_NAME = :P0"};
      query->ParamByName("P0").SetAsString(domain);
      size = ReadOneValue(*query, "0406291510").AsInteger();
    });
  } catch (...) {
    if (FDatabaseManager != nullptr) FDatabaseManager->FreeDataset(query);
    throw;
  }
  FDatabaseManager->FreeDataset(query);
  return size;
}

std::string TTableManager::GetfieldType(const std::string& Fieldname) {
  CheckDatabase(5);
  TIBQuery* query = FDatabaseManager->CreateQueryGlobal();
  std::string type;
  try {
    query->UniDirectional = true;
    FDatabaseManager->Nested([&] {
      const std::string domain = FieldSource(*query, Fieldname, "0406291619");
      query->SQL = {"SELECT RDB$FIELD_TYPE FROM RDB$FIELDS WHERE RDB$FIELD_NAME = :P0"};
      query->ParamByName("P0").SetAsString(domain);
      const std::int32_t number = ReadOneValue(*query, "0406291620").AsInteger();
      query->SQL = {
          "SELECT RDB$TYPE_NAME FROM RDB$TYPES WHERE RDB$FIELD_NAME = 'RDB$FIELD_TYPE' AND RDB$TYPE = :P0"};
      query->ParamByName("P0").SetAsInteger(number);
      query->Open();
      if (query->Eof()) throw Error("0406291621");
      type = text::Trim(query->Fields(0).AsString());
      query->Close();
    });
  } catch (...) {
    if (FDatabaseManager != nullptr) FDatabaseManager->FreeDataset(query);
    throw;
  }
  FDatabaseManager->FreeDataset(query);
  return type;
}

void TTableManager::ChangeVarCharFieldLength(const std::string& FieldName, std::int32_t NewLength) {
  ExecuteSQL("ALTER TABLE " + FTableName + " ALTER " + FieldName + " TYPE VARCHAR(" +
             std::to_string(NewLength) + ")");
}

void TTableManager::EnlargeStringField(const std::string& OldFieldName, const std::string& NewFieldName,
                                       std::int32_t NewSize) {
  // The copy would go into the column itself, and the drop would take its values with it.
  if (text::IEquals(OldFieldName, NewFieldName)) {
    throw Error("EnlargeStringField: " + FTableName + " " + OldFieldName +
                " : la nouvelle colonne doit porter un autre nom que l'ancienne.");
  }
  if (!FindColumn(NewFieldName)) {
    ExecuteSQL("ALTER TABLE " + FTableName + " Add " + NewFieldName + " VARCHAR(" + std::to_string(NewSize) +
               ")");
  }
  if (FindColumn(OldFieldName)) {
    ExecuteSQL("UPDATE " + FTableName + " SET " + NewFieldName + " = " + OldFieldName);
    ExecuteSQL("ALTER TABLE " + FTableName + " DROP " + OldFieldName);
  }
}

void TTableManager::ConvertVarCharFieldToInteger(const std::string& FieldName, const std::string& TempName) {
  const auto A = [&] { AddColumn(TempName, "Integer", true); };
  const auto B = [&] {
    ExecuteSQL("UPDATE " + FTableName + " SET " + TempName + " = CAST(" + FieldName + " AS Integer)");
  };
  const auto C = [&] { DropColumn(FieldName, false); };
  const auto D = [&] { AddColumn(FieldName, "Integer", true); };
  const auto E = [&] { ExecuteSQL("UPDATE " + FTableName + " SET " + FieldName + "=" + TempName); };
  const auto F = [&] { DropColumn(TempName, false); };
  const auto full = [&] {
    A();
    B();
    C();
    D();
    E();
    F();
  };
  const bool f = FindColumn(FieldName);
  bool t = FindColumn(TempName);
  if (t && GetfieldType(TempName) != "LONG") {
    F();
    t = false;
  }
  if (f) {
    const bool isLong = GetfieldType(FieldName) == "LONG";
    if (!isLong && !t) {
      full();
    } else if (isLong && t) {
      E();
      F();
    } else if (!isLong && t) {
      F();
      full();
    }
    return;
  }
  if (!t) throw Error("0406291613:" + FTableName + " " + FieldName);
  D();
  E();
  F();
}

}  // namespace kv
