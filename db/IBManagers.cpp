#include "db/IBManagers.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "db/KorvaneLogon.h"
#include "db/client/DatabaseError.h"
#include "formats/Text.h"
#include "platform/UserInterface.h"

namespace kv {

namespace {

// The oldest structure version a Firebird 3 server writes (ODS 12).
constexpr int kFirebird3Ods = 12;

// The purge limit of the connected users: 0.03 day (43 minutes 12 seconds).
constexpr double kStaleUserDays = 0.03;
constexpr int kUserAttempts = 5;
// Characters of the user string that make its key (the width of Users.username).
constexpr std::size_t kUserKeyLength = 60;

// An assertion of the run-time library: the message completed with the caller's source file and
// line (the builtins GCC and clang share; clang 14 has no std::source_location on libstdc++ 12).
[[noreturn]] void AssertionFailed(const std::string& message, const char* where = __builtin_FILE(),
                                  int line = __builtin_LINE()) {
  std::string file = where;
  if (const auto slash = file.find_last_of("/\\"); slash != std::string::npos) file = file.substr(slash + 1);
  throw Error(message + " (" + file + ", ligne " + std::to_string(line) + ")");
}

std::string SqlLiteral(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

// The first `count` characters of a UTF-8 text.
std::string FirstCharacters(const std::string& utf8, std::size_t count) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
      if (characters == count) return utf8.substr(0, i);
      ++characters;
    }
  }
  return utf8;
}

// A string list's text split into its lines (CR LF, LF or CR); a final break ends the last line.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string Join(const std::vector<std::string>& items, const std::string& separator) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? separator : "") + items[i];
  return out;
}

int RandomPauseMilliseconds() {
  static std::mt19937 generator{std::random_device{}()};
  return std::uniform_int_distribution<int>(0, 1999)(generator);
}

