// The connection module's maintenance services and command scripts over TCP/IP, against the
// loopback server (fixture "loopback_server"): "127.0.0.1:" + a Windows-form path that the server
// resolves through its aliases, the services reached as "127.0.0.1:service_mgr".
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/KorvaneLogon.h"
#include "db/dmDBConnectionUnit.h"
#include "platform/InstallTools2.h"
#include "platform/Win32.h"
#include "tests/support/FirebirdRoot.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr const char* kIdentifier = "TS_Test";
constexpr std::int32_t kVersion = 2;

template <typename Action>
std::string ErrorOf(Action&& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

std::string Joined(const Lines& lines) {
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all;
}

// A Windows-form path of its own for each database a test makes.
std::string NewWindowsPath() {
  static std::atomic<int> counter{0};
  return "C:\\Data\\M" + std::to_string(getpid()) + "_" + std::to_string(counter++) + ".FDB";
}

class MaintenanceLoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoopbackServer::IsRunning()) << "the fixture starts the server";
    UseTestFirebirdRoot();
    prefix_.SetSystem("user", "user1");
    prefix_.SetSystem("computer", "PC07");
    LoopbackServer::SetFreeSpace('C', 10000000000LL);
    const std::string windowsPath = NewWindowsPath();
    LoopbackServer::AddAlias(windowsPath, dir_.Path() / "base.fdb");
    address_ = LoopbackServer::Address(windowsPath);
    auto maker = NewModule(KorvaneUserName, KorvaneRole, KorvanePassword);
    maker->CreateDatabase();
    maker->DatabaseManager->ExecuteSQL("CREATE TABLE T (I INTEGER, U VARCHAR(31))");
    maker->DatabaseManager->ExecuteSQL("GRANT ALL ON T TO PUBLIC");
    maker->Disconnect();
    module_ = NewModule("PUBLIC_READER_WRITER", "ROLE_READER_WRITER", "tarpon");
  }
  void TearDown() override {
    module_.reset();
    try {
      auto maker = NewModule(KorvaneUserName, KorvaneRole, KorvanePassword);
      maker->DatabaseManager->Connect();
      maker->DropDatabase();
    } catch (...) {
      // The folder goes anyway.
    }
    LoopbackServer::SetFreeSpace('C', std::nullopt);
  }

  std::unique_ptr<TdmDBConnection> NewModule(const std::string& user, const std::string& role,
                                             const std::string& password) {
    auto module = std::make_unique<TdmDBConnection>();
    module->Init(kVersion, kIdentifier, "Base de test", "Updater");
    module->SetParams(address_, user, role, password);
    module->DatabaseManager->Pause = [](int) {};
    return module;
  }

  // The values of a column, read on an attachment of the maker's user.
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

  TempPrefix prefix_;
  ScriptedUi ui_;
  // The server runs as the user of the tests and writes the database and its backups there.
  TempDir dir_;
  std::string address_;
  std::unique_ptr<TdmDBConnection> module_;
};

TEST_F(MaintenanceLoopbackTest, BackupIsWrittenByTheServerAtItsOwnPath) {
  const fs::path backup = dir_.Path() / "base.fbk";
  Lines errors = {"an old error"};
  Lines seen;
  module_->DoBackup(
      backup.string(), [&](TComponent*, const std::string& AStr) { seen.push_back(AStr); }, errors);
  EXPECT_TRUE(errors.empty());
  EXPECT_NE(Joined(seen).find("writing data for table T"), std::string::npos) << Joined(seen);
  EXPECT_TRUE(fs::exists(backup));
  EXPECT_GT(fs::file_size(backup), 0u);
  EXPECT_EQ(module_->IBBS->Protocol, TProtocol::TCP);
  EXPECT_EQ(module_->IBBS->ServerName, "127.0.0.1");
  EXPECT_FALSE(module_->IBBS->Active());
}

