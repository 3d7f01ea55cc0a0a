// The schema manager on the embedded engine: one new database per test, made by CreateDatabase
// itself, then attached again by Connect as the connection module does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "db/IBManagers.h"
#include "db/KorvaneLogon.h"
#include "tests/db/ManagerFixture.h"
#include "tests/support/CompanyDatabase.h"
#include "tests/support/FirebirdRoot.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

constexpr const char* kDatabasePath = "C:\\Data\\SOC.FDB";
constexpr double kMinute = 1.0 / (24 * 60);

class DatabaseManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTestFirebirdRoot();
    fs::create_directories(prefix_.Host(kDatabasePath).parent_path());
    c_ = std::make_unique<ManagerComponents>(kDatabasePath);
    M().SetDBIdentifier("TS_Societe");
    M().SetDBVersionValue(7);
    M().CreateDatabase();
    c_->IBDatabase.Close();
    M().Connect();
  }

  TDatabaseManager& M() { return c_->DatabaseManager; }
  TIBDatabase& Db() { return c_->IBDatabase; }
  TIBTransaction& Tr() { return c_->GlobalTransaction; }

  std::vector<std::string> Users() {
    return ReadColumn(Db(), "SELECT username FROM Users ORDER BY username");
  }

  TempPrefix prefix_;
  ScriptedUi ui_;
  std::unique_ptr<ManagerComponents> c_;
};

// --- Attaching -----------------------------------------------------------------------------

TEST_F(DatabaseManagerTest, ConnectSendsTheRoleThirdOnlyWhenThereIsOne) {
  struct Case {
    std::string role;
    std::vector<std::string> params;
  };
  const std::string user = std::string("user_name=") + KorvaneUserName;
  const std::string password = std::string("password=") + KorvanePassword;
  for (const Case& c : std::vector<Case>{
           {"", {user, password, "lc_ctype=ISO8859_1"}},
           {"ROLE_READER", {user, password, "sql_role_name=ROLE_READER", "lc_ctype=ISO8859_1"}}}) {
    Db().Close();
    Db().Params = {"stale=1"};
    M().SetRole(c.role);
    M().Connect();
    EXPECT_EQ(Db().Params, c.params) << c.role;
    EXPECT_EQ(Db().DatabaseName, kDatabasePath);
    EXPECT_TRUE(Db().Connected());
    EXPECT_EQ(ReadColumn(Db(), "SELECT CURRENT_USER FROM RDB$DATABASE"), std::vector<std::string>{"KORVANE"});
  }
}

TEST_F(DatabaseManagerTest, ConnectRefusesASecondAttachmentAndChangesNoParameter) {
  const std::vector<std::string> before = Db().Params;
  M().SetUserName("SOMEONE");
  M().SetRole("ROLE_READER");
  try {
    M().Connect();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Already connected!");
  }
  EXPECT_EQ(Db().Params, before);
  EXPECT_TRUE(Db().Connected());
}

TEST_F(DatabaseManagerTest, ConnectAndCreateDatabaseNeedABoundDatabase) {
  TDatabaseManager manager;
  for (const auto& operation :
       {+[](TDatabaseManager& m) { m.Connect(); }, +[](TDatabaseManager& m) { m.CreateDatabase(); }}) {
    try {
      operation(manager);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "Nil Database");
    }
  }
}

