// The dataset-role classes on the embedded engine: one new database per test.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "db/IBComponents.h"
#include "tests/support/CompanyDatabase.h"
#include "tests/support/FirebirdRoot.h"

namespace kv {
namespace {

using test::CompanyDatabase;

// Records the components whose destruction it is told of.
class Observer : public TComponent {
 public:
  std::vector<TComponent*> removed;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    if (Operation == TOperation::opRemove) removed.push_back(AComponent);
  }
};

class IBComponentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::UseTestFirebirdRoot();
    db_ = std::make_unique<CompanyDatabase>();
    database_ = std::make_unique<TIBDatabase>();
    database_->Name = "IBDatabase";
    database_->DatabaseName = db_->WindowsPath();
    database_->Params = CompanyDatabase::AttachParams();
    transaction_ = std::make_unique<TIBTransaction>();
    transaction_->Name = "GlobalTransaction";
    transaction_->SetDefaultDatabase(database_.get());
    database_->SetDefaultTransaction(transaction_.get());
    database_->Open();
  }
  void TearDown() override {
    transaction_.reset();
    database_.reset();
    db_.reset();
  }

  void Exec(const std::string& sql) {
    TIBSQL statement;
    statement.SetDatabase(database_.get());
    statement.SetTransaction(transaction_.get());
    statement.SQL = {sql};
    transaction_->StartTransaction();
    statement.ExecQuery();
    transaction_->Commit();
  }

  // ConnectionControl as a new company database holds it.
  void MakeConnectionControl() {
    Exec("CREATE TABLE ConnectionControl(id SMALLINT, sval VARCHAR(255))");
    Exec("INSERT INTO ConnectionControl (id) VALUES (0)");
    Exec("INSERT INTO ConnectionControl (id, sval) VALUES (2, 'TS_Société')");
    Exec("INSERT INTO ConnectionControl (id, sval) VALUES (3, 12)");
  }

  std::unique_ptr<CompanyDatabase> db_;
  std::unique_ptr<TIBDatabase> database_;
  std::unique_ptr<TIBTransaction> transaction_;
};

TEST_F(IBComponentsTest, QueryWithNamedParameterReadsAsTheSchemaManagerWritesIt) {
  MakeConnectionControl();
  TIBQuery query;
  query.SetDatabase(database_.get());
  query.SetTransaction(transaction_.get());
  query.SQL = {"SELECT sval FROM ConnectionControl WHERE", "id = :p0"};
  transaction_->StartTransaction();
  query.ParamByName("p0").SetAsInteger(2);
  query.Open();
  ASSERT_FALSE(query.Eof());
  EXPECT_EQ(query.Fields(0).AsString(), "TS_Société");
  EXPECT_EQ(query.FieldNames(), std::vector<std::string>{"SVAL"});
  query.Close();
  query.ParamByName("p0").SetAsInteger(3);
  query.Open();
  EXPECT_EQ(query.Fields(0).AsInteger(), 12);
  query.Close();
  query.ParamByName("p0").SetAsInteger(9);
  query.Open();
  EXPECT_TRUE(query.Eof());
  query.Close();
  transaction_->Commit();
}

TEST_F(IBComponentsTest, RowsAreReadUntilEof) {
  MakeConnectionControl();
  TIBQuery query;
  query.SetTransaction(transaction_.get());  // the database comes from the transaction
  query.SQL = {"SELECT id, sval FROM ConnectionControl ORDER BY id"};
  transaction_->StartTransaction();
  query.Open();
  std::vector<std::string> seen;
  while (!query.Eof()) {
    seen.push_back(query.FieldByName("ID").AsString() + "=" +
                   (query.Fields(1).IsNull() ? "NULL" : query.FieldByName("sval").AsString()));
    query.Next();
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"0=NULL", "2=TS_Société", "3=12"}));
  EXPECT_TRUE(query.Active());
  transaction_->Commit();
  EXPECT_FALSE(query.Active());  // the commit closed it
}

TEST_F(IBComponentsTest, OpenRefusesAStatementWithoutRowsAndDoesNotRunIt) {
  MakeConnectionControl();
  TIBQuery query;
  query.SetDatabase(database_.get());
  query.SetTransaction(transaction_.get());
  query.SQL = {"DELETE FROM ConnectionControl"};
  transaction_->StartTransaction();
  EXPECT_THROW(query.Open(), DatabaseError);
  query.SQL = {"SELECT COUNT(*) FROM ConnectionControl"};
  query.Open();
  EXPECT_EQ(query.Fields(0).AsInteger(), 3);
  transaction_->Rollback();
}