template <typename T>
bool Contains(const std::vector<T*>& list, const TComponent* item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// The declarations of the maker's database functions, one statement each, line by line.
const std::vector<std::vector<std::string>>& UdfDeclarations() {
  static const std::vector<std::vector<std::string>> declarations = {
      {"DECLARE EXTERNAL FUNCTION FindStringsInBlob BLOB, CSTRING(32767)", "RETURNS Integer BY VALUE",
       "ENTRY_POINT 'FindStringsInBlob'", "MODULE_NAME 'kv_udf.dll'"},
      {"DECLARE EXTERNAL FUNCTION FindStringsInString CSTRING(32767), CSTRING(32767)",
       "RETURNS Integer BY VALUE", "ENTRY_POINT 'FindStringsInString'", "MODULE_NAME 'kv_udf.dll'"},
      {"DECLARE EXTERNAL FUNCTION FindStringsIn5Strings CSTRING(32767), CSTRING(32767), CSTRING(32767), "
       "CSTRING(32767), CSTRING(32767), CSTRING(32767)",
       "RETURNS Integer BY VALUE", "ENTRY_POINT 'FindStringsIn5Strings'", "MODULE_NAME 'kv_udf.dll'"},
      {"DECLARE EXTERNAL FUNCTION CapitalizeFirst", "CSTRING(32767) CHARACTER SET ISO8859_1",
       "RETURNS CSTRING(32767) CHARACTER SET ISO8859_1 FREE_IT", "ENTRY_POINT 'CapitalizeFirst'",
       "MODULE_NAME 'kv_udf.dll'"},
      {"DECLARE EXTERNAL FUNCTION Capitalize", "CSTRING(32767) CHARACTER SET ISO8859_1",
       "RETURNS CSTRING(32767) CHARACTER SET ISO8859_1 FREE_IT", "ENTRY_POINT 'Capitalize'",
       "MODULE_NAME 'kv_udf.dll'"},
      {"DECLARE EXTERNAL FUNCTION GetFreeDiskSpace", "CSTRING(1)", "RETURNS NUMERIC(18, 0) BY VALUE",
       "ENTRY_POINT 'GetFreeDiskSpace'", "MODULE_NAME 'kv_udf.dll'"},
      {"DECLARE EXTERNAL FUNCTION GetDLLVersion", "RETURNS Integer BY VALUE", "ENTRY_POINT 'GetDLLVersion'",
       "MODULE_NAME 'kv_udf.dll'"},
      {"DECLARE EXTERNAL FUNCTION bin_or Integer, Integer", "RETURNS Integer BY VALUE",
       "ENTRY_POINT 'IB_UDF_bin_or'", "MODULE_NAME 'ib_udf.dll'"},
      {"DECLARE EXTERNAL FUNCTION bin_xor Integer, Integer", "RETURNS Integer BY VALUE",
       "ENTRY_POINT 'IB_UDF_bin_xor'", "MODULE_NAME 'ib_udf.dll'"},
      {"DECLARE EXTERNAL FUNCTION bin_and Integer, Integer", "RETURNS Integer BY VALUE",
       "ENTRY_POINT 'IB_UDF_bin_and'", "MODULE_NAME 'ib_udf.dll'"},
      {"DECLARE EXTERNAL FUNCTION IsANumber CSTRING(32767)", "RETURNS Integer BY VALUE",
       "ENTRY_POINT 'IsANumber'", "MODULE_NAME 'kv_udf.dll'"},
      {"DECLARE EXTERNAL FUNCTION GetLogData", "BLOB", "RETURNS PARAMETER 1", "ENTRY_POINT 'GetLogData'",
       "MODULE_NAME 'kv_udf.dll'"},
      {"DECLARE EXTERNAL FUNCTION GetStrWordIndex",
       "CSTRING(32767) CHARACTER SET ISO8859_1, Integer, Integer", "RETURNS Integer BY VALUE",
       "ENTRY_POINT 'GetStrWordIndex'", "MODULE_NAME 'kv_udf.dll'"},
      {"DECLARE EXTERNAL FUNCTION GetStrWordAt", "CSTRING(32767) CHARACTER SET ISO8859_1, Integer, Integer",
       "RETURNS CSTRING(32767) CHARACTER SET ISO8859_1 FREE_IT", "ENTRY_POINT 'GetStrWordAt'",
       "MODULE_NAME 'kv_udf.dll'"},
      {"DECLARE EXTERNAL FUNCTION GetStrLen", "CSTRING(32767)", "RETURNS Integer BY VALUE",
       "ENTRY_POINT 'GetStrLen'", "MODULE_NAME 'kv_udf.dll'"},
      {"DECLARE EXTERNAL FUNCTION GetBlobString BLOB",
       "RETURNS CSTRING(32767) CHARACTER SET ISO8859_1 FREE_IT", "ENTRY_POINT 'GetBlobString'",
       "MODULE_NAME 'kv_udf.dll'"},
  };
  return declarations;
}

// Rolls back, forgetting the transaction when the client cannot (a lost attachment).
void RollbackQuietly(TIBTransaction& transaction) noexcept {
  try {
    if (transaction.Active()) transaction.Rollback();
  } catch (...) {
    transaction.Transaction().ForceRollback();
  }
}

// Opens a dataset whose transaction the dataset layer starts when it is not active.
void OpenStartingTransaction(TIBQuery& query) {
  if (query.Transaction() != nullptr && !query.Transaction()->Active())
    query.Transaction()->StartTransaction();
  query.Open();
}

}  // namespace

void BindVariantValues(TIBDataSet& DataSet, const TVariantValues& Values) {
  if (const auto* list = std::get_if<TVariantList>(&Values)) {
    for (std::size_t i = 0; i < list->size(); ++i) DataSet.Params()[static_cast<int>(i)].Value = (*list)[i];
  } else if (const auto* value = std::get_if<fb::Value>(&Values)) {
    DataSet.Params()[0].Value = *value;
  }
}

// --- TTableQuery ---------------------------------------------------------------------------

TTableQuery::~TTableQuery() {
  // Leaves the transaction while both are whole, then frees it.
  Close();
  if (Transaction() == OwnedTransaction.get()) SetTransaction(nullptr);
  OwnedTransaction.reset();
}

// --- TDatabaseManager ----------------------------------------------------------------------

TDatabaseManager::TDatabaseManager()
    : Pause([](int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }) {
  FQuery = std::make_unique<TIBQuery>();
  FSQL = std::make_unique<TIBSQL>();
  FTransaction2 = std::make_unique<TIBTransaction>();
  FQuery2 = std::make_unique<TIBQuery>();
  FQuery2->SetTransaction(FTransaction2.get());
  FSQL2 = std::make_unique<TIBSQL>();
  FSQL2->SetTransaction(FTransaction2.get());
  FLockTransaction = std::make_unique<TIBTransaction>();
  FLockTransaction->Params = {"no_rec_version", "nowait"};
  FLockSQL = std::make_unique<TIBSQL>();
  FLockSQL->SetTransaction(FLockTransaction.get());
}

