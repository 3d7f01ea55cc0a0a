// The table manager on the embedded engine: its generated statements, and its operations on a
// new database per test made by the schema manager.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "db/IBManagers.h"
#include "tests/db/ManagerFixture.h"
#include "tests/support/FirebirdRoot.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

using Lines = std::vector<std::string>;

const Lines kPrtParams = {
    "pname VARCHAR(60) NOT NULL *", "d_text VARCHAR(90)", "f_text VARCHAR(90)",
    "i_text VARCHAR(90)",           "compat INTEGER",     "print_params BLOB SUB_TYPE TEXT"};

// --- Column definitions and generated statements (no database) ------------------------------

TEST(ColumnDefinitionTest, MarksAreRemovedAndTheRestKept) {
  struct Case {
    std::string line;
    std::string name;
    std::string definition;
    bool key;
    bool notWritten;
  };
  for (const Case& c : std::vector<Case>{
           {"pname VARCHAR(60) NOT NULL *", "pname", "pname VARCHAR(60) NOT NULL ", true, false},
           {"  d_text VARCHAR(90)  ", "d_text", "d_text VARCHAR(90)", false, false},
           {"total NUMERIC(18,2) COMPUTED BY (a+b) #", "total", "total NUMERIC(18,2) COMPUTED BY (a+b) ",
            false, true},
           {"*id INTEGER NOT NULL #", "id", "id INTEGER NOT NULL ", true, true},
           {"single", "single", "single", false, false},
       }) {
    const TColumnDefinition column = TTableManager::ParseColumnDefinition(c.line);
    EXPECT_EQ(column.Name, c.name) << c.line;
    EXPECT_EQ(column.Definition, c.definition) << c.line;
    EXPECT_EQ(column.Key, c.key) << c.line;
    EXPECT_EQ(column.NotWritten, c.notWritten) << c.line;
  }
}

TEST(GeneratedStatementsTest, OneKeyColumn) {
  TTableManager table;
  table.SetTableName("PRT_Params");
  table.SetFieldDefs(kPrtParams);
  Lines sql;
  table.BuildCreateTableSQL(sql);
  EXPECT_EQ(sql, (Lines{"CREATE TABLE PRT_Params(", "pname VARCHAR(60) NOT NULL ,", "d_text VARCHAR(90),",
                        "f_text VARCHAR(90),", "i_text VARCHAR(90),", "compat INTEGER,",
                        "print_params BLOB SUB_TYPE TEXT,", "PRIMARY KEY (pname)", ")"}));
  table.BuildSQL4Insert(sql);
  EXPECT_EQ(sql,
            (Lines{"INSERT INTO PRT_Params(", "pname,", "d_text,", "f_text,", "i_text,", "compat,",
                   "print_params)", "VALUES (:pname, :d_text, :f_text, :i_text, :compat, :print_params)"}));
  table.BuildSQL4Update(sql, nullptr);
  EXPECT_EQ(sql,
            (Lines{"UPDATE PRT_Params SET", "d_text = :d_text,", "f_text = :f_text,", "i_text = :i_text,",
                   "compat = :compat,", "print_params = :print_params", "WHERE", "pname = :OLD_pname"}));
  const Lines excluded = {"COMPAT", "Print_Params"};
  table.BuildSQL4Update(sql, &excluded);
  EXPECT_EQ(sql, (Lines{"UPDATE PRT_Params SET", "d_text = :d_text,", "f_text = :f_text,", "i_text = :i_text",
                        "WHERE", "pname = :OLD_pname"}));
  table.BuildDeleteSQL(sql);
  EXPECT_EQ(sql, (Lines{"DELETE FROM PRT_Params WHERE", "pname = :OLD_pname"}));
  table.BuildSelectSQL(sql, {"pname", "d_text"}, "compat = :p0");
  EXPECT_EQ(sql,
            (Lines{"SELECT pname, d_text", "FROM PRT_Params", "WHERE", "compat = :p0", "ORDER BY pname"}));
  EXPECT_EQ(table.PKCount(), 1);
}