TEST_F(IBComponentsTest, ExecSqlWithPositionalAndRepeatedNamedParameters) {
  Exec("CREATE TABLE Users(username VARCHAR(60), lastcheck TIMESTAMP)");
  TIBQuery query;
  query.SetDatabase(database_.get());
  query.SetTransaction(transaction_.get());
  transaction_->StartTransaction();
  query.SQL = {"INSERT INTO Users (username, lastcheck)", "VALUES (?, ?)"};
  ASSERT_EQ(query.Params().Count(), 2);
  query.Params()[0].SetAsString("user1 (PC07) - Updater");
  query.Params()[1].SetAsDateTime(fb::EncodeDateTime({2026, 1, 2, 3, 4, 5, 0}));
  query.ExecSQL();
  EXPECT_EQ(query.RowsAffected(), 1);
  query.SQL = {"UPDATE Users SET username = :p0 || '!' WHERE username <> :p0"};
  EXPECT_EQ(query.Params().Count(), 1);  // one parameter for both occurrences
  query.ParamByName("P0").SetAsString("x");
  query.ExecSQL();
  EXPECT_EQ(query.RowsAffected(), 1);
  EXPECT_THROW(query.ParamByName("p1"), DatabaseError);
  query.SQL = {"SELECT username, lastcheck FROM Users"};
  query.Open();
  EXPECT_EQ(query.Fields(0).AsString(), "x!");
  EXPECT_EQ(fb::DateTimeToString(query.Fields(1).AsDateTime()), "02/01/2026 03:04:05");
  transaction_->Commit();
}

TEST_F(IBComponentsTest, IbsqlWithoutParameterRecognitionCreatesAProcedure) {
  TIBSQL sql;
  sql.Name = "IBSQL";
  sql.SetDatabase(database_.get());
  sql.SetTransaction(transaction_.get());
  sql.ParamCheck = false;
  sql.SQL = {"create procedure TWICE (X integer)",
             "returns (Y integer)",
             "as",
             "begin",
             "Y = :X * 2;",
             "suspend;",
             "end"};
  EXPECT_EQ(sql.Params().Count(), 0);
  transaction_->StartTransaction();
  sql.ExecQuery();
  transaction_->Commit();
  sql.ParamCheck = true;
  sql.SQL = {"SELECT Y FROM TWICE(:x)"};
  transaction_->StartTransaction();
  sql.ParamByName("x").SetAsInt64(21);
  sql.ExecQuery();
  EXPECT_FALSE(sql.Eof());
  EXPECT_EQ(sql.Fields(0).AsInt64(), 42);
  sql.Next();
  EXPECT_TRUE(sql.Eof());
  sql.Close();
  // The source (the text after AS) keeps the lines as the suite writes them.
  sql.SQL = {"SELECT RDB$PROCEDURE_SOURCE FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = 'TWICE'"};
  sql.ExecQuery();
  EXPECT_EQ(sql.Fields(0).AsString(), "begin\r\nY = :X * 2;\r\nsuspend;\r\nend");
  transaction_->Commit();
}

TEST_F(IBComponentsTest, StatementsNeedAnActiveTransaction) {
  TIBQuery query;
  query.SetDatabase(database_.get());
  query.SetTransaction(transaction_.get());
  query.SQL = {"SELECT 1 FROM RDB$DATABASE"};
  EXPECT_THROW(query.Open(), DatabaseError);
  TIBQuery orphan;
  orphan.Name = "Orphan";
  orphan.SQL = {"SELECT 1 FROM RDB$DATABASE"};
  try {
    orphan.Open();
    FAIL();
  } catch (const DatabaseError& e) {
    EXPECT_STREQ(e.what(), "Orphan : aucune transaction.");
  }
}

TEST_F(IBComponentsTest, TagCarriesTheNestingDepth) {
  // The shape of the nested units of work: the depth lives on the transaction.
  auto begin = [&] {
    if (transaction_->Tag == 0) transaction_->StartTransaction();
    ++transaction_->Tag;
  };
  auto end = [&] {
    if (--transaction_->Tag == 0) transaction_->Commit();
  };
  begin();
  begin();
  EXPECT_EQ(transaction_->Tag, 2);
  end();
  EXPECT_TRUE(transaction_->Active());
  end();
  EXPECT_FALSE(transaction_->Active());
}

