// The Firebird client layer on the embedded engine: one new database per test.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <optional>
#include <thread>

#include "db/client/Attachment.h"
#include "db/client/ClientLibrary.h"
#include "db/client/DatabaseError.h"
#include "db/client/ServiceManager.h"
#include "db/client/Statement.h"
#include "db/client/Transaction.h"
#include "tests/support/CompanyDatabase.h"
#include "tests/support/FirebirdRoot.h"

namespace kv::fb {
namespace {

using test::CompanyDatabase;

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::UseTestFirebirdRoot();
    db_ = std::make_unique<CompanyDatabase>();
    attachment_.Attach(db_->WindowsPath(), CompanyDatabase::AttachParams());
  }
  void TearDown() override {
    transaction_.ForceRollback();
    attachment_.ForceClose();
    db_.reset();
  }

  // Runs statements in one committed transaction.
  void Run(const std::vector<std::string>& sqls) {
    Transaction tr;
    tr.Start(attachment_);
    for (const std::string& sql : sqls) {
      Statement s;
      s.Prepare(attachment_, tr, sql);
      s.Execute(tr);
    }
    tr.Commit();
  }

  // The rows of a query, in a transaction of its own.
  std::vector<std::vector<Value>> Rows(const std::string& sql) {
    Transaction tr;
    tr.Start(attachment_);
    Statement s;
    s.Prepare(attachment_, tr, sql);
    s.Execute(tr);
    std::vector<std::vector<Value>> rows;
    while (s.Fetch()) rows.push_back(s.Row());
    tr.Commit();
    return rows;
  }

  // A table T with one row, which `holder` holds by an update it has not committed.
  void HoldARow(Transaction& holder, Statement& hold) {
    Run({"CREATE TABLE T (I INTEGER)"});
    Run({"INSERT INTO T VALUES (1)"});
    holder.Start(attachment_, {"concurrency", "wait"});
    hold.Prepare(attachment_, holder, "UPDATE T SET I = 2");
    hold.Execute(holder);
  }

  std::unique_ptr<CompanyDatabase> db_;
  Attachment attachment_;
  Transaction transaction_;
};

TEST_F(ClientTest, CreatedDatabaseHasTheSuitesDialectAndCharacterSet) {
  const auto rows = Rows(
      "SELECT MON$SQL_DIALECT, MON$PAGE_SIZE, (SELECT TRIM(RDB$CHARACTER_SET_NAME) FROM RDB$DATABASE) "
      "FROM MON$DATABASE");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].AsInteger(), 3);
  EXPECT_EQ(rows[0][1].AsInteger(), 4096);
  EXPECT_EQ(rows[0][2].AsString(), "ISO8859_1");
}