TDatabaseManager::~TDatabaseManager() {
  try {
    for (TIBDataSet* dataset : FDatasetList)
      Ui().MessageBox(dataset->Name, "DataSet NOT RELEASED !\r\n", MessageKind::Error, mbOK);
    for (TIBTransaction* transaction : FTransactionList) {
      Ui().MessageBox(transaction->Name, "Transaction NOT RELEASED\r\n", MessageKind::Error, mbOK);
    }
  } catch (...) {
    // A failing user interface must not stop the release below.
  }
  // Reported, then released: each leaves the lists through the free notification (a dataset
  // takes the transaction made for it along).
  while (!FDatasetList.empty()) delete FDatasetList.front();
  FTransactionList.clear();
}

void TDatabaseManager::SetLockTimeout(int Seconds) {
  FTransaction2->LockTimeout = Seconds;
}

void TDatabaseManager::SetDatabase(TIBDatabase* Value) {
  FDatabase = Value;
  if (Value != nullptr) FreeNotification(Value);
  FQuery->SetDatabase(Value);
  FSQL2->SetDatabase(Value);
  if (FTransaction != nullptr) FTransaction->SetDefaultDatabase(Value);
  FTransaction2->SetDefaultDatabase(Value);
  FLockTransaction->SetDefaultDatabase(Value);
}

void TDatabaseManager::SetTransaction(TIBTransaction* Value) {
  FTransaction = Value;
  if (Value != nullptr) {
    FreeNotification(Value);
    if (FDatabase != nullptr) Value->SetDefaultDatabase(FDatabase);
  }
  FSQL->SetTransaction(Value);
  FQuery->SetTransaction(Value);
}

void TDatabaseManager::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove) return;
  // Only pointers are forgotten here: the members' own links went with the freed object.
  if (AComponent == FDatabase) FDatabase = nullptr;
  if (AComponent == FTransaction) FTransaction = nullptr;
  std::erase_if(FDatasetList, [&](TIBDataSet* d) { return static_cast<TComponent*>(d) == AComponent; });
  std::erase_if(FTransactionList,
                [&](TIBTransaction* t) { return static_cast<TComponent*>(t) == AComponent; });
}

// --- Units of work -------------------------------------------------------------------------

void TDatabaseManager::BeginNestedWork() {
  if (FTransaction == nullptr) throw Error(Name + " no transaction");
  if (FTransaction->Tag == 0) {
    FTransaction->StartTransaction();
    ++FActiveTransactionCount;
  }
  ++FTransaction->Tag;
}

void TDatabaseManager::EndNestedWork() {
  if (FTransaction == nullptr) throw Error(Name + " no transaction");
  --FTransaction->Tag;
  if (FTransaction->Tag != 0) return;
  --FActiveTransactionCount;
  try {
    FTransaction->Commit();
  } catch (...) {
    // The unit is over at depth 0 either way: what the commit refused is undone.
    RollbackQuietly(*FTransaction);
    throw;
  }
}

void TDatabaseManager::AbortNestedWork(const std::exception& E) {
  if (FTransaction != nullptr) {
    --FTransaction->Tag;
    if (FTransaction->Tag == 0) {
      RollbackQuietly(*FTransaction);
      --FActiveTransactionCount;
    }
  }
  if (const auto* databaseError = dynamic_cast<const DatabaseError*>(&E)) {
    throw DatabaseError(databaseError->what(), databaseError->SQLCode(), databaseError->EngineCode());
  }
  throw Error(E.what());
}

template <typename Work>
void TDatabaseManager::Nested(Work&& work) {
  BeginNestedWork();
  try {
    work();
  } catch (const std::exception& E) {
    AbortNestedWork(E);
  }
  EndNestedWork();
}

bool TDatabaseManager::IsFirebird3Family() {
  if (FDatabase == nullptr || !FDatabase->Connected()) throw Error("Nil Database");
  return FDatabase->Attachment().OdsMajorVersion() >= kFirebird3Ods;
}

// --- Attaching and creating ----------------------------------------------------------------