TEST_F(DatabaseManagerTest, ANewDatabaseHasItsIdentityRowsAndBaseObjects) {
  const auto rows = ReadRows(Db(), "SELECT id, sval FROM ConnectionControl ORDER BY id");
  ASSERT_EQ(rows.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(rows[i][0].AsInteger(), i);
  EXPECT_TRUE(rows[0][1].IsNull());
  EXPECT_TRUE(rows[1][1].IsNull());
  EXPECT_EQ(rows[2][1].AsString(), "TS_Societe");
  EXPECT_EQ(rows[3][1].AsString(), "7");

  std::string identifier = "?";
  std::int32_t version = -1;
  M().GetDBVersion(identifier, version);
  EXPECT_EQ(identifier, "TS_Societe");
  EXPECT_EQ(version, 7);

  EXPECT_THAT(
      ReadColumn(Db(),
                 "SELECT TRIM(rdb$role_name) FROM rdb$roles WHERE rdb$role_name STARTING WITH 'ROLE_' "
                 "ORDER BY 1"),
      ElementsAre("ROLE_READER", "ROLE_READER_WRITER"));
  EXPECT_THAT(ReadColumn(Db(),
                         "SELECT TRIM(rdb$user) || ':' || TRIM(rdb$relation_name) FROM rdb$user_privileges "
                         "WHERE rdb$relation_name STARTING WITH 'ROLE_' ORDER BY 1"),
              ElementsAre("PUBLIC_READER:ROLE_READER", "PUBLIC_READER_WRITER:ROLE_READER_WRITER"));
  EXPECT_THAT(ReadColumn(Db(),
                         "SELECT TRIM(rdb$default_collate_name) FROM rdb$character_sets WHERE "
                         "rdb$character_set_name = 'ISO8859_1'"),
              ElementsAre("FR_FR"));
  // The domain Boolean: 'F' by default, 'T' accepted, anything else refused.
  RunStatement(Db(), "CREATE TABLE Flags(id INTEGER, flag \"BOOLEAN\")");
  RunStatement(Db(), "INSERT INTO Flags (id) VALUES (1)");
  RunStatement(Db(), "INSERT INTO Flags (id, flag) VALUES (2, 'T')");
  EXPECT_THAT(ReadColumn(Db(), "SELECT flag FROM Flags ORDER BY id"), ElementsAre("F", "T"));
  EXPECT_THROW(RunStatement(Db(), "INSERT INTO Flags (id, flag) VALUES (3, 'X')"), DatabaseError);
  EXPECT_EQ(M().GetDBOwner(), "KORVANE");
  EXPECT_TRUE(M().FindTable("Users"));
  // GET_SERVER_TIME answers the server's clock.
  const double serverTime = M().GetServerTime();
  const double now = ReadRows(Db(), "SELECT CURRENT_TIMESTAMP FROM RDB$DATABASE").at(0).at(0).AsDateTime();
  EXPECT_NEAR(serverTime, now, kMinute);
}

TEST_F(DatabaseManagerTest, CreateDatabaseStopsAtTheFirstFailureAndKeepsWhatWasMade) {
  // The identifier is written into the statement as it is: a quote breaks the identity row.
  ManagerComponents other("C:\\Data\\OTHER.FDB");
  other.DatabaseManager.SetDBIdentifier("l'identifiant");
  EXPECT_THROW(other.DatabaseManager.CreateDatabase(), DatabaseError);
  ASSERT_TRUE(other.IBDatabase.Connected());
  EXPECT_EQ(other.GlobalTransaction.Tag, 0);
  EXPECT_EQ(ReadColumn(other.IBDatabase, "SELECT COUNT(*) FROM ConnectionControl"),
            std::vector<std::string>{"2"});
  EXPECT_TRUE(other.DatabaseManager.FindTable("ConnectionControl"));
  EXPECT_FALSE(other.DatabaseManager.FindTable("Users"));
  EXPECT_TRUE(
      ReadColumn(other.IBDatabase, "SELECT rdb$role_name FROM rdb$roles WHERE rdb$role_name = 'ROLE_READER'")
          .empty());
  // An existing file is refused by the server before anything runs.
  c_.reset();
  c_ = std::make_unique<ManagerComponents>(kDatabasePath);
  EXPECT_THROW(c_->DatabaseManager.CreateDatabase(), DatabaseError);
  EXPECT_FALSE(c_->IBDatabase.Connected());
}

TEST_F(DatabaseManagerTest, GetDBVersionOfADatabaseWithoutIdentityRowsIsEmptyAndZero) {
  CompanyDatabase bare(prefix_, "C:\\Data\\BARE.FDB");
  ManagerComponents other(bare.WindowsPath());
  other.DatabaseManager.Connect();
  other.DatabaseManager.ExecuteSQL("CREATE TABLE ConnectionControl(id SMALLINT, sval VARCHAR(255))");
  other.DatabaseManager.ExecuteSQL("INSERT INTO ConnectionControl (id) VALUES (0)");
  other.DatabaseManager.ExecuteSQL("INSERT INTO ConnectionControl (id) VALUES (1)");
  std::string identifier = "?";
  std::int32_t version = -1;
  other.DatabaseManager.GetDBVersion(identifier, version);
  EXPECT_EQ(identifier, "");
  EXPECT_EQ(version, 0);
  // A version that is not a number fails, leaving no unit of work open.
  other.DatabaseManager.ExecuteSQL("INSERT INTO ConnectionControl (id, sval) VALUES (3, 'v2')");
  EXPECT_THROW(other.DatabaseManager.GetDBVersion(identifier, version), Error);
  EXPECT_EQ(other.GlobalTransaction.Tag, 0);
  EXPECT_FALSE(other.GlobalTransaction.Active());
}

TEST_F(DatabaseManagerTest, SetDBVersionWritesRowThree) {
  M().SetDBVersion(12);
  std::string identifier;
  std::int32_t version = 0;
  M().GetDBVersion(identifier, version);
  EXPECT_EQ(identifier, "TS_Societe");
  EXPECT_EQ(version, 12);
}

// --- Units of work -------------------------------------------------------------------------

TEST_F(DatabaseManagerTest, AFailureInsideAnOuterUnitKeepsTheTransactionAtTheOuterDepth) {
  M().BeginNestedWork();
  M().ExecuteSQL("INSERT INTO ConnectionControl (id, sval) VALUES (9, 'kept')");
  try {
    M().ExecuteSQL("INSERT INTO NoSuchTable (id) VALUES (1)");
    FAIL() << "no error";
  } catch (const DatabaseError& e) {
    EXPECT_EQ(e.SQLCode(), -204);
    EXPECT_THAT(e.what(), HasSubstr("NOSUCHTABLE"));
  }
  EXPECT_TRUE(Tr().Active());
  EXPECT_EQ(Tr().Tag, 1);
  EXPECT_EQ(M().ActiveTransactionCount(), 1);
  M().EndNestedWork();
  EXPECT_FALSE(Tr().Active());
  EXPECT_EQ(Tr().Tag, 0);
  EXPECT_EQ(M().ActiveTransactionCount(), 0);
  EXPECT_THAT(ReadColumn(Db(), "SELECT sval FROM ConnectionControl WHERE id = 9"), ElementsAre("kept"));
}

TEST_F(DatabaseManagerTest, AFailureAtTheOutermostUnitRollsBack) {
  try {
    M().ExecuteSQL("UPDATE ConnectionControl SET id = 'x' WHERE id = 2");
    FAIL() << "no error";
  } catch (const DatabaseError& e) {
    EXPECT_NE(e.SQLCode(), 0);
  }
  EXPECT_FALSE(Tr().Active());
  EXPECT_EQ(Tr().Tag, 0);
  EXPECT_EQ(M().ActiveTransactionCount(), 0);
  // Another failure than the database's comes back as a plain error with its text.
  try {
    M().GetPrimaryKeyIndexName("USERS");
    FAIL() << "no error";
  } catch (const DatabaseError&) {
    FAIL() << "a plain error was expected";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "TDatabaseManager.GetKeyname");
  }
  EXPECT_EQ(Tr().Tag, 0);
  EXPECT_FALSE(Tr().Active());
}