TEST_F(ClientTest, TypesRoundTripThroughParameters) {
  Run(
      {"CREATE TABLE T (S SMALLINT, I INTEGER, B BIGINT, N NUMERIC(18,0), M NUMERIC(18,2), "
       "C CHAR(8), V VARCHAR(60), TS TIMESTAMP, TB BLOB SUB_TYPE 1, BB BLOB SUB_TYPE 0)"});
  const double when = EncodeDateTime({2026, 12, 10, 14, 35, 7, 250});
  std::string binary("\x00\x01\xff\xfe", 4);
  binary += std::string(70000, 'x');  // more than one segment
  {
    Transaction tr;
    tr.Start(attachment_);
    Statement s;
    s.Prepare(attachment_, tr, "INSERT INTO T VALUES (:s, :i, :b, :n, :m, :c, :v, :ts, :tb, :bb)");
    EXPECT_EQ(s.ParamCount(), 10u);
    s.SetParam("s", Value::Integer(-12));
    s.SetParam("i", Value::Integer(2000000000));
    s.SetParam("b", Value::Integer(9000000000000000000LL));
    s.SetParam("n", Value::Integer(123456789012LL));
    s.SetParam("m", Value::Integer(-12345, -2));
    s.SetParam("c", Value::Text("éèàçÉ"));
    s.SetParam("v", Value::Text("Société générale d'Émile"));
    s.SetParam("ts", Value::DateTime(when));
    s.SetParam("tb", Value::Text("Ligne 1 é\r\nLigne 2 ç"));
    s.SetParam("bb", Value::Bytes(binary));
    s.Execute(tr);
    EXPECT_EQ(s.RowsAffected(), 1);
    tr.Commit();
  }
  const auto rows = Rows("SELECT S, I, B, N, M, C, V, TS, TB, BB FROM T");
  ASSERT_EQ(rows.size(), 1u);
  const auto& r = rows[0];
  EXPECT_EQ(r[0].AsInteger(), -12);
  EXPECT_EQ(r[1].AsInteger(), 2000000000);
  EXPECT_EQ(r[2].AsInt64(), 9000000000000000000LL);
  EXPECT_EQ(r[3].AsInt64(), 123456789012LL);
  EXPECT_EQ(r[4].AsString(), "-123.45");
  EXPECT_DOUBLE_EQ(r[4].AsFloat(), -123.45);
  EXPECT_EQ(r[5].AsString(), "éèàçÉ   ");  // CHAR(8) keeps the server's blanks
  EXPECT_EQ(r[6].AsString(), "Société générale d'Émile");
  EXPECT_EQ(r[7].GetKind(), Value::Kind::DateTime);
  const DateTimeParts p = DecodeDateTime(r[7].AsDateTime());
  EXPECT_EQ(p.Year, 2026);
  EXPECT_EQ(p.Month, 12);
  EXPECT_EQ(p.Day, 10);
  EXPECT_EQ(p.Hour, 14);
  EXPECT_EQ(p.Minute, 35);
  EXPECT_EQ(p.Second, 7);
  EXPECT_EQ(p.Millisecond, 250);
  EXPECT_EQ(r[8].GetKind(), Value::Kind::Text);
  EXPECT_EQ(r[8].AsString(), "Ligne 1 é\r\nLigne 2 ç");
  EXPECT_EQ(r[9].GetKind(), Value::Kind::Bytes);
  EXPECT_EQ(r[9].AsBytes(), binary);
}