void TDatabaseManager::Connect() {
  if (FDatabase == nullptr) throw Error("Nil Database");
  if (FDatabase->Connected()) throw Error("Already connected!");
  FDatabase->DatabaseName = FConnectionString;
  FDatabase->Params.clear();
  FDatabase->Params.push_back("user_name=" + FUserName);
  FDatabase->Params.push_back("password=" + FPassword);
  if (!FRole.empty()) FDatabase->Params.push_back("sql_role_name=" + FRole);
  FDatabase->Params.push_back("lc_ctype=ISO8859_1");
  FDatabase->Open();
}

void TDatabaseManager::CreateDatabase() {
  if (FDatabase == nullptr) throw Error("Nil Database");
  FDatabase->DatabaseName = FConnectionString;
  FDatabase->CreateParams.clear();
  // The maker's one password: a server that knows the user refuses any other.
  FDatabase->CreateParams.push_back(std::string("USER '") + KorvaneUserName + "'");
  FDatabase->CreateParams.push_back(std::string("PASSWORD '") + KorvanePassword + "'");
  FDatabase->CreateParams.push_back("PAGE_SIZE 4096");
  FDatabase->CreateParams.push_back("DEFAULT CHARACTER SET ISO8859_1");
  FDatabase->CreateDatabase();
  // Firebird 3 refuses writes to its system tables and reserves the word BOOLEAN: the same
  // effects through the statements it offers.
  const bool firebird3 = IsFirebird3Family();
  const std::vector<std::string> statements = {
      "CREATE PROCEDURE GET_SERVER_TIME RETURNS (STIME TIMESTAMP) AS BEGIN STIME = 'Now'; SUSPEND; END",
      "GRANT EXECUTE ON PROCEDURE GET_SERVER_TIME TO PUBLIC",
      firebird3
          ? "ALTER CHARACTER SET ISO8859_1 SET DEFAULT COLLATION FR_FR"
          : "UPDATE RDB$CHARACTER_SETS SET RDB$DEFAULT_COLLATE_NAME = 'FR_FR' WHERE RDB$CHARACTER_SET_NAME = "
            "'ISO8859_1'",
      std::string("CREATE DOMAIN ") + (firebird3 ? "\"BOOLEAN\"" : "Boolean") +
          " AS CHAR(1) CHARACTER SET ASCII DEFAULT 'F' NOT NULL CHECK (VALUE IN ('T', 'F'))",
      "CREATE TABLE ConnectionControl(id SMALLINT, sval VARCHAR(255))",
      "GRANT ALL ON ConnectionControl TO PUBLIC",
      "INSERT INTO ConnectionControl (id) VALUES (0)",
      "INSERT INTO ConnectionControl (id) VALUES (1)",
      "INSERT INTO ConnectionControl (id, sval) VALUES (2, '" + FDBIdentifier + "')",
      "INSERT INTO ConnectionControl (id, sval) VALUES (3, " + std::to_string(FDBVersion) + ")",
      "CREATE ROLE ROLE_READER",
      "CREATE ROLE ROLE_READER_WRITER",
      "GRANT ROLE_READER TO PUBLIC_READER",
      "GRANT ROLE_READER_WRITER TO PUBLIC_READER_WRITER",
      "CREATE TABLE Users(username VARCHAR(60), lastcheck TIMESTAMP)",
      "GRANT ALL ON Users TO PUBLIC",
  };
  for (const std::string& statement : statements) ExecuteSQL(statement);
}

void TDatabaseManager::RegisterUDF() {
  Nested([&] {
    // Firebird 3 checks the right to execute a declared function, which older servers never did:
    // every user gets it, as every user had it before.
    const bool firebird3 = IsFirebird3Family();
    for (const std::vector<std::string>& declaration : UdfDeclarations()) {
      FSQL->SQL = declaration;
      FSQL->ExecQuery();
      if (firebird3) {
        // "DECLARE EXTERNAL FUNCTION <name> ...": the fourth word.
        const std::vector<std::string> words = text::Split(declaration.front(), ' ');
        FSQL->SQL = {"GRANT EXECUTE ON FUNCTION " + words.at(3) + " TO PUBLIC"};
        FSQL->ExecQuery();
      }
      FSQL->SQL.clear();
    }
  });
}

void TDatabaseManager::RegisterStoredProcs() {
  // The procedure body's ":variable" references are the server's.
  FSQL->ParamCheck = false;
  try {
    Nested([&] {
      FSQL->SQL = {"create procedure GETLOG",
                   "returns (LOGDATA blob)",
                   "as",
                   "begin",
                   "LOGDATA = GetLogData();",
                   "suspend;",
                   "end"};
      FSQL->ExecQuery();
      FSQL->SQL = {"GRANT EXECUTE ON PROCEDURE GETLOG TO PUBLIC"};
      FSQL->ExecQuery();
      FSQL->SQL.clear();
    });
  } catch (...) {
    FSQL->ParamCheck = true;
    throw;
  }
  FSQL->ParamCheck = true;
}