TEST(GeneratedStatementsTest, TwoKeyColumnsAndAColumnNotWritten) {
  TTableManager table;
  table.SetTableName("T");
  table.SetFieldDefs(
      {"a INTEGER NOT NULL *", "b VARCHAR(10) NOT NULL *", "c VARCHAR(10)", "d COMPUTED BY (a + a) #"});
  Lines sql;
  table.BuildCreateTableSQL(sql);
  EXPECT_EQ(sql, (Lines{"CREATE TABLE T(", "a INTEGER NOT NULL ,", "b VARCHAR(10) NOT NULL ,",
                        "c VARCHAR(10),", "d COMPUTED BY (a + a) ,", "PRIMARY KEY (a,b)", ")"}));
  table.BuildSQL4Insert(sql);
  EXPECT_EQ(sql, (Lines{"INSERT INTO T(", "a,", "b,", "c)", "VALUES (:a, :b, :c)"}));
  table.BuildSQL4Update(sql, nullptr);
  EXPECT_EQ(sql, (Lines{"UPDATE T SET", "c = :c", "WHERE", "a = :OLD_a AND", "b = :OLD_b"}));
  table.BuildDeleteSQL(sql);
  EXPECT_EQ(sql, (Lines{"DELETE FROM T WHERE", "a = :OLD_a", "AND b = :OLD_b"}));
  table.BuildSelectSQL(sql, {"*"}, "");
  EXPECT_EQ(sql, (Lines{"SELECT *", "FROM T", "ORDER BY a, b"}));
}

TEST(GeneratedStatementsTest, NoKeyColumn) {
  TTableManager table;
  table.SetTableName("Journal");
  table.SetFieldDefs({"at TIMESTAMP", "line VARCHAR(200)"});
  Lines sql;
  table.BuildCreateTableSQL(sql);
  EXPECT_EQ(sql, (Lines{"CREATE TABLE Journal(", "at TIMESTAMP,", "line VARCHAR(200)", ")"}));
  table.BuildSelectSQL(sql, {"at", "line"}, "");
  EXPECT_EQ(sql, (Lines{"SELECT at, line", "FROM Journal", ""}));
}

TEST(GeneratedStatementsTest, WithoutManagerEveryOperationNamesItsCode) {
  TTableManager table;
  table.SetTableName("T");
  table.SetFieldDefs({"a INTEGER NOT NULL *"});
  struct Case {
    std::function<void()> operation;
    int code;
  };
  for (const Case& c : std::vector<Case>{{[&] { table.CreateTable(); }, 1},
                                         {[&] { table.DropTable(); }, 2},
                                         {[&] { table.CreateQuery(true); }, 3},
                                         {[&] { table.ExecuteSQL("DELETE FROM T"); }, 4},
                                         {[&] { table.DeleteRecord({fb::Value::Integer(1)}); }, 5},
                                         {[&] { table.RecordCount(); }, 6},
                                         {[&] { table.AppendRecord({}); }, 7},
                                         {[&] { table.KeyName(); }, 8},
                                         {[&] { table.GetConstraintIndexName("C"); }, 9},
                                         {[&] { table.AllowAccess(); }, 10},
                                         {[&] { table.DenyAccess(); }, 11}}) {
    try {
      c.operation();
      ADD_FAILURE() << "no error for " << c.code;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), "no database! (" + std::to_string(c.code) + ")");
    }
  }
  EXPECT_EQ(table.Database(), nullptr);
}

// --- On a database -------------------------------------------------------------------------

class TableManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTestFirebirdRoot();
    fs::create_directories(prefix_.Host("C:\\Data\\SOC.FDB").parent_path());
    c_ = std::make_unique<ManagerComponents>("C:\\Data\\SOC.FDB");
    c_->DatabaseManager.CreateDatabase();
    c_->IBDatabase.Close();
    c_->DatabaseManager.Connect();
    table_ = std::make_unique<TTableManager>();
    table_->SetDatabaseManager(&c_->DatabaseManager);
    table_->SetTableName("PRT_Params");
    table_->SetFieldDefs(kPrtParams);
  }
  void TearDown() override {
    table_.reset();
    c_.reset();
  }

  TDatabaseManager& M() { return c_->DatabaseManager; }
  TIBDatabase& Db() { return c_->IBDatabase; }
  TIBTransaction& Tr() { return c_->GlobalTransaction; }
  TTableManager& T() { return *table_; }

  // A table of its own, with the given definitions.
  std::unique_ptr<TTableManager> Table(const std::string& name, const Lines& definitions) {
    auto table = std::make_unique<TTableManager>();
    table->SetDatabaseManager(&M());
    table->SetTableName(name);
    table->SetFieldDefs(definitions);
    return table;
  }

  static std::string Sorted(std::string text) {
    std::sort(text.begin(), text.end());
    return text;
  }

  TempPrefix prefix_;
  ScriptedUi ui_;
  std::unique_ptr<ManagerComponents> c_;
  std::unique_ptr<TTableManager> table_;
};

TEST_F(TableManagerTest, CreateTableMakesTheTableWithItsKeyAndTheGrants) {
  T().CreateTable();
  EXPECT_TRUE(M().FindTable("PRT_PARAMS"));
  EXPECT_THAT(T().GetPrimaryIndexName(), ::testing::MatchesRegex("INTEG_[0-9]+"));
  // The table's name as written in its definition ("PRT_Params") finds the catalogue's rows.
  EXPECT_THAT(T().KeyName(), ::testing::MatchesRegex("RDB\\$PRIMARY[0-9]+"));
  EXPECT_EQ(T().GetfieldSize("pname"), 60);
  EXPECT_EQ(Sorted(T().GetUserPrivileges("ROLE_READER")), "RS");
  T().SetTableName("PRT_PARAMS");
  EXPECT_EQ(Sorted(T().GetUserPrivileges("ROLE_READER")), "RS");
  EXPECT_EQ(Sorted(T().GetUserPrivileges("ROLE_READER_WRITER")), "DIRSU");
  T().DenyAccess();
  EXPECT_EQ(T().GetUserPrivileges("ROLE_READER"), "");
  EXPECT_EQ(T().GetUserPrivileges("ROLE_READER_WRITER"), "");
  T().AllowAccess();
  EXPECT_EQ(Sorted(T().GetUserPrivileges("ROLE_READER_WRITER")), "DIRSU");
  EXPECT_EQ(Tr().Tag, 0);
  EXPECT_FALSE(Tr().Active());
}

TEST_F(TableManagerTest, CreateTableOnAnExistingTableDoesNothingUnlessAskedToFail) {
  T().CreateTable();
  T().AppendRecord({fb::Value::Text("liste")});
  T().SetFieldDefs({"other INTEGER"});
  T().CreateTable(false);
  EXPECT_TRUE(T().FindColumn("pname"));
  EXPECT_FALSE(T().FindColumn("other"));
  EXPECT_EQ(T().RecordCount(), 1);
  try {
    T().CreateTable(true);
    FAIL() << "no error";
  } catch (const DatabaseError& e) {
    EXPECT_THAT(e.what(), HasSubstr("PRT_PARAMS"));
  }
  EXPECT_EQ(Tr().Tag, 0);
  EXPECT_FALSE(Tr().Active());
  // On a new table CreateTable(false) creates it.
  auto other = Table("Other", {"id INTEGER"});
  other->CreateTable(false);
  EXPECT_TRUE(M().FindTable("OTHER"));
  other->DropTable();
  EXPECT_FALSE(M().FindTable("OTHER"));
}