TEST_F(ClientTest, AccentsAreStoredAsIso8859_1) {
  Run({"CREATE TABLE T (V VARCHAR(10))"});
  {
    Transaction tr;
    tr.Start(attachment_);
    Statement s;
    s.Prepare(attachment_, tr, "INSERT INTO T VALUES (?)");
    s.SetParam(0, Value::Text("éèàçÉ"));
    s.Execute(tr);
    tr.Commit();
  }
  // One byte per character, the ISO 8859-1 codes.
  const auto rows = Rows("SELECT OCTET_LENGTH(V), ASCII_VAL(V), V FROM T WHERE V = 'éèàçÉ'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].AsInteger(), 5);
  EXPECT_EQ(rows[0][1].AsInteger(), 0xE9);
  EXPECT_EQ(rows[0][2].AsString(), "éèàçÉ");
}

TEST_F(ClientTest, CreatedAttachmentStoresAccentsAsIso8859_1) {
  // The attachment CREATE DATABASE leaves open is the one the schema manager fills the database
  // through.
  attachment_.Drop();
  Attachment created;
  created.Create(db_->WindowsPath(), CompanyDatabase::CreateParams());
  {
    Transaction tr;
    tr.Start(created);
    Statement s;
    s.Prepare(created, tr, "CREATE TABLE T (V VARCHAR(10))");
    s.Execute(tr);
    tr.Commit();
  }
  Transaction tr;
  tr.Start(created);
  Statement insert;
  insert.Prepare(created, tr, "INSERT INTO T VALUES (:v)");
  insert.SetParam("v", Value::Text("éèàçÉ"));
  insert.Execute(tr);
  Statement literal;
  literal.Prepare(created, tr, "INSERT INTO T VALUES ('Ça')");
  literal.Execute(tr);
  Statement read;
  read.Prepare(created, tr, "SELECT V, OCTET_LENGTH(V), ASCII_VAL(V) FROM T ORDER BY 2 DESC");
  read.Execute(tr);
  ASSERT_TRUE(read.Fetch());
  EXPECT_EQ(read.Row()[0].AsString(), "éèàçÉ");
  EXPECT_EQ(read.Row()[1].AsInteger(), 5);
  EXPECT_EQ(read.Row()[2].AsInteger(), 0xE9);
  ASSERT_TRUE(read.Fetch());
  EXPECT_EQ(read.Row()[0].AsString(), "Ça");
  EXPECT_EQ(read.Row()[2].AsInteger(), 0xC7);
  tr.Commit();
  created.Drop();
}

TEST_F(ClientTest, ReexecutionStartsFromTheDescribedParameterTypes) {
  Run({"CREATE TABLE T (V VARCHAR(10))"});
  Transaction tr;
  tr.Start(attachment_);
  Statement s;
  s.Prepare(attachment_, tr, "INSERT INTO T VALUES (:v)");
  for (const Value& v : {Value::Integer(12345, -2), Value::Text("été"), Value::Null(), Value::Integer(7)}) {
    s.SetParam("v", v);
    s.Execute(tr);
  }
  tr.Commit();
  std::vector<std::string> stored;
  for (const auto& row : Rows("SELECT COALESCE(V, 'NULL') FROM T")) stored.push_back(row[0].AsString());
  EXPECT_EQ(stored, (std::vector<std::string>{"123.45", "été", "NULL", "7"}));
}

TEST(ClientNames, DatabaseInAFolderWithAccentsKeepsItsHostName) {
  test::UseTestFirebirdRoot();
  test::TempPrefix prefix;
  test::CompanyDatabase db(prefix, "C:\\Données\\Société.FDB");
  EXPECT_TRUE(std::filesystem::exists(prefix.Root() / "drives" / "c" / "Données" / "Société.FDB"));
  Attachment attachment;
  attachment.Attach("C:\\DONNÉES\\société.fdb", CompanyDatabase::AttachParams());  // any case, as Windows
  EXPECT_TRUE(attachment.IsAlive());
  ServiceManager services;
  services.Attach("", "KORVANE", "84736251");
  services.StartHeaderStatistics(db.WindowsPath());
  std::string all;
  services.ReadLines([&](const std::string& line) { all += line + "\n"; });
  EXPECT_NE(all.find("Société.FDB"), std::string::npos) << all;
}

TEST_F(ClientTest, TextWithoutAnIso8859_1FormIsRefused) {
  Run({"CREATE TABLE T (V VARCHAR(10))"});
  Transaction tr;
  tr.Start(attachment_);
  Statement s;
  s.Prepare(attachment_, tr, "INSERT INTO T VALUES (:v)");
  s.SetParam("v", Value::Text("prix 5 €"));
  EXPECT_THROW(s.Execute(tr), DatabaseError);
  tr.Rollback();
  EXPECT_TRUE(Rows("SELECT V FROM T").empty());
}

TEST_F(ClientTest, NullsInParametersAndColumns) {
  Run({"CREATE TABLE T (I INTEGER, V VARCHAR(10), TS TIMESTAMP, TB BLOB SUB_TYPE 1)"});
  {
    Transaction tr;
    tr.Start(attachment_);
    Statement s;
    s.Prepare(attachment_, tr, "INSERT INTO T VALUES (:i, :v, :ts, :tb)");
    s.SetParam("i", Value::Null());
    s.SetParam("v", Value::Null());
    s.Execute(tr);  // :ts and :tb left unset are NULL too
    tr.Commit();
  }
  const auto rows = Rows("SELECT I, V, TS, TB, I IS NULL FROM T");
  ASSERT_EQ(rows.size(), 1u);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(rows[0][i].IsNull()) << i;
  EXPECT_EQ(rows[0][1].AsString(), "");
  EXPECT_EQ(rows[0][0].AsInteger(), 0);
  EXPECT_TRUE(rows[0][4].AsBoolean());
}

TEST_F(ClientTest, NamedParameterUsedTwiceGetsOneValue) {
  Run({"CREATE TABLE T (A INTEGER, B INTEGER)"});
  Run({"INSERT INTO T VALUES (1, 1)", "INSERT INTO T VALUES (1, 2)", "INSERT INTO T VALUES (2, 2)"});
  Transaction tr;
  tr.Start(attachment_);
  Statement s;
  s.Prepare(attachment_, tr, "SELECT COUNT(*) FROM T WHERE A = :p0 AND B = :P0 AND ':p1' = ':p1' -- :p2\n");
  EXPECT_EQ(s.ParamNames(), (std::vector<std::string>{"p0", "P0"}));
  s.SetParam("p0", Value::Integer(2));
  s.Execute(tr);
  ASSERT_TRUE(s.Fetch());
  EXPECT_EQ(s.Row()[0].AsInteger(), 1);
  EXPECT_FALSE(s.Fetch());
  EXPECT_THROW(s.SetParam("p1", Value::Integer(1)), DatabaseError);
}

TEST(ParseParams, RewritesNamesOutsideStringsAndComments) {
  struct Case {
    std::string sql, text;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      {"SELECT * FROM T WHERE id = :p0", "SELECT * FROM T WHERE id = ?", {"p0"}},
      {"UPDATE U SET a = :x, b = :y WHERE c = :x", "UPDATE U SET a = ?, b = ? WHERE c = ?", {"x", "y", "x"}},
      {"SELECT ':no' FROM R WHERE s = 'it''s :no'", "SELECT ':no' FROM R WHERE s = 'it''s :no'", {}},
      {"SELECT \"A:b\" FROM R /* :no */ WHERE x = ? -- :no",
       "SELECT \"A:b\" FROM R /* :no */ WHERE x = ? -- :no",
       {""}},
      {"INSERT INTO Users (username, lastcheck)\r\nVALUES (:p0, 'Now')",
       "INSERT INTO Users (username, lastcheck)\r\nVALUES (?, 'Now')",
       {"p0"}},
  };
  for (const Case& c : cases) {
    const ParsedSql parsed = ParseParams(c.sql);
    EXPECT_EQ(parsed.Text, c.text) << c.sql;
    EXPECT_EQ(parsed.Names, c.names) << c.sql;
  }
}

TEST_F(ClientTest, ParameterRecognitionOffKeepsProcedureBodies) {
  Transaction tr;
  tr.Start(attachment_);
  Statement s;
  s.Prepare(attachment_, tr,
            "CREATE PROCEDURE TWICE (X INTEGER) RETURNS (Y INTEGER) AS\r\nBEGIN\r\n  Y = :X * 2;\r\n  "
            "SUSPEND;\r\nEND",
            false);
  EXPECT_EQ(s.ParamCount(), 0u);
  s.Execute(tr);
  tr.Commit();
  const auto rows = Rows("SELECT Y FROM TWICE(21)");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].AsInteger(), 42);
}