void TDatabaseManager::ExecuteSQL(const std::string& Sql) {
  Nested([&] {
    FSQL->SQL = {Sql};
    FSQL->ExecQuery();
  });
}

// --- One-statement operations and generators ----------------------------------------------

std::int64_t TDatabaseManager::GenerateNumber(const std::string& gen_id) {
  return GenerateNumber(gen_id, 1);
}

std::int64_t TDatabaseManager::GenerateNumber(const std::string& gen_id, std::int64_t increment) {
  std::int64_t value = 0;
  Nested([&] {
    FQuery->SQL = {"SELECT GEN_ID(" + gen_id + ", " + std::to_string(increment) + ") FROM RDB$DATABASE"};
    FQuery->Open();
    value = FQuery->Fields(0).AsInt64();
    FQuery->Close();
  });
  return value;
}

std::int64_t TDatabaseManager::GetCurrentGeneratorValue(const std::string& gen_id) {
  return GenerateNumber(gen_id, 0);
}

void TDatabaseManager::SetGeneratorValue(const std::string& gen_id, std::int64_t Value) {
  ExecuteSQL("SET GENERATOR " + gen_id + " TO " + std::to_string(Value));
}

void TDatabaseManager::CreateException(const std::string& Name, const std::string& msg) {
  ExecuteSQL("create exception " + Name + " '" + msg + "'");
}

void TDatabaseManager::CreateGenerator(const std::string& Name) {
  ExecuteSQL("CREATE GENERATOR " + Name);
}

void TDatabaseManager::DropGenerator(const std::string& Name) {
  if (IsFirebird3Family()) {
    ExecuteSQL("DROP GENERATOR " + Name);
  } else {
    ExecuteSQL("DELETE FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = '" + Name + "'");
  }
}

void TDatabaseManager::DropProcedure(const std::string& Name) {
  ExecuteSQL("DROP PROCEDURE " + Name);
}

void TDatabaseManager::DropIndex(const std::string& IndexName) {
  ExecuteSQL("DROP INDEX " + IndexName);
}

void TDatabaseManager::DropTrigger(const std::string& TrigName) {
  ExecuteSQL("DROP TRIGGER " + TrigName);
}

// Firebird 3 has no statement that blanks a stored source and keeps the compiled code: there the
// server refuses these writes to its system tables, and its error reaches the caller.
void TDatabaseManager::ClearSource() {
  ExecuteSQL("UPDATE RDB$PROCEDURES SET RDB$PROCEDURE_SOURCE = 'empty'");
  ExecuteSQL(
      "UPDATE RDB$TRIGGERS SET RDB$TRIGGER_SOURCE = '' WHERE RDB$TRIGGER_NAME NOT STARTING WITH 'RDB$' AND "
      "RDB$TRIGGER_NAME NOT STARTING WITH 'CHECK_'");
}

void TDatabaseManager::ClearTriggerSource(const std::string& TriggerName) {
  ExecuteSQL("UPDATE RDB$TRIGGERS SET RDB$TRIGGER_SOURCE = '' WHERE RDB$TRIGGER_NAME = '" + TriggerName +
             "'");
}

// --- Catalogue -----------------------------------------------------------------------------

bool TDatabaseManager::QueryHasRow(std::vector<std::string> Lines) {
  bool found = false;
  Nested([&] {
    FQuery->SQL = std::move(Lines);
    FQuery->Open();
    found = !FQuery->Eof();
    FQuery->Close();
  });
  return found;
}

bool TDatabaseManager::FindTable(const std::string& TableName) {
  return QueryHasRow({"SELECT rdb$relation_name FROM rdb$relations WHERE",
                      "((rdb$system_flag = 0) OR (rdb$system_flag IS NULL))", "AND (rdb$view_source IS NULL)",
                      "AND UPPER(rdb$relation_name) = '" + text::ToUpper(TableName) + "'"});
}

bool TDatabaseManager::FindGenerator(const std::string& Name) {
  return QueryHasRow({"SELECT rdb$generator_name FROM rdb$generators WHERE",
                      "((rdb$system_flag = 0) OR (rdb$system_flag IS NULL))",
                      "AND UPPER(rdb$generator_name) = '" + text::ToUpper(Name) + "'"});
}