TEST_F(TableManagerTest, RecordsAreAppendedFoundCountedAndDeleted) {
  auto table = Table("Pairs", {"a INTEGER NOT NULL *", "b VARCHAR(10) NOT NULL *", "c VARCHAR(10)",
                               "d COMPUTED BY (a + a) #"});
  table->CreateTable();
  table->AppendRecord({fb::Value::Integer(1), fb::Value::Text("x"), fb::Value::Text("first")});
  table->AppendRecord({fb::Value::Integer(2), fb::Value::Text("y")});
  EXPECT_EQ(table->RecordCount(), 2);
  EXPECT_THAT(ReadColumn(Db(), "SELECT COALESCE(c, 'null') || d FROM Pairs ORDER BY a"),
              ElementsAre("first2", "null4"));
  try {
    table->AppendRecord(
        {fb::Value::Integer(3), fb::Value::Text("z"), fb::Value::Text("c"), fb::Value::Integer(6)});
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "AppendRecord : count mismatch");
  }

  M().BeginNestedWork();
  EXPECT_TRUE(table->FindPK({fb::Value::Integer(1), fb::Value::Text("x")}));
  EXPECT_FALSE(table->FindPK({fb::Value::Integer(1), fb::Value::Text("y")}));
  try {
    table->FindPK({fb::Value::Integer(1)});
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "FindPK : count mismatch");
  }
  TIBQuery* row = table->QueryFindPrimaryKey();
  EXPECT_EQ(row->SQL, (Lines{"SELECT * FROM Pairs WHERE", "a = :p0", "AND b = :p1"}));
  row->ParamByName("p0").SetAsInteger(2);
  row->ParamByName("p1").SetAsString("y");
  row->Open();
  EXPECT_EQ(row->FieldByName("d").AsInteger(), 4);
  try {
    table->QueryFindPrimaryKey();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Query FWK is active");
  }
  row->Close();
  M().EndNestedWork();

  try {
    table->DeleteRecord({fb::Value::Integer(1)});
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "key mismatch");
  }
  table->DeleteRecord({fb::Value::Integer(1), fb::Value::Text("x")});
  EXPECT_EQ(table->RecordCount(), 1);
  table->EmptyTable();
  EXPECT_EQ(table->RecordCount(), 0);
  // The cached queries go back to the schema manager with the table manager.
  EXPECT_EQ(M().DatasetList().size(), 2u);
  table.reset();
  EXPECT_TRUE(M().DatasetList().empty());
}

TEST_F(TableManagerTest, FindPKReadsTheKeyLinesOfOneColumn) {
  T().CreateTable();
  T().AppendRecord({fb::Value::Text("etiquettes"), fb::Value::Text("Étiquettes")});
  M().BeginNestedWork();
  EXPECT_TRUE(T().FindPK({fb::Value::Text("etiquettes")}));
  EXPECT_FALSE(T().FindPK({fb::Value::Text("Etiquettes")}));
  M().EndNestedWork();
  const TIBDataSet* query = M().DatasetList().at(0);
  EXPECT_EQ(query->SQL, (Lines{"SELECT 'T' FROM RDB$DATABASE WHERE EXISTS", "(",
                               "SELECT 'T' FROM PRT_Params WHERE", "pname = :p0", ")"}));
}