TEST_F(ClientTest, ExecuteProcedureGivesItsOneRow) {
  Run({"CREATE PROCEDURE ADD1 (X INTEGER) RETURNS (Y INTEGER) AS BEGIN Y = X + 1; END"});
  Transaction tr;
  tr.Start(attachment_);
  Statement s;
  s.Prepare(attachment_, tr, "EXECUTE PROCEDURE ADD1 :x");
  EXPECT_TRUE(s.IsQuery());
  s.SetParam("x", Value::Integer(41));
  s.Execute(tr);
  ASSERT_TRUE(s.Fetch());
  EXPECT_EQ(s.Row()[0].AsInteger(), 42);
  EXPECT_FALSE(s.Fetch());
  tr.Commit();
}

TEST_F(ClientTest, ColumnNamesAndAliases) {
  Run({"CREATE TABLE ConnectionControl (id SMALLINT, sval VARCHAR(255))"});
  Transaction tr;
  tr.Start(attachment_);
  Statement s;
  s.Prepare(attachment_, tr, "SELECT id, sval AS texte, COUNT(*) FROM ConnectionControl GROUP BY id, sval");
  ASSERT_EQ(s.Columns().size(), 3u);
  EXPECT_EQ(s.Columns()[0].Alias, "ID");
  EXPECT_EQ(s.Columns()[1].Name, "SVAL");
  EXPECT_EQ(s.Columns()[1].Alias, "TEXTE");
  EXPECT_EQ(s.Columns()[2].Alias, "COUNT");
  tr.Commit();
}