TEST_F(DatabaseManagerTest, AUnitOfWorkNeedsABoundTransaction) {
  TDatabaseManager manager;
  manager.Name = "DatabaseManager";
  try {
    manager.ExecuteSQL("SELECT 1 FROM RDB$DATABASE");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "DatabaseManager no transaction");
  }
  try {
    manager.CreateQueryGlobal();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "DatabaseManager has no transaction");
  }
}

TEST_F(DatabaseManagerTest, AFreedTransactionOrDatabaseIsForgotten) {
  auto transaction = std::make_unique<TIBTransaction>();
  M().SetTransaction(transaction.get());
  EXPECT_EQ(M().Transaction(), transaction.get());
  EXPECT_EQ(transaction->DefaultDatabase(), &Db());
  transaction.reset();
  EXPECT_EQ(M().Transaction(), nullptr);
  EXPECT_THROW(M().ExecuteSQL("SELECT 1 FROM RDB$DATABASE"), Error);
}

// --- Catalogue -----------------------------------------------------------------------------

TEST_F(DatabaseManagerTest, FindTableFindsTablesInAnyCaseButNoViewNorSystemTable) {
  M().ExecuteSQL("CREATE TABLE Clients(id INTEGER)");
  M().ExecuteSQL("CREATE VIEW V_Clients AS SELECT id FROM Clients");
  for (const char* name : {"Clients", "CLIENTS", "clients", "cLiEnTs"})
    EXPECT_TRUE(M().FindTable(name)) << name;
  for (const char* name :
       {"V_Clients", "V_CLIENTS", "RDB$RELATIONS", "rdb$database", "MON$DATABASE", "Nothing"}) {
    EXPECT_FALSE(M().FindTable(name)) << name;
  }
  std::vector<std::string> tables{"stale"};
  M().GetTableNames(tables);
  std::sort(tables.begin(), tables.end());
  EXPECT_THAT(tables, ElementsAre("CLIENTS", "CONNECTIONCONTROL", "USERS"));
  M().GetFieldNames("Users", tables);
  EXPECT_THAT(tables, ElementsAre("USERNAME", "LASTCHECK"));
}