TEST_F(TableManagerTest, CreateQueryNamesItsDatasetsAndGivesThemTransactions) {
  T().CreateTable();
  TIBQuery* first = T().CreateQuery(true);
  TIBQuery* second = T().CreateQuery(false);
  TIBQuery* third = T().CreateQuery(true, &Tr());
  EXPECT_EQ(first->Name, "PRT_Params_0000");
  EXPECT_EQ(second->Name, "PRT_Params_0001");
  EXPECT_EQ(third->Name, "PRT_Params_0002");
  EXPECT_EQ(third->Transaction(), &Tr());
  ASSERT_NE(first->Transaction(), &Tr());
  EXPECT_EQ(first->Transaction()->Params, (Lines{"concurrency", "nowait"}));
  EXPECT_EQ(first->Transaction()->DefaultDatabase(), &Db());
  EXPECT_TRUE(first->InsertSQL.empty());
  EXPECT_EQ(second->InsertSQL.front(), "INSERT INTO PRT_Params(");
  EXPECT_EQ(second->ModifySQL.front(), "UPDATE PRT_Params SET");
  EXPECT_EQ(second->DeleteSQL, (Lines{"DELETE FROM PRT_Params WHERE", "pname = :OLD_pname"}));
  EXPECT_TRUE(second->AfterPost);
  EXPECT_EQ(M().DatasetList().size(), 3u);
  EXPECT_EQ(M().TransactionList().size(), 2u);
  for (TIBQuery* query : {first, second, third}) T().FreeDataset(query);
  EXPECT_TRUE(M().DatasetList().empty());
  EXPECT_TRUE(M().TransactionList().empty());

  M().BeginNestedWork();
  try {
    T().CreateQuery(true);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "A transaction is active!");
  }
  M().EndNestedWork();
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(TableManagerTest, ADatasetLeftWithItsTransactionIsReportedTwice) {
  T().CreateTable();
  T().CreateQuery(true)->Name = "Left";
  c_->DatabaseManager.TransactionList().at(0)->Name = "LeftTransaction";
  table_.reset();
  c_.reset();
  ASSERT_EQ(ui_.Boxes().size(), 2u);
  EXPECT_EQ(ui_.Boxes()[0].caption, "Left");
  EXPECT_EQ(ui_.Boxes()[0].text, "DataSet NOT RELEASED !\r\n");
  EXPECT_EQ(ui_.Boxes()[1].caption, "LeftTransaction");
  EXPECT_EQ(ui_.Boxes()[1].text, "Transaction NOT RELEASED\r\n");
}

TEST_F(TableManagerTest, CreateDatasetOpensTheSelectWithItsValues) {
  T().CreateTable();
  for (const char* name : {"c", "a", "b"}) {
    T().AppendRecord({fb::Value::Text(name), fb::Value::Text(std::string("d") + name), fb::Value::Null(),
                      fb::Value::Null(), fb::Value::Integer(name[0] == 'c' ? 2 : 1)});
  }
  TIBQuery* query = T().CreateDataset({"pname", "d_text"}, "compat = :p0", fb::Value::Integer(1), true, true);
  EXPECT_TRUE(query->UniDirectional);
  std::vector<std::string> names;
  for (; !query->Eof(); query->Next()) names.push_back(query->FieldByName("pname").AsString());
  EXPECT_THAT(names, ElementsAre("a", "b"));
  T().FreeDataset(query);
  // A failing select frees its dataset.
  EXPECT_THROW(T().CreateDataset({"nothing"}, "", {}, true, false), DatabaseError);
  EXPECT_TRUE(M().DatasetList().empty());
  EXPECT_TRUE(M().TransactionList().empty());
}

TEST_F(TableManagerTest, ExecuteSQLBindsNothingOneValueOrAnArray) {
  T().CreateTable();
  T().ExecuteSQL("INSERT INTO PRT_Params (pname) VALUES ('none')");
  T().ExecuteSQL("INSERT INTO PRT_Params (pname) VALUES (:p0)", fb::Value::Text("one"));
  T().ExecuteSQL("INSERT INTO PRT_Params (pname, compat) VALUES (:p0, :p1)",
                 TVariantList{fb::Value::Text("two"), fb::Value::Integer(2)});
  EXPECT_THAT(
      ReadColumn(
          Db(),
          "SELECT pname || '/' || COALESCE(CAST(compat AS VARCHAR(10)), '-') FROM PRT_Params ORDER BY pname"),
      ElementsAre("none/-", "one/-", "two/2"));
  // The statement of the writable rows, on the bound transaction.
  TIBSQL& append = T().SQLAppend();
  EXPECT_EQ(append.SQL.back(), "VALUES (:pname, :d_text, :f_text, :i_text, :compat, :print_params)");
  EXPECT_EQ(append.Transaction(), &Tr());
  M().BeginNestedWork();
  append.ParamByName("pname").SetAsString("appended");
  append.ExecQuery();
  TIBSQL& update = T().SQLUpdate();
  update.ParamByName("OLD_pname").SetAsString("appended");
  update.ParamByName("compat").SetAsInteger(9);
  update.ExecQuery();
  M().EndNestedWork();
  EXPECT_THAT(ReadColumn(Db(), "SELECT compat FROM PRT_Params WHERE pname = 'appended'"), ElementsAre("9"));
}