TEST_F(ClientTest, FailingStatementRaisesDatabaseErrorWithCodesAndMessage) {
  Transaction tr;
  tr.Start(attachment_);
  Statement s;
  try {
    s.Prepare(attachment_, tr, "SELECT * FROM NoSuchTable");
    FAIL() << "no error";
  } catch (const DatabaseError& e) {
    EXPECT_EQ(e.SQLCode(), -204);
    EXPECT_EQ(e.EngineCode(), 335544569);
    const std::string message = e.what();
    EXPECT_NE(message.find("Dynamic SQL Error"), std::string::npos) << message;
    EXPECT_NE(message.find("NOSUCHTABLE"), std::string::npos) << message;
    EXPECT_NE(message.find("\r\n"), std::string::npos) << message;
  }
  EXPECT_TRUE(tr.IsActive());
}

TEST_F(ClientTest, TransactionDestructorRollsBack) {
  Run({"CREATE TABLE T (I INTEGER)"});
  {
    Transaction tr;
    tr.Start(attachment_, {"concurrency", "nowait", "write"});
    Statement s;
    s.Prepare(attachment_, tr, "INSERT INTO T VALUES (1)");
    s.Execute(tr);
    EXPECT_TRUE(tr.IsActive());
  }
  EXPECT_TRUE(Rows("SELECT I FROM T").empty());
}

TEST_F(ClientTest, TransactionParametersAreChecked) {
  Transaction tr;
  tr.Start(attachment_, {"concurrency", "nowait", "read"});
  Statement s;
  s.Prepare(attachment_, tr, "CREATE TABLE T (I INTEGER)");
  EXPECT_THROW(s.Execute(tr), DatabaseError);  // a read-only transaction writes nothing
  tr.Rollback();
  EXPECT_THROW(tr.Start(attachment_, {"concurrency", "sometimes"}), DatabaseError);
  EXPECT_FALSE(tr.IsActive());
}