bool TDatabaseManager::FindIndex(const std::string& IndexName) {
  return QueryHasRow({"SELECT rdb$index_name FROM rdb$indices WHERE",
                      "UPPER(rdb$index_name) = '" + text::ToUpper(IndexName) + "'"});
}

bool TDatabaseManager::FindCheckConstraint(const std::string& Name) {
  return QueryHasRow({"SELECT rdb$constraint_name FROM rdb$check_constraints WHERE",
                      "UPPER(rdb$constraint_name) = '" + text::ToUpper(Name) + "'"});
}

bool TDatabaseManager::FindTrigger(const std::string& TriggerName) {
  return QueryHasRow({"SELECT 'T' FROM RDB$TRIGGERS WHERE", "RDB$TRIGGER_NAME = '" + TriggerName + "'"});
}

void TDatabaseManager::GetTableNames(std::vector<std::string>& TextList) {
  TextList.clear();
  Nested([&] {
    FQuery->SQL = {"SELECT rdb$relation_name FROM rdb$relations WHERE",
                   "((rdb$system_flag = 0) OR (rdb$system_flag IS NULL))", "AND (rdb$view_source IS NULL)"};
    for (FQuery->Open(); !FQuery->Eof(); FQuery->Next())
      TextList.push_back(text::Trim(FQuery->Fields(0).AsString()));
    FQuery->Close();
  });
}

void TDatabaseManager::GetFieldNames(const std::string& TableName, std::vector<std::string>& TextList) {
  TextList.clear();
  Nested([&] {
    FQuery->SQL = {"SELECT * FROM " + TableName};
    FQuery->Open();
    TextList = FQuery->FieldNames();
    FQuery->Close();
  });
}

std::string TDatabaseManager::GetDBOwner() {
  std::string owner;
  Nested([&] {
    FQuery->SQL = {"SELECT rdb$owner_name FROM rdb$relations WHERE",
                   "rdb$relation_name = 'RDB$DATABASE                   '"};
    FQuery->Open();
    owner = text::Trim(FQuery->Fields(0).AsString());
    FQuery->Close();
  });
  return owner;
}

// The owner of every relation, RDB$DATABASE's included (what GetDBOwner reads). Firebird 3 has
// no statement for it and refuses the write to its system table: its error reaches the caller.
void TDatabaseManager::SetDBOwner(const std::string& Value) {
  Nested([&] {
    FSQL->SQL = {"UPDATE RDB$RELATIONS SET RDB$OWNER_NAME = :p0"};
    FSQL->ParamByName("p0").SetAsString(Value);
    FSQL->ExecQuery();
  });
}

std::string TDatabaseManager::GetConstraintIndexName(const std::string& ConstraintName) {
  std::string name;
  Nested([&] {
    FQuery->SQL = {"SELECT rdb$index_name FROM rdb$relation_constraints WHERE ",
                   "RDB$CONSTRAINT_NAME = '" + ConstraintName + "'"};
    FQuery->Open();
    if (FQuery->Eof()) throw Error("TDatabaseManager.GetConstraintIndexName");
    name = text::Trim(FQuery->Fields(0).AsString());
    FQuery->Next();
    if (!FQuery->Eof()) throw Error("TDatabaseManager.GetConstraintIndexName");
    FQuery->Close();
    if (name.empty()) AssertionFailed("DatabaseManager.GetConstraintIndexName : résultat vide");
  });
  return name;
}

std::string TDatabaseManager::GetPrimaryKeyIndexName(const std::string& TableName) {
  std::string name;
  Nested([&] {
    FQuery->SQL = {"SELECT rdb$index_name FROM rdb$indices WHERE ", "RDB$RELATION_NAME = '" + TableName + "'",
                   "AND rdb$index_name LIKE '%PRIMARY%'"};
    FQuery->Open();
    if (FQuery->Eof()) throw Error("TDatabaseManager.GetKeyname");
    name = text::Trim(FQuery->Fields(0).AsString());
    FQuery->Next();
    if (!FQuery->Eof()) throw Error("TDatabaseManager.GetKeyname");
    FQuery->Close();
  });
  return name;
}

// --- Identity and version ------------------------------------------------------------------

