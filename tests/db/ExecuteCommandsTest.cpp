// Command scripts through the connection module on the embedded engine: the identifier and version
// guard, the markers, one transaction for the whole script, and the caller's credentials given
// back. One new product database per test.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/KorvaneLogon.h"
#include "db/client/DatabaseError.h"
#include "db/dmDBConnectionUnit.h"
#include "platform/host/Prefix.h"
#include "tests/support/FirebirdRoot.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr const char* kIdentifier = "TS_Test";
constexpr std::int32_t kVersion = 2;
constexpr const char* kPath = "C:\\Data\\SOC.FDB";
constexpr const char* kNotForThisDatabase = "Les commandes ne sont pas destinées à cette base de données!";
constexpr const char* kTooOld = "La base de données n'est pas à jour pour exécuter ces commandes!";
constexpr const char* kObsolete = "Ces commandes sont obsolètes!";

template <typename Action>
std::string ErrorOf(Action&& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

std::unique_ptr<TdmDBConnection> NewModule(const std::string& user, const std::string& role,
                                           const std::string& password) {
  auto module = std::make_unique<TdmDBConnection>();
  module->Init(kVersion, kIdentifier, "Base de test", "Updater");
  module->SetParams(kPath, user, role, password);
  module->DatabaseManager->Pause = [](int) {};
  return module;
}

class ExecuteCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::UseTestFirebirdRoot();
    prefix_.SetSystem("user", "user1");
    prefix_.SetSystem("computer", "PC07");
    host::Prefix::Current().SetIni("udf", "free_space_C", "10000000000");
    fs::create_directories(prefix_.Host("C:\\Data"));
    auto maker = NewModule(KorvaneUserName, KorvaneRole, KorvanePassword);
    maker->CreateDatabase();
    maker->DatabaseManager->ExecuteSQL("CREATE TABLE T (I INTEGER, U VARCHAR(31))");
    maker->DatabaseManager->ExecuteSQL("GRANT ALL ON T TO PUBLIC");
    maker->Disconnect();
    // The caller works as the public reader-writer.
    module_ = NewModule("PUBLIC_READER_WRITER", "ROLE_READER_WRITER", "tarpon");
    module_->Connect();
  }
  void TearDown() override {
    module_.reset();
    try {
      auto maker = NewModule(KorvaneUserName, KorvaneRole, KorvanePassword);
      maker->DatabaseManager->Connect();
      maker->DropDatabase();
    } catch (...) {
      // The prefix goes anyway.
    }
  }

  // The values of a column, read on an attachment of its own.
  Lines Column(const std::string& sql) {
    auto reader = NewModule(KorvaneUserName, KorvaneRole, KorvanePassword);
    reader->DatabaseManager->Connect();
    Lines values;
    reader->DoStartTransaction(false);
    reader->GeneralQuery->SQL = {sql};
    for (reader->GeneralQuery->Open(); !reader->GeneralQuery->Eof(); reader->GeneralQuery->Next())
      values.push_back(reader->GeneralQuery->Fields(0).AsString());
    reader->GeneralQuery->Close();
    reader->DoCommit();
    reader->ClearAllConnections();
    return values;
  }
  Lines Rows() { return Column("SELECT I FROM T ORDER BY I"); }

  // The caller's credentials are back, the module disconnected.
  void ExpectGivenBack() {
    EXPECT_FALSE(module_->Connected());
    EXPECT_EQ(module_->DatabaseManager->ConnectionString(), kPath);
    EXPECT_EQ(module_->DatabaseManager->UserName(), "PUBLIC_READER_WRITER");
    EXPECT_EQ(module_->DatabaseManager->Role(), "ROLE_READER_WRITER");
    EXPECT_EQ(module_->DatabaseManager->Password(), "tarpon");
    EXPECT_EQ(module_->TransactionState(), "0");
    EXPECT_TRUE(module_->IBSQL->ParamCheck);
  }

  test::TempPrefix prefix_;
  test::ScriptedUi ui_;
  std::unique_ptr<TdmDBConnection> module_;
};

TEST_F(ExecuteCommandsTest, AnEmptyScriptEndsDisconnectedWithTheCallersCredentials) {
  module_->ExecuteCommands({}, kIdentifier, kVersion, kVersion);
  ExpectGivenBack();
  EXPECT_TRUE(Rows().empty());
  // The caller connects again.
  module_->Connect();
  EXPECT_TRUE(module_->Connected());
}