// A lock time-out bounds the wait for a row another transaction holds: the engine gives up after
// it (the lock manager counts in whole seconds) with its update conflict, where a plain "wait"
// would wait for ever.
TEST_F(ClientTest, ALockTimeoutEndsTheWaitForAHeldRow) {
  Transaction holder;
  Statement hold;
  HoldARow(holder, hold);

  Attachment other;
  other.Attach(db_->WindowsPath(), CompanyDatabase::AttachParams());
  Transaction waiter;
  waiter.Start(other, {"concurrency", "wait", "lock_timeout=3"});
  Statement update;
  update.Prepare(other, waiter, "UPDATE T SET I = 3");
  const auto start = std::chrono::steady_clock::now();
  try {
    update.Execute(waiter);
    FAIL() << "updated a held row";
  } catch (const DatabaseError& e) {
    EXPECT_EQ(e.EngineCode(), 335544336) << e.what();  // deadlock: update conflicts with concurrent update
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "it did not wait";
  waiter.Rollback();
  other.ForceClose();
  holder.Rollback();
}

// "nowait" refuses a row another transaction holds at once. Were it sent as "wait", the update
// would wait until the holder lets go (here after five seconds) and then go through.
TEST_F(ClientTest, NowaitRefusesAHeldRowAtOnce) {
  Transaction holder;
  Statement hold;
  HoldARow(holder, hold);

  Attachment other;
  other.Attach(db_->WindowsPath(), CompanyDatabase::AttachParams());
  Transaction refused;
  refused.Start(other, {"concurrency", "nowait"});
  Statement update;
  update.Prepare(other, refused, "UPDATE T SET I = 3");
  std::promise<void> answered;
  std::thread releaser([&holder, answered = answered.get_future()] {
    if (answered.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) holder.Rollback();
  });
  try {
    update.Execute(refused);
    ADD_FAILURE() << "updated a held row";
  } catch (const DatabaseError& e) {
    EXPECT_EQ(e.EngineCode(), 335544336) << e.what();  // deadlock: update conflicts with concurrent update
  }
  answered.set_value();
  releaser.join();
  refused.Rollback();
  other.ForceClose();
  if (holder.IsActive()) holder.Rollback();
}

TEST_F(ClientTest, AMalformedLockTimeoutIsRefused) {
  for (const char* param :
       {"lock_timeout=", "lock_timeout=-1", "lock_timeout=1s", "lock_timeout=9999999999"}) {
    Transaction tr;
    EXPECT_THROW(tr.Start(attachment_, {"concurrency", "wait", param}), DatabaseError) << param;
    EXPECT_FALSE(tr.IsActive());
  }
}

TEST_F(ClientTest, CommitRetainingKeepsTheTransaction) {
  Run({"CREATE TABLE T (I INTEGER)"});
  Transaction tr;
  tr.Start(attachment_, {"read_committed", "rec_version", "nowait"});
  Statement s;
  s.Prepare(attachment_, tr, "INSERT INTO T VALUES (7)");
  s.Execute(tr);
  tr.CommitRetaining();
  EXPECT_TRUE(tr.IsActive());
  EXPECT_EQ(Rows("SELECT I FROM T").size(), 1u);
  tr.Rollback();
  EXPECT_EQ(Rows("SELECT I FROM T").size(), 1u);
}

TEST_F(ClientTest, UserNamesCountAttachments) {
  EXPECT_EQ(attachment_.UserNames(), (std::vector<std::string>{"KORVANE"}));
  Attachment second;
  second.Attach(db_->WindowsPath(), {"user_name=PUBLIC_READER", "password=x", "lc_ctype=ISO8859_1"});
  auto names = attachment_.UserNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"KORVANE", "PUBLIC_READER"}));
  EXPECT_TRUE(second.IsAlive());
}

TEST_F(ClientTest, AttachWithRoleGivesTheRoleToTheAttachment) {
  Run({"CREATE ROLE ROLE_READER"});
  Run({"GRANT ROLE_READER TO KORVANE"});
  Attachment withRole, withoutRole;
  withRole.Attach(db_->WindowsPath(), {"user_name=KORVANE", "password=84736251", "sql_role_name=ROLE_READER",
                                       "lc_ctype=ISO8859_1"});
  withoutRole.Attach(db_->WindowsPath(), {"user_name=KORVANE", "password=84736251", "lc_ctype=ISO8859_1"});
  auto role = [](Attachment& a) {
    Transaction tr;
    tr.Start(a);
    Statement s;
    s.Prepare(a, tr,
              "SELECT TRIM(CURRENT_ROLE), TRIM(CURRENT_USER), MON$CHARACTER_SET_ID FROM MON$ATTACHMENTS "
              "WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION");
    s.Execute(tr);
    EXPECT_TRUE(s.Fetch());
    return s.Row()[0].AsString() + "/" + s.Row()[1].AsString() + "/" + s.Row()[2].AsString();
  };
  // 21: ISO8859_1
  EXPECT_EQ(role(withRole), "ROLE_READER/KORVANE/21");
  EXPECT_EQ(role(withoutRole), "NONE/KORVANE/21");
}