TEST_F(DatabaseManagerTest, CatalogueReadsOfIndexesConstraintsTriggersAndGenerators) {
  M().ExecuteSQL(
      "CREATE TABLE Clients(id INTEGER NOT NULL, name VARCHAR(20), CONSTRAINT PK_CLIENTS PRIMARY KEY (id), "
      "CONSTRAINT CK_NAME CHECK (name <> ''))");
  M().ExecuteSQL("CREATE INDEX IX_Name ON Clients(name)");
  M().ExecuteSQL(
      "CREATE TRIGGER TR_Clients FOR Clients BEFORE INSERT AS BEGIN NEW.name = UPPER(NEW.name); END");
  EXPECT_TRUE(M().FindIndex("ix_name"));
  EXPECT_TRUE(M().FindCheckConstraint("ck_name"));
  EXPECT_TRUE(M().FindTrigger("TR_CLIENTS"));
  EXPECT_FALSE(M().FindTrigger("tr_clients"));  // compared as given
  EXPECT_EQ(M().GetConstraintIndexName("PK_CLIENTS"), "PK_CLIENTS");
  // The index of a named key is named like its constraint: no "PRIMARY" in it.
  EXPECT_THROW(M().GetPrimaryKeyIndexName("CLIENTS"), Error);

  M().DropIndex("IX_Name");
  M().DropTrigger("TR_Clients");
  EXPECT_FALSE(M().FindIndex("IX_NAME"));
  EXPECT_FALSE(M().FindTrigger("TR_CLIENTS"));

  try {
    M().GetConstraintIndexName("NO_SUCH");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "TDatabaseManager.GetConstraintIndexName");
  }
  // A NOT NULL constraint has no index.
  const std::string notNull =
      ReadColumn(Db(),
                 "SELECT TRIM(rdb$constraint_name) FROM rdb$relation_constraints WHERE "
                 "rdb$relation_name = 'CLIENTS' AND rdb$constraint_type = 'NOT NULL'")
          .at(0);
  try {
    M().GetConstraintIndexName(notNull);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_THAT(
        e.what(),
        MatchesRegex(
            "DatabaseManager\\.GetConstraintIndexName : résultat vide \\(IBManagers\\.cpp, ligne [0-9]+\\)"));
  }
  EXPECT_EQ(Tr().Tag, 0);
}

TEST_F(DatabaseManagerTest, ThePrimaryKeyIndexMustBeFoundOnce) {
  M().ExecuteSQL("CREATE TABLE Clients(id INTEGER NOT NULL PRIMARY KEY)");
  EXPECT_THAT(M().GetPrimaryKeyIndexName("CLIENTS"), MatchesRegex("RDB\\$PRIMARY[0-9]+"));
  EXPECT_THROW(M().GetPrimaryKeyIndexName("Clients"), Error) << "the name is written as given";
}