TEST_F(IBComponentsTest, CloseRollsBackActiveTransactions) {
  Exec("CREATE TABLE T (I INTEGER)");
  transaction_->StartTransaction();
  TIBSQL sql;
  sql.SetDatabase(database_.get());
  sql.SetTransaction(transaction_.get());
  sql.SQL = {"INSERT INTO T VALUES (1)"};
  sql.ExecQuery();
  database_->Close();
  EXPECT_FALSE(transaction_->Active());
  EXPECT_FALSE(database_->Connected());
  database_->Open();
  transaction_->StartTransaction();
  sql.SQL = {"SELECT COUNT(*) FROM T"};
  sql.ExecQuery();
  EXPECT_EQ(sql.Fields(0).AsInteger(), 0);
  transaction_->Commit();
}

TEST_F(IBComponentsTest, UserNamesAndTestConnected) {
  EXPECT_EQ(database_->UserNames(), std::vector<std::string>{"KORVANE"});
  EXPECT_TRUE(database_->TestConnected());
  database_->Close();
  EXPECT_FALSE(database_->TestConnected());
}

TEST_F(IBComponentsTest, LostAttachmentIsForceClosedAndDatasetsDropTheirRecords) {
  Exec("CREATE TABLE T (I INTEGER)");
  Exec("INSERT INTO T VALUES (1)");
  Exec("INSERT INTO T VALUES (2)");
  TIBQuery query;
  query.Name = "GeneralQuery";
  query.SetDatabase(database_.get());
  query.SetTransaction(transaction_.get());
  query.SQL = {"SELECT I FROM T"};
  transaction_->StartTransaction();
  query.Open();
  ASSERT_EQ(query.FieldCount(), 1);

  // Another attachment of the same user ends ours, as a server that goes away would.
  TIBDatabase killer;
  killer.DatabaseName = db_->WindowsPath();
  killer.Params = CompanyDatabase::AttachParams();
  killer.Open();
  TIBTransaction killerTransaction;
  killerTransaction.SetDefaultDatabase(&killer);
  killerTransaction.StartTransaction();
  TIBSQL kill;
  kill.SetTransaction(&killerTransaction);
  kill.SQL = {"DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION"};
  kill.ExecQuery();
  killerTransaction.Commit();

  EXPECT_FALSE(database_->TestConnected());
  EXPECT_THROW(query.Next(), DatabaseError);
  query.Close();  // the client's failure is ignored
  query.ForceInternalClose();
  EXPECT_FALSE(query.Active());
  EXPECT_EQ(query.FieldCount(), 0);
  database_->ForceClose();
  EXPECT_FALSE(database_->Connected());
  EXPECT_FALSE(transaction_->Active());

  // Everything works again after a new attachment.
  database_->Open();
  transaction_->StartTransaction();
  query.Open();
  EXPECT_EQ(query.Fields(0).AsInteger(), 1);
  transaction_->Commit();
}

TEST_F(IBComponentsTest, DestroyingALostAttachmentNeitherThrowsNorCrashes) {
  transaction_->StartTransaction();
  TIBQuery query;
  query.SetTransaction(transaction_.get());
  query.SQL = {"SELECT 1 FROM RDB$DATABASE"};
  query.Open();
  {
    TIBDatabase killer;
    killer.DatabaseName = db_->WindowsPath();
    killer.Params = CompanyDatabase::AttachParams();
    killer.Open();
    TIBTransaction killerTransaction;
    killerTransaction.SetDefaultDatabase(&killer);
    killerTransaction.StartTransaction();
    TIBSQL kill;
    kill.SetTransaction(&killerTransaction);
    kill.SQL = {"DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION"};
    kill.ExecQuery();
    killerTransaction.Commit();
  }
  EXPECT_THROW(database_->Close(), DatabaseError);
  database_.reset();  // falls back to the forced close
  EXPECT_EQ(query.Database(), nullptr);
  EXPECT_FALSE(query.Active());
  EXPECT_FALSE(transaction_->Active());
}

TEST_F(IBComponentsTest, FreeNotificationTellsObserversAndUnlinksDatasets) {
  Observer observer;
  auto query = std::make_unique<TIBQuery>();
  query->SetDatabase(database_.get());
  query->SetTransaction(transaction_.get());
  query->FreeNotification(&observer);
  database_->FreeNotification(&observer);
  transaction_->FreeNotification(&observer);

  TIBQuery* const queryAddress = query.get();
  query.reset();
  EXPECT_EQ(observer.removed, std::vector<TComponent*>{queryAddress});

  auto other = std::make_unique<TIBQuery>();
  other->SetTransaction(transaction_.get());
  other->SetDatabase(database_.get());
  TIBTransaction* const transactionAddress = transaction_.get();
  transaction_->StartTransaction();
  transaction_.reset();  // rolls back, the dataset forgets it
  EXPECT_EQ(other->Transaction(), nullptr);
  EXPECT_EQ(database_->DefaultTransaction(), nullptr);
  EXPECT_EQ(observer.removed.back(), transactionAddress);

  TIBDatabase* const databaseAddress = database_.get();
  database_.reset();
  EXPECT_EQ(other->Database(), nullptr);
  EXPECT_EQ(observer.removed.back(), databaseAddress);
}