TEST_F(ClientTest, UnknownAttachmentParameterIsRefused) {
  Attachment other;
  EXPECT_THROW(other.Attach(db_->WindowsPath(), {"user_name=KORVANE", "colour=blue"}), DatabaseError);
  EXPECT_FALSE(other.IsAttached());
}

TEST_F(ClientTest, DropRemovesTheFile) {
  attachment_.Drop();
  EXPECT_FALSE(attachment_.IsAttached());
  EXPECT_FALSE(std::filesystem::exists(db_->HostPath()));
}

TEST_F(ClientTest, ServiceManagerReportsTheEmbeddedServerVersion) {
  ServiceManager services;
  services.Attach("", "KORVANE", "84736251");
  const ServerVersionInfo info = services.QueryVersion();
  EXPECT_EQ(info.ServerVersion.rfind("LI-V3.0", 0), 0u) << info.ServerVersion;
  EXPECT_NE(info.ServerVersion.find("Firebird 3.0"), std::string::npos) << info.ServerVersion;
  EXPECT_FALSE(info.Implementation.empty());
  EXPECT_GT(info.ServiceVersion, 0);
  services.Detach();
  EXPECT_FALSE(services.IsAttached());
}

TEST_F(ClientTest, ServiceManagerHeaderStatisticsAndProperties) {
  attachment_.Detach();  // the properties action wants the database to itself
  ServiceManager services;
  services.Attach("", "KORVANE", "84736251");
  services.SetSweepInterval(db_->WindowsPath(), 1234);
  services.SetForcedWrites(db_->WindowsPath(), false);
  services.StartHeaderStatistics(db_->WindowsPath());
  std::vector<std::string> lines;
  services.ReadLines([&](const std::string& line) { lines.push_back(line); });
  std::string all;
  for (const auto& l : lines) all += l + "\n";
  EXPECT_NE(all.find("Sweep interval:"), std::string::npos) << all;
  EXPECT_NE(all.find("1234"), std::string::npos) << all;
  EXPECT_EQ(all.find("force write"), std::string::npos) << all;
  services.SetForcedWrites(db_->WindowsPath(), true);
  services.StartHeaderStatistics(db_->WindowsPath());
  all.clear();
  services.ReadLines([&](const std::string& line) { all += line + "\n"; });
  EXPECT_NE(all.find("force write"), std::string::npos) << all;
}

TEST_F(ClientTest, ServiceManagerBackupAndSweepGiveVerboseLines) {
  Run({"CREATE TABLE T (I INTEGER)"});
  Run({"INSERT INTO T VALUES (1)"});
  ServiceManager services;
  services.Attach("", "KORVANE", "84736251");
  services.StartBackup(db_->WindowsPath(), "C:\\Data\\SOC.FBK");
  const auto backup = db_->Prefix().Host("C:\\Data\\SOC.FBK");
  std::vector<std::string> lines;
  services.ReadLines([&](const std::string& line) { lines.push_back(line); });
  EXPECT_GT(lines.size(), 5u);
  std::string all;
  for (const auto& l : lines) all += l + "\n";
  EXPECT_NE(all.find("writing data for table T"), std::string::npos) << all;
  EXPECT_TRUE(std::filesystem::exists(backup));
  services.StartValidation(db_->WindowsPath(), true);
  services.ReadLines([](const std::string&) {});
}

TEST(ClientLibrary, LocalConnectionStringsOpenThroughTheDriveMap) {
  test::TempPrefix prefix;
  EXPECT_TRUE(IsLocalConnectionString("C:\\Data\\SOC.FDB"));
  EXPECT_FALSE(IsLocalConnectionString("127.0.0.1:C:\\Data\\SOC.FDB"));
  EXPECT_FALSE(IsLocalConnectionString("srv:/data/a.fdb"));
  EXPECT_FALSE(IsLocalConnectionString("a.fdb"));
  EXPECT_EQ(ClientDatabaseName("C:\\Data\\SOC.FDB"), prefix.Host("C:\\Data\\SOC.FDB").string());
  EXPECT_EQ(ClientDatabaseName("127.0.0.1:C:\\Data\\SOC.FDB"), "127.0.0.1:C:\\Data\\SOC.FDB");
  EXPECT_EQ(ClientDatabaseName("srv:/data/a.fdb"), "srv:/data/a.fdb");
  EXPECT_THROW(ClientDatabaseName("Q:\\Nowhere\\SOC.FDB"), DatabaseError);
}