TEST_F(DatabaseManagerTest, GeneratorsExceptionsAndProcedures) {
  M().CreateGenerator("GEN_NUM");
  EXPECT_TRUE(M().FindGenerator("gen_num"));
  EXPECT_EQ(M().GenerateNumber("GEN_NUM"), 1);
  EXPECT_EQ(M().GenerateNumber("GEN_NUM"), 2);
  EXPECT_EQ(M().GenerateNumber("GEN_NUM", 10), 12);
  EXPECT_EQ(M().GetCurrentGeneratorValue("GEN_NUM"), 12);
  M().SetGeneratorValue("GEN_NUM", 5000000000LL);
  EXPECT_EQ(M().GetCurrentGeneratorValue("GEN_NUM"), 5000000000LL);
  M().DropGenerator("GEN_NUM");
  EXPECT_FALSE(M().FindGenerator("GEN_NUM"));

  // The message is written as given: the caller doubles its quotes.
  M().CreateException("E_REFUS", "Refusé par l''exception");
  EXPECT_THAT(ReadColumn(Db(), "SELECT rdb$message FROM rdb$exceptions WHERE rdb$exception_name = 'E_REFUS'"),
              ElementsAre("Refusé par l'exception"));
  M().DropProcedure("GET_SERVER_TIME");
  EXPECT_THROW(M().GetServerTime(), DatabaseError);
}

TEST_F(DatabaseManagerTest, Firebird3RefusesTheWritesToItsSystemTables) {
  ASSERT_TRUE(M().IsFirebird3Family());
  M().ExecuteSQL("CREATE TABLE Clients(id INTEGER)");
  M().ExecuteSQL("CREATE TRIGGER TR_Clients FOR Clients BEFORE INSERT AS BEGIN NEW.id = 1; END");
  const auto refused = [](const std::function<void()>& operation) {
    try {
      operation();
      ADD_FAILURE() << "no error";
    } catch (const DatabaseError& e) {
      EXPECT_THAT(e.what(), HasSubstr("not allowed for system table"));
    }
  };
  refused([&] { M().ClearSource(); });
  refused([&] { M().ClearTriggerSource("TR_CLIENTS"); });
  refused([&] { M().SetDBOwner("SYSDBA"); });
  EXPECT_EQ(M().GetDBOwner(), "KORVANE");
  EXPECT_EQ(Tr().Tag, 0);
}

// --- Connected users -----------------------------------------------------------------------

TEST_F(DatabaseManagerTest, RegisterUserKeepsTheFirst60CharactersAndRefreshesOneRow) {
  std::string user;
  for (int i = 0; i < 8; ++i) user += "é" + std::to_string(i) + "-abcdefg";
  ASSERT_EQ(user.size(), 88u);                 // 80 characters, 8 of them two bytes long
  const std::string key = user.substr(0, 66);  // the first 60 characters
  M().RegisterUser(user);
  EXPECT_THAT(Users(), ElementsAre(key));
  const double first = ReadRows(Db(), "SELECT lastcheck FROM Users").at(0).at(0).AsDateTime();
  RunStatement(Db(), "UPDATE Users SET lastcheck = lastcheck - 1");
  M().RegisterUser(user);
  const auto rows = ReadRows(Db(), "SELECT lastcheck FROM Users");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_NEAR(rows[0][0].AsDateTime(), first, kMinute);
  EXPECT_TRUE(c_->Pauses.empty());
  M().UnRegisterUser(user);
  EXPECT_TRUE(Users().empty());
}

TEST_F(DatabaseManagerTest, AnApostropheInTheUserStringIsFoundAgain) {
  const std::string user = "l'utilisateur (PC'07) - Updater";
  M().RegisterUser(user);
  M().RegisterUser(user);
  EXPECT_THAT(Users(), ElementsAre(user));
  std::vector<std::string> list;
  M().GetUserList(list);
  EXPECT_THAT(list, ElementsAre(user));
  M().UnRegisterUser(user);
  EXPECT_TRUE(Users().empty());
  EXPECT_TRUE(c_->Pauses.empty());
}