void TDatabaseManager::GetDBVersion(std::string& dbi, std::int32_t& dbv) {
  Nested([&] {
    FQuery->SQL = {"SELECT sval FROM ConnectionControl WHERE", "id = :p0"};
    FQuery->ParamByName("p0").SetAsInteger(2);
    FQuery->Open();
    dbi = FQuery->Eof() ? std::string() : FQuery->Fields(0).AsString();
    FQuery->Close();
    FQuery->ParamByName("p0").SetAsInteger(3);
    FQuery->Open();
    dbv = FQuery->Eof() ? 0 : FQuery->Fields(0).AsInteger();
    FQuery->Close();
  });
}

void TDatabaseManager::SetDBVersion(std::int32_t dbv) {
  Nested([&] {
    FSQL->SQL = {"UPDATE ConnectionControl SET sval = " + std::to_string(dbv) + " WHERE id = 3"};
    FSQL->ExecQuery();
  });
}

// --- Connected users -----------------------------------------------------------------------

std::string TDatabaseManager::UserKey(const std::string& UserStr) {
  // Folded to what the column's ISO 8859-1 can hold ("Ł" and an emoji become "?"): the same name
  // always gives the same key, and no name is refused before it reaches the server.
  return text::Latin1ToUtf8(text::Utf8ToLatin1(FirstCharacters(UserStr, kUserKeyLength)));
}

void TDatabaseManager::WithAttempts(const std::function<void()>& Attempt) {
  for (int attempt = 0; attempt < kUserAttempts; ++attempt) {
    if (attempt > 0 && Pause) Pause(RandomPauseMilliseconds());
    try {
      Attempt();
      return;
    } catch (const DatabaseError& error) {
      // Another program's conflict or a lost server costs one attempt. A failure that never reached
      // the client library (no attachment, a refused parameter) would only come back: no retry.
      if (error.EngineCode() == 0) return;
    } catch (...) {
      return;
    }
  }
}

void TDatabaseManager::PurgeStaleUsers() {
  FQuery2->SQL = {"SELECT * FROM GET_SERVER_TIME"};
  FQuery2->Open();
  const double serverTime = FQuery2->Fields(0).AsDateTime();
  FQuery2->Close();
  FSQL2->SQL = {"DELETE FROM Users WHERE lastcheck < :p0"};
  FSQL2->ParamByName("p0").SetAsDateTime(serverTime - kStaleUserDays);
  FSQL2->ExecQuery();
}

void TDatabaseManager::RegisterUser(const std::string& UserStr) {
  const std::string key = UserKey(UserStr);
  WithAttempts([&] {
    FTransaction2->StartTransaction();
    try {
      FQuery2->SQL = {"SELECT COUNT(*) FROM Users WHERE username=" + SqlLiteral(key)};
      FQuery2->Open();
      const std::int64_t count = FQuery2->Fields(0).AsInt64();
      FQuery2->Close();
      FSQL2->SQL.clear();
      FSQL2->Params().ClearValues();
      if (count != 0) {
        FSQL2->SQL = {"UPDATE Users SET lastcheck = 'Now' WHERE", "username = :p0"};
      } else {
        FSQL2->SQL = {"INSERT INTO Users (username, lastcheck)", "VALUES (:p0, 'Now')"};
      }
      FSQL2->ParamByName("p0").SetAsString(key);
      FSQL2->ExecQuery();
      PurgeStaleUsers();
      FTransaction2->Commit();
    } catch (...) {
      RollbackQuietly(*FTransaction2);
      throw;
    }
  });
}

void TDatabaseManager::UnRegisterUser(const std::string& UserStr) {
  const std::string key = UserKey(UserStr);
  WithAttempts([&] {
    FTransaction2->StartTransaction();
    try {
      FSQL2->SQL = {"DELETE FROM Users WHERE username=" + SqlLiteral(key)};
      FSQL2->ExecQuery();
      FTransaction2->Commit();
    } catch (...) {
      RollbackQuietly(*FTransaction2);
      throw;
    }
  });
}

void TDatabaseManager::GetUserList(std::vector<std::string>& liste) {
  FTransaction2->StartTransaction();
  try {
    liste.clear();
    PurgeStaleUsers();
    FQuery2->SQL = {"SELECT username FROM Users ORDER BY username"};
    for (FQuery2->Open(); !FQuery2->Eof(); FQuery2->Next()) liste.push_back(FQuery2->Fields(0).AsString());
    FTransaction2->Commit();
  } catch (...) {
    RollbackQuietly(*FTransaction2);
    throw;
  }
}