TEST_F(ExecuteCommandsTest, StatementsRunAsTheMakersUser) {
  module_->ExecuteCommands({"STARTSQL", "INSERT INTO T (I, U)", "VALUES (1, CURRENT_USER)", "ENDSQL"},
                           kIdentifier, kVersion, kVersion);
  ExpectGivenBack();
  EXPECT_EQ(Column("SELECT U FROM T"), Lines{"KORVANE"});
}

struct GuardCase {
  const char* name;
  std::string identifier;
  std::int32_t Vmin;
  std::int32_t Vmax;
  std::string expected;  // empty: the script runs
};

class ExecuteCommandsGuard : public ExecuteCommandsTest, public ::testing::WithParamInterface<GuardCase> {};

TEST_P(ExecuteCommandsGuard, RunsOnlyOnTheIntendedDatabaseAndVersions) {
  const GuardCase& c = GetParam();
  const std::string error = ErrorOf([&] {
    module_->ExecuteCommands({"STARTSQL", "INSERT INTO T (I) VALUES (1)", "ENDSQL"}, c.identifier, c.Vmin,
                             c.Vmax);
  });
  if (c.expected.empty()) {
    EXPECT_EQ(error, "(no exception)");
    EXPECT_EQ(Rows(), Lines{"1"});
    ExpectGivenBack();
  } else {
    EXPECT_EQ(error, c.expected);
    EXPECT_TRUE(Rows().empty());
    // A refused script changes nothing: still attached as the caller.
    EXPECT_TRUE(module_->Connected());
    EXPECT_EQ(module_->DatabaseManager->UserName(), "PUBLIC_READER_WRITER");
    EXPECT_EQ(module_->DatabaseManager->Role(), "ROLE_READER_WRITER");
    EXPECT_EQ(module_->TransactionState(), "0");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, ExecuteCommandsGuard,
    ::testing::Values(GuardCase{"TheVersionItself", kIdentifier, kVersion, kVersion, ""},
                      GuardCase{"ARangeAroundIt", kIdentifier, kVersion - 1, kVersion + 1, ""},
                      GuardCase{"VminOneAbove", kIdentifier, kVersion + 1, kVersion + 5, kTooOld},
                      GuardCase{"VmaxOneBelow", kIdentifier, 0, kVersion - 1, kObsolete},
                      GuardCase{"AnotherIdentifier", "TS_Adresses", kVersion, kVersion, kNotForThisDatabase},
                      GuardCase{"IdentifierInOtherCase", "ts_test", kVersion, kVersion, kNotForThisDatabase}),
    [](const ::testing::TestParamInfo<GuardCase>& info) { return std::string(info.param.name); });

struct MarkerCase {
  const char* name;
  Lines script;
  Lines rows;
};

class ExecuteCommandsMarkers : public ExecuteCommandsTest,
                               public ::testing::WithParamInterface<MarkerCase> {};

TEST_P(ExecuteCommandsMarkers, RunExactlyTheMarkedStatements) {
  module_->ExecuteCommands(GetParam().script, kIdentifier, kVersion, kVersion);
  EXPECT_EQ(Rows(), GetParam().rows);
  ExpectGivenBack();
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, ExecuteCommandsMarkers,
    ::testing::Values(MarkerCase{"TwoStartsInARowDiscardTheFirstStatement",
                                 {"STARTSQL", "INSERT INTO T (I) VALUES (1)", "STARTSQL",
                                  "INSERT INTO T (I) VALUES (2)", "ENDSQL"},
                                 {"2"}},
                      MarkerCase{"ALastBlockWithoutEndIsNeverRun",
                                 {"STARTSQL", "INSERT INTO T (I) VALUES (1)", "ENDSQL", "STARTSQL",
                                  "INSERT INTO T (I) VALUES (2)"},
                                 {"1"}},
                      MarkerCase{"EndTwiceRunsTheStatementTwice",
                                 {"STARTSQL", "INSERT INTO T (I) VALUES (3)", "ENDSQL", "ENDSQL"},
                                 {"3", "3"}},
                      MarkerCase{"StatementsOverSeveralLinesAndEmptyLines",
                                 {"", "STARTSQL", "INSERT INTO T (I)", "", "VALUES (4)", "ENDSQL", "",
                                  "STARTSQL", "UPDATE T SET I = I + 1", "ENDSQL"},
                                 {"5"}}),
    [](const ::testing::TestParamInfo<MarkerCase>& info) { return std::string(info.param.name); });

TEST_F(ExecuteCommandsTest, ABlankBeforeStartsqlMakesItSqlText) {
  const Lines script = {"STARTSQL",  "INSERT INTO T (I) VALUES (1)", "ENDSQL",
                        " STARTSQL", "INSERT INTO T (I) VALUES (2)", "ENDSQL"};
  // The second statement is the first one followed by " STARTSQL" and another INSERT: the server
  // refuses it, and the whole script is rolled back.
  try {
    module_->ExecuteCommands(script, kIdentifier, kVersion, kVersion);
    ADD_FAILURE() << "the script ran";
  } catch (const DatabaseError& e) {
    EXPECT_EQ(e.SQLCode(), -104) << e.what();
    EXPECT_NE(std::string(e.what()).find("STARTSQL"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(Rows().empty());
  ExpectGivenBack();
}

TEST_F(ExecuteCommandsTest, WhenTheThirdOfFiveStatementsFailsNoneRemainsApplied) {
  const Lines script = {"STARTSQL",
                        "INSERT INTO T (I) VALUES (1)",
                        "ENDSQL",
                        "STARTSQL",
                        "INSERT INTO T (I) VALUES (2)",
                        "ENDSQL",
                        "STARTSQL",
                        "INSERT INTO MISSING_TABLE (I) VALUES (3)",
                        "ENDSQL",
                        "STARTSQL",
                        "INSERT INTO T (I) VALUES (4)",
                        "ENDSQL",
                        "STARTSQL",
                        "INSERT INTO T (I) VALUES (5)",
                        "ENDSQL"};
  try {
    module_->ExecuteCommands(script, kIdentifier, kVersion, kVersion);
    ADD_FAILURE() << "the script ran";
  } catch (const DatabaseError& e) {
    EXPECT_EQ(e.SQLCode(), -204) << e.what();
    EXPECT_EQ(e.EngineCode(), 335544569) << e.what();
    EXPECT_NE(std::string(e.what()).find("MISSING_TABLE"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(Rows().empty());
  ExpectGivenBack();
}

TEST_F(ExecuteCommandsTest, AFailureGoesToTheExceptionMessageHandlerWhenOneIsSet) {
  std::vector<int> codes;
  module_->SetExceptionMessageHandler(
      [&](int SQLCode, int, const std::string&) { codes.push_back(SQLCode); });
  module_->ExecuteCommands({"STARTSQL", "INSERT INTO T (I) VALUES (1)", "ENDSQL", "STARTSQL",
                            "INSERT INTO MISSING_TABLE (I) VALUES (2)", "ENDSQL"},
                           kIdentifier, kVersion, kVersion);
  EXPECT_EQ(codes, std::vector<int>{-204});
  EXPECT_TRUE(Rows().empty());
  ExpectGivenBack();
}

TEST_F(ExecuteCommandsTest, ProcedureBodiesKeepTheirVariables) {
  module_->ExecuteCommands(
      {"STARTSQL", "CREATE PROCEDURE ADD_ROW (N INTEGER)", "AS", "BEGIN", "  INSERT INTO T (I) VALUES (:N);",
       "END", "ENDSQL", "STARTSQL", "GRANT EXECUTE ON PROCEDURE ADD_ROW TO PUBLIC", "ENDSQL"},
      kIdentifier, kVersion, kVersion);
  ExpectGivenBack();
  module_->Connect();
  module_->ExecuteCommands({"STARTSQL", "EXECUTE PROCEDURE ADD_ROW (7)", "ENDSQL"}, kIdentifier, kVersion,
                           kVersion);
  EXPECT_EQ(Rows(), Lines{"7"});
}

TEST_F(ExecuteCommandsTest, WithoutAnAttachmentNothingRuns) {
  module_->Disconnect();
  EXPECT_EQ(ErrorOf([&] {
              module_->ExecuteCommands({"STARTSQL", "INSERT INTO T (I) VALUES (1)", "ENDSQL"}, kIdentifier,
                                       kVersion, kVersion);
            }),
            "La base de données n'est pas ouverte.");
  EXPECT_TRUE(Rows().empty());
  ExpectGivenBack();
}

}  // namespace
}  // namespace kv