TEST_F(DatabaseManagerTest, AUserSilentFor44MinutesIsPurgedOneOf43Stays) {
  const double now = M().GetServerTime();
  RunStatement(Db(), "INSERT INTO Users (username, lastcheck) VALUES ('silent 43', ?)",
               {fb::Value::DateTime(now - 43 * kMinute)});
  RunStatement(Db(), "INSERT INTO Users (username, lastcheck) VALUES ('silent 44', ?)",
               {fb::Value::DateTime(now - 44 * kMinute)});
  M().RegisterUser("present");
  EXPECT_THAT(Users(), ElementsAre("present", "silent 43"));

  RunStatement(Db(), "INSERT INTO Users (username, lastcheck) VALUES ('silent 50', ?)",
               {fb::Value::DateTime(now - 50 * kMinute)});
  std::vector<std::string> list{"stale"};
  M().GetUserList(list);
  EXPECT_THAT(list, ElementsAre("present", "silent 43"));
}

TEST_F(DatabaseManagerTest, AUserNameOutsideIso88591IsFoldedAndRegisteredAtTheFirstAttempt) {
  const std::pair<std::string, std::string> names[] = {
      {"Łukasz (PC07) - Updater", "?ukasz (PC07) - Updater"},
      {"Zoé 😀 (PC07) - Updater", "Zoé ? (PC07) - Updater"},
  };
  for (const auto& [name, key] : names) {
    M().RegisterUser(name);
    M().RegisterUser(name);
    EXPECT_THAT(Users(), ElementsAre(key)) << "the same name gives the same key";
    M().UnRegisterUser(name);
    EXPECT_TRUE(Users().empty()) << name;
  }
  EXPECT_TRUE(c_->Pauses.empty());
}

TEST_F(DatabaseManagerTest, AFailureThatNeverReachedTheServerIsNotRetried) {
  Db().Close();
  M().RegisterUser("user1 (PC07) - Updater");
  M().UnRegisterUser("user1 (PC07) - Updater");
  EXPECT_TRUE(c_->Pauses.empty());
}

TEST_F(DatabaseManagerTest, RegisterUserReturnsAfterFiveFailedAttempts) {
  // The server refuses every attempt.
  M().ExecuteSQL("DROP TABLE Users");
  for (const auto& operation : {+[](TDatabaseManager& m) { m.RegisterUser("user1 (PC07) - Updater"); },
                                +[](TDatabaseManager& m) { m.UnRegisterUser("user1 (PC07) - Updater"); }}) {
    c_->Pauses.clear();
    operation(M());
    ASSERT_EQ(c_->Pauses.size(), 4u);
    for (int pause : c_->Pauses) {
      EXPECT_GE(pause, 0);
      EXPECT_LE(pause, 1999);
    }
  }
  std::vector<std::string> list;
  EXPECT_THROW(M().GetUserList(list), Error) << "the list is not retried";
}

TEST_F(DatabaseManagerTest, APauseIsDrawnAtRandomBetweenAttempts) {
  M().ExecuteSQL("DROP TABLE Users");
  for (int i = 0; i < 10; ++i) M().RegisterUser("u");
  ASSERT_EQ(c_->Pauses.size(), 40u);
  std::sort(c_->Pauses.begin(), c_->Pauses.end());
  EXPECT_GT(std::unique(c_->Pauses.begin(), c_->Pauses.end()) - c_->Pauses.begin(), 10);
}

// --- Statistics and server data --------------------------------------------------------------