TEST(ClientLibrary, ReportsTheFirebird3Client) {
  test::UseTestFirebirdRoot();
  EXPECT_TRUE(IsClientAvailable());
  EXPECT_EQ(ClientVersion(), "LI-V6.3.11.33637 Firebird 3.0");
}

TEST(ClientLibrary, ProgramRootIsBesideTheProgramsFolder) {
  EXPECT_EQ(ProgramFirebirdRoot(),
            (std::filesystem::path(KV_BIN_DIR).parent_path() / "firebird").lexically_normal());
}

// Loading happens once per process: these run in a fresh copy of the test program.
TEST(ClientLoaderDeathTest, SetsFirebirdToTheProgramsRootBeforeLoading) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        unsetenv("FIREBIRD");
        const bool loaded = IsClientAvailable();
        const char* root = std::getenv("FIREBIRD");
        std::exit(loaded && root != nullptr && ProgramFirebirdRoot() == root ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(ClientLoaderDeathTest, KeepsAFirebirdRootAlreadyChosen) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("FIREBIRD", "/opt/chosen-root", 1);
        const bool loaded = IsClientAvailable();
        std::exit(loaded && std::string(std::getenv("FIREBIRD")) == "/opt/chosen-root" ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// Points KORVANE_FBCLIENT at another file for the guard's life.
class ClientOverride {
 public:
  explicit ClientOverride(const std::string& file) {
    if (const char* old = std::getenv(kClientOverrideVariable)) previous_ = old;
    setenv(kClientOverrideVariable, file.c_str(), 1);
  }
  ~ClientOverride() {
    if (previous_) {
      setenv(kClientOverrideVariable, previous_->c_str(), 1);
    } else {
      unsetenv(kClientOverrideVariable);
    }
  }

 private:
  std::optional<std::string> previous_;
};

TEST(ClientLibrary, MissingClientRaisesTheFrenchErrorOnEveryOperation) {
  test::TempPrefix prefix;
  const std::string missing = (prefix.Root() / "absent" / "libfbclient.so.2").string();
  ClientOverride override(missing);
  EXPECT_FALSE(IsClientAvailable());
  const std::string expected =
      "La bibliothèque cliente Firebird (" + missing + ") est introuvable ou inutilisable : ";
  Attachment attachment;
  try {
    attachment.Attach("C:\\Data\\SOC.FDB", {"user_name=KORVANE"});
    FAIL() << "no error";
  } catch (const DatabaseError& e) {
    EXPECT_EQ(std::string(e.what()).rfind(expected, 0), 0u) << e.what();
    EXPECT_EQ(e.SQLCode(), 0);
  }
  EXPECT_FALSE(attachment.IsAttached());
  EXPECT_THROW(ClientVersion(), DatabaseError);
  ServiceManager services;
  EXPECT_THROW(services.Attach("", "KORVANE", "x"), DatabaseError);
  Transaction tr;
  EXPECT_THROW(tr.Start(attachment), DatabaseError);
}

TEST(ClientLibrary, FileThatIsNoFirebirdClientIsRefused) {
  test::TempPrefix prefix;
  // A real library without the client's entry points.
  ClientOverride override("libz.so.1");
  EXPECT_FALSE(IsClientAvailable());
  Attachment attachment;
  try {
    attachment.Attach("C:\\Data\\SOC.FDB", {"user_name=KORVANE"});
    FAIL() << "no error";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("libz.so.1"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("isc_attach_database"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace kv::fb