TEST_F(IBComponentsTest, ObserverDestroyedFirstIsNotCalled) {
  auto observer = std::make_unique<Observer>();
  TIBQuery query;
  query.FreeNotification(observer.get());
  observer.reset();  // the link goes both ways: the query forgets it
  SUCCEED();
}

TEST(IBDatabaseCreate, CreatesWithItsOwnParametersAndDrops) {
  test::UseTestFirebirdRoot();
  test::TempPrefix prefix;
  std::filesystem::create_directories(prefix.Host("C:\\Data"));
  TIBDatabase database;
  database.DatabaseName = "C:\\Data\\NEW.FDB";
  database.Params = {"user_name=KORVANE", "password=84736251", "lc_ctype=ISO8859_1"};
  database.CreateParams = CompanyDatabase::CreateParams();
  int connects = 0;
  database.AfterConnect = [&](TIBDatabase&) { ++connects; };
  database.CreateDatabase();
  EXPECT_TRUE(database.Connected());
  EXPECT_EQ(connects, 1);
  EXPECT_TRUE(std::filesystem::exists(prefix.Host("C:\\Data\\NEW.FDB")));
  EXPECT_THROW(database.CreateDatabase(), DatabaseError);

  TIBTransaction transaction;
  transaction.SetDefaultDatabase(&database);
  transaction.StartTransaction();
  TIBSQL sql;
  sql.SetTransaction(&transaction);
  sql.SQL = {"SELECT TRIM(RDB$CHARACTER_SET_NAME) FROM RDB$DATABASE"};
  sql.ExecQuery();
  EXPECT_EQ(sql.Fields(0).AsString(), "ISO8859_1");
  transaction.Commit();

  database.DropDatabase();
  EXPECT_FALSE(database.Connected());
  EXPECT_FALSE(std::filesystem::exists(prefix.Host("C:\\Data\\NEW.FDB")));
}

TEST(IBDatabaseCreate, MissingFolderGivesADatabaseError) {
  test::UseTestFirebirdRoot();
  test::TempPrefix prefix;
  TIBDatabase database;
  database.DatabaseName = "C:\\Absent\\NEW.FDB";
  database.CreateParams = CompanyDatabase::CreateParams();
  try {
    database.CreateDatabase();
    FAIL();
  } catch (const DatabaseError& e) {
    EXPECT_NE(e.EngineCode(), 0);
    EXPECT_NE(std::string(e.what()).find("I/O error"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(database.Connected());
}

TEST(IBDatabaseWithoutClient, OpenRaisesTheFrenchErrorAndNothingCrashes) {
  test::TempPrefix prefix;
  const std::string missing = (prefix.Root() / "libfbclient.so.2").string();
  const char* previous = std::getenv("KORVANE_FBCLIENT");
  const std::string saved = previous != nullptr ? previous : "";
  setenv("KORVANE_FBCLIENT", missing.c_str(), 1);
  {
    TIBDatabase database;
    database.DatabaseName = "C:\\Data\\SOC.FDB";
    database.Params = {"user_name=KORVANE", "password=84736251", "lc_ctype=ISO8859_1"};
    TIBTransaction transaction;
    transaction.SetDefaultDatabase(&database);
    TIBQuery query;
    query.SetTransaction(&transaction);
    try {
      database.Open();
      ADD_FAILURE() << "no error";
    } catch (const DatabaseError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("La bibliothèque cliente Firebird (" + missing + ")", 0), 0u)
          << e.what();
    }
    EXPECT_FALSE(database.Connected());
    EXPECT_FALSE(database.TestConnected());
    EXPECT_THROW(transaction.StartTransaction(), DatabaseError);
    database.ForceClose();
  }
  if (previous != nullptr) {
    setenv("KORVANE_FBCLIENT", saved.c_str(), 1);
  } else {
    unsetenv("KORVANE_FBCLIENT");
  }
}

TEST(JoinSqlLines, JoinsWithCrLf) {
  EXPECT_EQ(JoinSqlLines({}), "");
  EXPECT_EQ(JoinSqlLines({"a"}), "a");
  EXPECT_EQ(JoinSqlLines({"SELECT sval FROM ConnectionControl WHERE", "id = :p0"}),
            "SELECT sval FROM ConnectionControl WHERE\r\nid = :p0");
}

}  // namespace
}  // namespace kv