TEST_F(DatabaseManagerTest, SetStatisticsGoesOnPastAnIndexItCannotRecompute) {
  M().ExecuteSQL("CREATE TABLE Clients(id INTEGER, name VARCHAR(20), town VARCHAR(20))");
  // A name that needs quotes makes "SET STATISTICS INDEX idx lower" a syntax error.
  M().ExecuteSQL("CREATE INDEX \"idx lower\" ON Clients(name)");
  M().ExecuteSQL("CREATE INDEX IX_ID ON Clients(id)");
  M().ExecuteSQL("CREATE INDEX IX_TOWN ON Clients(town)");
  for (int i = 0; i < 50; ++i) {
    RunStatement(Db(), "INSERT INTO Clients VALUES (?, ?, ?)",
                 {fb::Value::Integer(i), fb::Value::Text("n" + std::to_string(i)),
                  fb::Value::Text("t" + std::to_string(i % 5))});
  }
  const auto statistics = [&](const std::string& index) {
    return ReadRows(Db(), "SELECT rdb$statistics FROM rdb$indices WHERE rdb$index_name = ?",
                    {fb::Value::Text(index)})
        .at(0)
        .at(0)
        .AsFloat();
  };
  ASSERT_EQ(statistics("IX_ID"), 0.0);
  M().SetStatistics();
  EXPECT_EQ(statistics("idx lower"), 0.0);
  EXPECT_NEAR(statistics("IX_ID"), 1.0 / 50, 1e-6);
  EXPECT_NEAR(statistics("IX_TOWN"), 1.0 / 5, 1e-6);
  EXPECT_EQ(Tr().Tag, 0);
  EXPECT_FALSE(Tr().Active());
}

// --- Handed-out datasets -------------------------------------------------------------------

TEST_F(DatabaseManagerTest, ADatasetLeftTrackedIsReportedOnceWhenTheManagerGoes) {
  TIBQuery* released = M().CreateQueryGlobal();
  released->Name = "Released";
  TIBQuery* left = M().CreateQueryGlobal();
  left->Name = "GeneralQuery2";
  EXPECT_EQ(left->Transaction(), &Tr());
  M().FreeDataset(released);
  EXPECT_EQ(M().DatasetList().size(), 1u);
  c_.reset();
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].caption, "GeneralQuery2");
  EXPECT_EQ(ui_.Boxes()[0].text, "DataSet NOT RELEASED !\r\n");
  EXPECT_EQ(ui_.Boxes()[0].kind, MessageKind::Error);
}

TEST_F(DatabaseManagerTest, OnlyTrackedDatasetsAreFreedOrCommitted) {
  TIBQuery stranger;
  try {
    M().FreeDataset(&stranger);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "FreeDataset : not found");
  }
  for (const auto& operation : {+[](TDatabaseManager&m, TIBDataSet*d) { m.Commit(d); },
                                +[](TDatabaseManager&m, TIBDataSet*d) { m.CommitRetaining(d); },
                                +[](TDatabaseManager&m, TIBDataSet*d) { m.Rollback(d); }}) {
    try {
      operation(M(), &stranger);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), "IBQuery not found");
    }
  }
  M().FreeDataset(nullptr);
  // A tracked dataset freed by someone else leaves the list.
  delete M().CreateQueryGlobal();
  EXPECT_TRUE(M().DatasetList().empty());
}

TEST_F(DatabaseManagerTest, CommitAndRollbackActOnTheDatasetsTransaction) {
  TIBQuery* query = M().CreateQueryGlobal();
  Tr().StartTransaction();
  query->SQL = {"SELECT id FROM ConnectionControl"};
  query->Open();
  EXPECT_THROW(M().CheckNoActiveTransaction(), Error);
  M().CommitRetaining(query);
  EXPECT_TRUE(Tr().Active());
  M().Commit(query);
  EXPECT_FALSE(Tr().Active());
  Tr().StartTransaction();
  M().Rollback(query);
  EXPECT_FALSE(Tr().Active());
  M().CheckNoActiveTransaction();
  // CloseAllConnections closes every tracked dataset and rolls its transaction back.
  Tr().StartTransaction();
  query->Open();
  M().CloseAllConnections();
  EXPECT_FALSE(query->Active());
  EXPECT_FALSE(Tr().Active());
  M().FreeDataset(query);
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(DatabaseManagerTest, FreeDatasetAfterTheAttachmentIsLostDropsTheDataset) {
  TIBQuery* query = M().CreateQueryGlobal();
  Tr().StartTransaction();
  query->SQL = {"SELECT id FROM ConnectionControl"};
  query->Open();
  Db().ForceClose();
  M().FreeDataset(query);
  EXPECT_TRUE(M().DatasetList().empty());
}

}  // namespace
}  // namespace kv::test