TEST_F(MaintenanceLoopbackTest, PropertiesAndSweepOverTcp) {
  // Read back through the server's monitoring table: its header statistics do not resolve the
  // Windows-form aliases of this Linux server.
  module_->SetForcedWrites(false);
  module_->SetSweepInterval(777);
  EXPECT_EQ(Column("SELECT MON$FORCED_WRITES FROM MON$DATABASE"), Lines{"0"});
  EXPECT_EQ(Column("SELECT MON$SWEEP_INTERVAL FROM MON$DATABASE"), Lines{"777"});
  module_->SetForcedWrites(true);
  EXPECT_EQ(Column("SELECT MON$FORCED_WRITES FROM MON$DATABASE"), Lines{"1"});
  const long before = std::stol(Column("SELECT MON$NEXT_TRANSACTION FROM MON$DATABASE").at(0));
  Lines lines = {"left from before"};
  module_->SweepDatabase(lines);
  EXPECT_TRUE(lines.empty()) << Joined(lines);
  // The reader's own transaction and the sweep's.
  EXPECT_GE(std::stol(Column("SELECT MON$NEXT_TRANSACTION FROM MON$DATABASE").at(0)), before + 2);
  EXPECT_FALSE(module_->IBValidationService->Active());
  EXPECT_FALSE(module_->IBConfigService->Active());
}

TEST_F(MaintenanceLoopbackTest, AStoppedServerFailsTheServiceAndLeavesItDetached) {
  StoppedLoopbackServer stopped;
  Lines errors;
  const std::string error =
      ErrorOf([&] { module_->DoBackup((dir_.Path() / "x.fbk").string(), nullptr, errors); });
  EXPECT_NE(error.find("Unable to complete network request to host"), std::string::npos) << error;
  EXPECT_FALSE(module_->IBBS->Active());
  EXPECT_NE(ErrorOf([&] { module_->SetForcedWrites(false); }), "(no exception)");
  EXPECT_FALSE(module_->IBConfigService->Active());
}

TEST_F(MaintenanceLoopbackTest, ScriptsRunAsTheMakersUserAndGiveTheCredentialsBack) {
  module_->Connect();
  module_->ExecuteCommands({"STARTSQL", "INSERT INTO T (I, U) VALUES (1, CURRENT_USER)", "ENDSQL", "STARTSQL",
                            "INSERT INTO T (I, U) VALUES (2, CURRENT_USER)", "ENDSQL"},
                           kIdentifier, kVersion, kVersion);
  EXPECT_FALSE(module_->Connected());
  EXPECT_EQ(module_->DatabaseManager->UserName(), "PUBLIC_READER_WRITER");
  EXPECT_EQ(module_->DatabaseManager->Role(), "ROLE_READER_WRITER");
  EXPECT_EQ(module_->DatabaseManager->Password(), "tarpon");
  EXPECT_EQ(Column("SELECT U FROM T ORDER BY I"), (Lines{"KORVANE", "KORVANE"}));
  // A failing script leaves nothing behind on the server either.
  module_->Connect();
  EXPECT_NE(ErrorOf([&] {
              module_->ExecuteCommands(
                  {"STARTSQL", "DELETE FROM T", "ENDSQL", "STARTSQL", "DELETE FROM MISSING", "ENDSQL"},
                  kIdentifier, kVersion, kVersion);
            }).find("MISSING"),
            std::string::npos);
  EXPECT_EQ(Column("SELECT I FROM T ORDER BY I"), (Lines{"1", "2"}));
}

TEST_F(MaintenanceLoopbackTest, StatisticsAndServerFunctionVersionAsTheUser) {
  module_->Connect();
  module_->SetStatistics();
  EXPECT_TRUE(module_->Connected());
  EXPECT_EQ(module_->DatabaseManager->UserName(), "PUBLIC_READER_WRITER");
  std::uint16_t v1 = 0, v2 = 0, v3 = 0, v4 = 0;
  ASSERT_TRUE(TWindowsInstaller::GetFileVersion(win::GetModuleFileName(), v1, v2, v3, v4));
  EXPECT_EQ(module_->GetUDFVersion(), v1 * 1000000 + v2 * 10000 + v3 * 100 + v4);
}

TEST_F(MaintenanceLoopbackTest, TheMakersPasswordIsWhatTheServicesLogOnWith) {
  // The caller's own credentials play no part: a wrong password of the caller changes nothing.
  module_->SetParams(address_, "PUBLIC_READER", "", "wrong password");
  module_->SetSweepInterval(321);
  EXPECT_EQ(Column("SELECT MON$SWEEP_INTERVAL FROM MON$DATABASE"), Lines{"321"});
  EXPECT_EQ(module_->IBConfigService->Params,
            (Lines{"user_name=KORVANE", std::string("password=") + KorvanePassword}));
}

}  // namespace
}  // namespace kv::test