TEST_F(TableManagerTest, ColumnsAreAddedFoundAndDropped) {
  T().CreateTable();
  EXPECT_FALSE(T().AddColumn("extra", "VARCHAR(5)", false));
  EXPECT_TRUE(T().FindColumn("EXTRA"));
  EXPECT_TRUE(T().AddColumn("extra", "INTEGER", false)) << "an existing column is left alone";
  EXPECT_EQ(T().GetfieldType("extra"), "VARYING");
  EXPECT_THROW(T().AddColumn("extra", "INTEGER", true), DatabaseError);
  T().DropColumn("extra", false);
  EXPECT_FALSE(T().FindColumn("extra"));
  T().DropColumn("extra", false);
  EXPECT_THROW(T().DropColumn("extra", true), DatabaseError);
  EXPECT_EQ(Tr().Tag, 0);
}

TEST_F(TableManagerTest, FieldSizesAndTypesComeFromTheCatalogue) {
  T().CreateTable();
  EXPECT_EQ(T().GetfieldSize("d_text"), 90);
  EXPECT_EQ(T().GetfieldType("compat"), "LONG");
  EXPECT_EQ(T().GetfieldType("PNAME"), "VARYING");
  for (const auto& [operation, text] : std::vector<std::pair<std::function<void()>, std::string>>{
           {[&] { T().GetfieldSize("nothing"); }, "0406291509"},
           {[&] { T().GetfieldType("nothing"); }, "0406291619"}}) {
    try {
      operation();
      ADD_FAILURE() << "no error for " << text;
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), text);
    }
  }
  EXPECT_TRUE(M().DatasetList().empty());
  EXPECT_EQ(Tr().Tag, 0);
  T().ChangeVarCharFieldLength("d_text", 120);
  EXPECT_EQ(T().GetfieldSize("d_text"), 120);
}

TEST_F(TableManagerTest, EnlargeStringFieldMovesTheValuesToTheNewColumn) {
  auto table = Table("Notes", {"id INTEGER NOT NULL *", "note VARCHAR(10)"});
  table->CreateTable();
  table->AppendRecord({fb::Value::Integer(1), fb::Value::Text("court")});
  table->EnlargeStringField("note", "note_long", 200);
  EXPECT_FALSE(table->FindColumn("note"));
  EXPECT_EQ(table->GetfieldSize("note_long"), 200);
  EXPECT_THAT(ReadColumn(Db(), "SELECT note_long FROM Notes"), ElementsAre("court"));
  // Run again: nothing left to do.
  table->EnlargeStringField("note", "note_long", 200);
  EXPECT_THAT(ReadColumn(Db(), "SELECT note_long FROM Notes"), ElementsAre("court"));
}

TEST_F(TableManagerTest, EnlargeStringFieldIntoTheSameColumnIsRefusedAndKeepsItsValues) {
  auto table = Table("Notes", {"id INTEGER NOT NULL *", "note VARCHAR(10)"});
  table->CreateTable();
  table->AppendRecord({fb::Value::Integer(1), fb::Value::Text("court")});
  for (const char* newName : {"note", "NOTE"}) {
    try {
      table->EnlargeStringField("note", newName, 200);
      ADD_FAILURE() << "no error for " << newName;
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(),
                   "EnlargeStringField: Notes note : la nouvelle colonne doit porter un autre nom que l'ancienne.");
    }
  }
  EXPECT_EQ(table->GetfieldSize("note"), 10);
  EXPECT_THAT(ReadColumn(Db(), "SELECT note FROM Notes"), ElementsAre("court"));
  EXPECT_EQ(Tr().Tag, 0);
}