// --- Server data ---------------------------------------------------------------------------

void TDatabaseManager::GetLogData(std::vector<std::string>& TextList) {
  Nested([&] {
    FQuery->SQL = {"SELECT LOGDATA FROM GETLOG"};
    FQuery->Open();
    TextList = SplitLines(FQuery->Fields(0).AsString());
    FQuery->Close();
  });
}

double TDatabaseManager::GetServerTime() {
  double serverTime = 0;
  Nested([&] {
    FQuery->SQL = {"SELECT * FROM GET_SERVER_TIME"};
    FQuery->Open();
    serverTime = FQuery->Fields(0).AsDateTime();
    FQuery->Close();
  });
  return serverTime;
}

void TDatabaseManager::SetStatistics() {
  Nested([&] {
    FQuery->SQL = {"SELECT rdb$index_name FROM rdb$indices"};
    std::vector<std::string> names;
    for (FQuery->Open(); !FQuery->Eof(); FQuery->Next())
      names.push_back(text::Trim(FQuery->Fields(0).AsString()));
    FQuery->Close();
    for (const std::string& name : names) {
      try {
        ExecuteSQL("SET STATISTICS INDEX " + name);
      } catch (const std::exception&) {
        // One index that cannot be recomputed leaves the others to do.
      }
    }
  });
}

// --- Handed-out datasets -------------------------------------------------------------------

void TDatabaseManager::CloseAllConnections() {
  for (TIBDataSet* dataset : std::vector<TIBDataSet*>(FDatasetList)) {
    try {
      dataset->Close();
      if (dataset->Transaction() != nullptr && dataset->Transaction()->Active())
        dataset->Transaction()->Rollback();
    } catch (...) {
      // The next dataset follows.
    }
  }
}

TIBQuery* TDatabaseManager::CreateQueryGlobal() {
  if (FTransaction == nullptr) throw Error("DatabaseManager has no transaction");
  auto query = std::make_unique<TIBQuery>();
  query->SetTransaction(FTransaction);
  FDatasetList.push_back(query.get());
  FreeNotification(query.get());
  return query.release();
}

void TDatabaseManager::RegisterDataset(TIBDataSet* DataSet, TIBTransaction* MadeTransaction) {
  FDatasetList.push_back(DataSet);
  FreeNotification(DataSet);
  if (MadeTransaction != nullptr) {
    FTransactionList.push_back(MadeTransaction);
    FreeNotification(MadeTransaction);
  }
}

void TDatabaseManager::FreeDataset(TIBDataSet* DataSet) {
  if (DataSet == nullptr) return;
  if (!Contains(FDatasetList, DataSet)) throw Error("FreeDataset : not found");
  DataSet->Close();
  TIBDatabase* database = DataSet->Database();
  if (database == nullptr && DataSet->Transaction() != nullptr)
    database = DataSet->Transaction()->DefaultDatabase();
  if (database == nullptr || !database->Connected()) DataSet->ForceInternalClose();
  if (auto* tableQuery = dynamic_cast<TTableQuery*>(DataSet);
      tableQuery != nullptr && Contains(FTransactionList, tableQuery->OwnedTransaction.get())) {
    tableQuery->SetTransaction(nullptr);
    tableQuery->OwnedTransaction.reset();
  }
  delete DataSet;
}

namespace {

TIBTransaction& TransactionOf(TIBDataSet& DataSet) {
  if (DataSet.Transaction() == nullptr) throw DatabaseError(DataSet.Name + " : aucune transaction.");
  return *DataSet.Transaction();
}

}  // namespace

void TDatabaseManager::Commit(TIBDataSet* DataSet) {
  if (!Contains(FDatasetList, DataSet)) throw Error("IBQuery not found");
  TransactionOf(*DataSet).Commit();
}

void TDatabaseManager::CommitRetaining(TIBDataSet* DataSet) {
  if (!Contains(FDatasetList, DataSet)) throw Error("IBQuery not found");
  TransactionOf(*DataSet).CommitRetaining();
}

void TDatabaseManager::Rollback(TIBDataSet* DataSet) {
  if (!Contains(FDatasetList, DataSet)) throw Error("IBQuery not found");
  TransactionOf(*DataSet).Rollback();
}

void TDatabaseManager::CheckNoActiveTransaction() {
  if (FTransaction != nullptr && FTransaction->Active()) throw Error("A transaction is active!");
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