class ConvertTest : public TableManagerTest {
 protected:
  void SetUp() override {
    TableManagerTest::SetUp();
    table_ = Table("Codes", {"id INTEGER NOT NULL *", "code VARCHAR(10)"});
    table_->CreateTable();
    table_->AppendRecord({fb::Value::Integer(1), fb::Value::Text("12")});
    table_->AppendRecord({fb::Value::Integer(2), fb::Value::Text("345")});
  }

  void ExpectConverted() {
    EXPECT_EQ(table_->GetfieldType("code"), "LONG");
    EXPECT_FALSE(table_->FindColumn("code_tmp"));
    EXPECT_THAT(ReadColumn(Db(), "SELECT code + 1 FROM Codes ORDER BY id"), ElementsAre("13", "346"));
    EXPECT_EQ(Tr().Tag, 0);
  }
};

TEST_F(ConvertTest, AFullConversion) {
  table_->ConvertVarCharFieldToInteger("code", "code_tmp");
  ExpectConverted();
  // Already converted: nothing happens.
  table_->ConvertVarCharFieldToInteger("code", "code_tmp");
  ExpectConverted();
}

TEST_F(ConvertTest, ResumedAfterAnInterruptionBetweenDroppingAndAddingTheColumn) {
  // Steps A, B and C of an earlier run.
  table_->AddColumn("code_tmp", "Integer", true);
  table_->ExecuteSQL("UPDATE Codes SET code_tmp = CAST(code AS Integer)");
  table_->DropColumn("code", false);
  table_->ConvertVarCharFieldToInteger("code", "code_tmp");
  ExpectConverted();
}

TEST_F(ConvertTest, ResumedAfterAnInterruptionOfTheCopyBack) {
  table_->AddColumn("code_tmp", "Integer", true);
  table_->ExecuteSQL("UPDATE Codes SET code_tmp = CAST(code AS Integer)");
  table_->DropColumn("code", false);
  table_->AddColumn("code", "Integer", true);
  table_->ConvertVarCharFieldToInteger("code", "code_tmp");
  ExpectConverted();
}

TEST_F(ConvertTest, ATemporaryColumnOfAnotherTypeIsDroppedFirst) {
  table_->AddColumn("code_tmp", "VARCHAR(3)", true);
  table_->ConvertVarCharFieldToInteger("code", "code_tmp");
  ExpectConverted();
}

TEST_F(ConvertTest, NeitherColumnIsAnError) {
  try {
    table_->ConvertVarCharFieldToInteger("nothing", "nothing_tmp");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "0406291613:Codes nothing");
  }
}

TEST_F(TableManagerTest, IndexesAndReferenceConstraints) {
  auto parents = Table("Parents", {"id INTEGER NOT NULL *"});
  auto children = Table("Children", {"id INTEGER NOT NULL *", "parent INTEGER", "name VARCHAR(10)"});
  parents->CreateTable();
  children->CreateTable();
  children->CreateIndex("IX_Children_Name", {"name", "id"}, true);
  children->CreateDescendingIndex("IX_Children_Desc", {"name"}, false);
  EXPECT_TRUE(M().FindIndex("IX_CHILDREN_NAME"));
  EXPECT_THAT(
      ReadColumn(
          Db(),
          "SELECT COALESCE(rdb$unique_flag, 0) || '/' || COALESCE(rdb$index_type, 0) FROM rdb$indices WHERE "
          "rdb$index_name IN ('IX_CHILDREN_NAME', 'IX_CHILDREN_DESC') ORDER BY rdb$index_name"),
      ElementsAre("0/1", "1/0"));
  try {
    children->CreateReferenceConstraint("FK_Bad", {"parent"}, "Parents", {"id"},
                                        DeleteSetNull | DeleteCascade);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Incompatible delete options");
  }
  children->CreateReferenceConstraint("FK_Parent", {"parent"}, "Parents", {"id"},
                                      DeleteCascade | UpdateCascade);
  EXPECT_THAT(ReadColumn(Db(),
                         "SELECT TRIM(rdb$update_rule) || '/' || TRIM(rdb$delete_rule) FROM "
                         "rdb$ref_constraints WHERE rdb$constraint_name = 'FK_PARENT'"),
              ElementsAre("CASCADE/CASCADE"));
  parents->AppendRecord({fb::Value::Integer(1)});
  children->AppendRecord({fb::Value::Integer(10), fb::Value::Integer(1), fb::Value::Text("a")});
  parents->DeleteRecord({fb::Value::Integer(1)});
  EXPECT_EQ(children->RecordCount(), 0);

  auto others = Table("Others",
                       {"id INTEGER NOT NULL *", "p1 INTEGER", "p2 INTEGER", "p3 INTEGER", "p4 INTEGER"});
  others->CreateTable();
  others->CreateReferenceConstraint2("FK_1", {"p1"}, "Parents", {"id"});
  others->CreateReferenceConstraintCascadeSetNull("FK_2", {"p2"}, "Parents", {"id"});
  others->CreateReferenceConstraintCascadeDelete("FK_3", {"p3"}, "Parents", {"id"});
  others->CreateReferenceConstraint("FK_4", {"p4"}, "Parents", {"id"}, DeleteSetNull);
  EXPECT_THAT(ReadColumn(Db(),
                         "SELECT TRIM(rdb$constraint_name) || '/' || TRIM(rdb$update_rule) || '/' || "
                         "TRIM(rdb$delete_rule) FROM rdb$ref_constraints WHERE rdb$constraint_name IN "
                         "('FK_1', 'FK_2', 'FK_3', 'FK_4') ORDER BY 1"),
              ElementsAre("FK_1/RESTRICT/RESTRICT", "FK_2/RESTRICT/SET NULL", "FK_3/RESTRICT/CASCADE",
                          "FK_4/RESTRICT/SET NULL"));
}

TEST_F(TableManagerTest, TheConstraintIndexCacheAsksTheCatalogueOnce) {
  auto table = Table("Keys", {"id INTEGER NOT NULL", "code INTEGER NOT NULL"});
  table->CreateTable();
  table->ExecuteSQL("ALTER TABLE Keys ADD CONSTRAINT UQ_CODE UNIQUE (code) USING INDEX IX_UQ_CODE");
  EXPECT_EQ(table->GetConstraintIndexName("UQ_CODE"), "IX_UQ_CODE");
  // The catalogue no longer knows it: the second answer comes from the cache.
  table->ExecuteSQL("ALTER TABLE Keys DROP CONSTRAINT UQ_CODE");
  EXPECT_EQ(table->GetConstraintIndexName("UQ_CODE"), "IX_UQ_CODE");
  auto fresh = Table("Keys", {});
  try {
    fresh->GetConstraintIndexName("UQ_CODE");
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "TDatabaseManager.GetConstraintIndexName");
  }
}

TEST_F(TableManagerTest, KeyNameIsReadOnceAndKept) {
  T().SetTableName("PRT_PARAMS");
  T().CreateTable();
  const std::string key = T().KeyName();
  EXPECT_THAT(key, ::testing::MatchesRegex("RDB\\$PRIMARY[0-9]+"));
  T().ExecuteSQL("ALTER TABLE PRT_PARAMS DROP CONSTRAINT " + T().GetPrimaryIndexName());
  EXPECT_EQ(T().KeyName(), key);
}

TEST_F(TableManagerTest, AFreedSchemaManagerIsForgotten) {
  table_->SetTableName("T");
  c_.reset();
  EXPECT_EQ(T().DatabaseManager(), nullptr);
  try {
    T().CreateTable();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "no database! (1)");
  }
}

}  // namespace
}  // namespace kv::test
