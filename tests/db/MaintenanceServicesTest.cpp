// The connection module's maintenance services on the embedded engine: one new product database
// per test, made by the module itself in a prefix of its own, message boxes answered by a script.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/KorvaneLogon.h"
#include "db/dmDBConnectionUnit.h"
#include "platform/InstallTools2.h"
#include "platform/Win32.h"
#include "platform/host/Prefix.h"
#include "tests/support/FirebirdRoot.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::ScriptedUi;
using test::TempPrefix;

constexpr const char* kIdentifier = "TS_Test";
constexpr std::int32_t kVersion = 2;
constexpr const char* kPath = "C:\\Data\\SOC.FDB";

// The message of the exception that `action` raises, or "(no exception)".
template <typename Action>
std::string ErrorOf(Action&& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no exception)";
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all;
}

// A module initialised for the test database, holding the given credentials.
std::unique_ptr<TdmDBConnection> NewModule(const std::string& connectionString, const std::string& user,
                                           const std::string& role, const std::string& password) {
  auto module = std::make_unique<TdmDBConnection>();
  module->Init(kVersion, kIdentifier, "Base de test", "Updater");
  module->SetParams(connectionString, user, role, password);
  module->DatabaseManager->Pause = [](int) {};
  return module;
}

// A module that holds a connection string it never attaches to.
std::unique_ptr<TdmDBConnection> ModuleFor(const std::string& connectionString) {
  return NewModule(connectionString, "user1", "", "secret");
}

// --- Without a database --------------------------------------------------------------------------

struct BaseFilenameCase {
  std::string connectionString;
  std::string expected;
};

class GetBaseFilename : public ::testing::TestWithParam<BaseFilenameCase> {};

TEST_P(GetBaseFilename, IsWhatFollowsTheLastSeparator) {
  TempPrefix prefix;
  EXPECT_EQ(ModuleFor(GetParam().connectionString)->GetBaseFilename(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(ConnectionStrings, GetBaseFilename,
                         ::testing::Values(BaseFilenameCase{"C:\\data\\a.fdb", "a.fdb"},
                                           BaseFilenameCase{"srv:/opt/db/a.fdb", "a.fdb"},
                                           BaseFilenameCase{"a.fdb", "a.fdb"},
                                           BaseFilenameCase{"C:\\data\\", ""},
                                           BaseFilenameCase{"srv:C:\\data\\a.fdb", "a.fdb"},
                                           BaseFilenameCase{"srv:alias", "alias"},
                                           BaseFilenameCase{"\\\\srv\\data\\société.fdb", "société.fdb"},
                                           BaseFilenameCase{"", ""}));

// Every service operation refuses the connection kinds it cannot aim at, with its own code, before
// any server is contacted.
struct RefusalCase {
  const char* name;
  std::string connectionString;
  std::string expected;
  void (*operation)(TdmDBConnection& module);
};

class ServiceRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ServiceRefusal, RaisesTheOperationsCodeBeforeContactingAnyServer) {
  TempPrefix prefix;
  ScriptedUi ui;
  auto module = ModuleFor(GetParam().connectionString);
  bool outputRead = false;
  module->ServiceOutputReader = [&](TIBControlService&, std::string&) { return outputRead = true, false; };
  EXPECT_EQ(ErrorOf([&] { GetParam().operation(*module); }), GetParam().expected);
  EXPECT_FALSE(outputRead);
  for (TIBCustomService* service : {static_cast<TIBCustomService*>(module->IBBS.get()),
                                    static_cast<TIBCustomService*>(module->IBConfigService.get()),
                                    static_cast<TIBCustomService*>(module->IBValidationService.get()),
                                    static_cast<TIBCustomService*>(module->IBStatisticalService.get())})
    EXPECT_FALSE(service->Active()) << service->Name;
  EXPECT_TRUE(ui.Boxes().empty());
}

void HeaderInfo(TdmDBConnection& module) {
  std::vector<std::string> lines;
  module.GetDBHeaderInfo(lines);
}
void Sweep(TdmDBConnection& module) {
  std::vector<std::string> lines;
  module.SweepDatabase(lines);
}
void SweepInterval(TdmDBConnection& module) {
  module.SetSweepInterval(500);
}
void ForcedWrites(TdmDBConnection& module) {
  module.SetForcedWrites(false);
}
void Backup(TdmDBConnection& module) {
  std::vector<std::string> errors = {"an old error"};
  bool called = false;
  try {
    module.DoBackup(
        "C:\\Backup\\a.fbk", [&](TComponent*, const std::string&) { called = true; }, errors);
  } catch (...) {
    EXPECT_TRUE(errors.empty()) << "the errors of an earlier backup are gone";
    EXPECT_FALSE(called);
    throw;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ServiceRefusal,
    ::testing::Values(RefusalCase{"HeaderInfoUnknown", "a.fdb", "error 0203121447", HeaderInfo},
                      RefusalCase{"HeaderInfoNetBEUI", "\\\\srv\\data\\a.fdb", "error 0111071724",
                                  HeaderInfo},
                      RefusalCase{"HeaderInfoUnix", "srv:/opt/a.fdb", "error 0111071724", HeaderInfo},
                      RefusalCase{"HeaderInfoNetWare", "srv@vol", "error 0111071724", HeaderInfo},
                      RefusalCase{"SweepUnknown", "srv:alias", "error 0203121450", Sweep},
                      RefusalCase{"SweepNetBEUI", "\\\\srv\\data\\a.fdb", "error 0203121451", Sweep},
                      RefusalCase{"SweepIntervalUnknown", "a.fdb", "error 0206181013", SweepInterval},
                      RefusalCase{"SweepIntervalUnix", "srv:/opt/a.fdb", "error 0206181014", SweepInterval},
                      RefusalCase{"ForcedWritesUnknown", "a.fdb", "error 0207161027", ForcedWrites},
                      RefusalCase{"ForcedWritesNetWare", "srv@vol", "error 0207161028", ForcedWrites},
                      RefusalCase{"BackupUnknown", "a.fdb", "Database is not local", Backup},
                      RefusalCase{"BackupNetBEUI", "\\\\srv\\data\\a.fdb", "Database is not local", Backup},
                      RefusalCase{"BackupUnix", "srv:/opt/a.fdb", "Database is not local", Backup}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST(MaintenanceLists, CheckDBLeavesItsListAloneAndGetDBInfoEmptiesIt) {
  TempPrefix prefix;
  auto module = ModuleFor(kPath);
  std::vector<std::string> lines = {"a", "b"};
  module->CheckDB(lines);
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b"}));
  module->GetDBInfo(lines);
  EXPECT_TRUE(lines.empty());
}

// --- Where the database lives --------------------------------------------------------------------

struct OnServerCase {
  std::string connectionString;
  bool expected;
};

class IsOnDBServer : public ::testing::TestWithParam<OnServerCase> {
 protected:
  void SetUp() override {
    prefix_.SetSystem("computer", "PC07");
    prefix_.SetSystem("ip", "192.168.0.7,10.1.2.3");
  }
  TempPrefix prefix_;
  ScriptedUi ui_;
};

TEST_P(IsOnDBServer, ComparesTheServerWithThisComputersNameAndAddresses) {
  auto module = ModuleFor(GetParam().connectionString);
  EXPECT_EQ(module->IsOnDBServer(), GetParam().expected) << GetParam().connectionString;
  EXPECT_TRUE(ui_.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    ConnectionStrings, IsOnDBServer,
    ::testing::Values(OnServerCase{"C:\\a.fdb", true}, OnServerCase{"PC07:C:\\a.fdb", true},
                      OnServerCase{"pc07:C:\\a.fdb", true}, OnServerCase{"192.168.0.7:C:\\a.fdb", true},
                      OnServerCase{"10.1.2.3:D:\\x.fdb", true}, OnServerCase{"192.168.0.70:C:\\a.fdb", false},
                      OnServerCase{"192.168.0.8:C:\\a.fdb", false}, OnServerCase{"srv:C:\\a.fdb", false},
                      OnServerCase{":C:\\a.fdb", false}, OnServerCase{"\\\\PC07\\data\\a.fdb", false},
                      OnServerCase{"PC07:/data/a.fdb", false}, OnServerCase{"PC07@vol", false},
                      OnServerCase{"PC07:alias", false}));

TEST(IsOnDBServerCache, AnswersFromTheCacheUntilSetParams) {
  TempPrefix prefix;
  ScriptedUi ui;
  prefix.SetSystem("computer", "PC07");
  prefix.SetSystem("ip", "192.168.0.7");
  auto module = ModuleFor("192.168.0.7:C:\\a.fdb");
  EXPECT_TRUE(module->IsOnDBServer());
  // The computer loses the address: the module still answers from what it learnt.
  prefix.SetSystem("ip", "192.168.0.9");
  EXPECT_TRUE(module->IsOnDBServer());
  module->SetParams("192.168.0.7:C:\\a.fdb", "user1", "", "secret");
  EXPECT_FALSE(module->IsOnDBServer());
  // A "no" is kept as well.
  prefix.SetSystem("ip", "192.168.0.7");
  EXPECT_FALSE(module->IsOnDBServer());
  module->SetParams("192.168.0.7:C:\\a.fdb", "user1", "", "secret");
  EXPECT_TRUE(module->IsOnDBServer());
}

// The computer name's own failure has shown its message: no second box follows it.
TEST(IsOnDBServerFailure, AComputerNameThatCannotBeReadIsShownOnceAndAnswersNo) {
  TempPrefix prefix;
  ScriptedUi ui;
  prefix.SetSystem("computer", std::string(16, 'C'));
  auto module = ModuleFor("srv:C:\\a.fdb");
  EXPECT_FALSE(module->IsOnDBServer());
  ASSERT_EQ(ui.Boxes().size(), 1u);
  EXPECT_EQ(ui.Boxes()[0].text, "GetComputerName 111\r\nLe nom de fichier est trop long.");
}

// --- On a product database -----------------------------------------------------------------------

class MaintenanceServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::UseTestFirebirdRoot();
    prefix_.SetSystem("user", "user1");
    prefix_.SetSystem("computer", "PC07");
    host::Prefix::Current().SetIni("udf", "free_space_C", "10000000000");
    fs::create_directories(prefix_.Host("C:\\Data"));
    // The server writes a backup into a folder that exists.
    fs::create_directories(prefix_.Host("C:\\Backup"));
    module_ = NewModule(kPath, KorvaneUserName, KorvaneRole, KorvanePassword);
    module_->CreateDatabase();
    module_->Disconnect();
  }
  void TearDown() override {
    if (module_ == nullptr) return;
    try {
      module_->SetParams(kPath, KorvaneUserName, KorvaneRole, KorvanePassword);
      module_->DatabaseManager->Connect();
      module_->DropDatabase();
    } catch (...) {
      // Dropped by the test, or never made: the prefix goes anyway.
    }
    module_.reset();
  }

  // Runs a query on a separate attachment of the maker's user; answers its first column.
  std::vector<std::string> Query(const std::string& sql) {
    auto reader = NewModule(kPath, KorvaneUserName, KorvaneRole, KorvanePassword);
    reader->DatabaseManager->Connect();
    std::vector<std::string> values;
    reader->DoStartTransaction(false);
    reader->GeneralQuery->SQL = {sql};
    for (reader->GeneralQuery->Open(); !reader->GeneralQuery->Eof(); reader->GeneralQuery->Next())
      values.push_back(reader->GeneralQuery->Fields(0).AsString());
    reader->GeneralQuery->Close();
    reader->DoCommit();
    reader->ClearAllConnections();
    return values;
  }

  // The header's next transaction number.
  long NextTransaction() {
    const std::string header = HeaderInfo();
    const std::string label = "Next transaction\t";
    const std::size_t at = header.find(label);
    if (at == std::string::npos) throw std::runtime_error("no next transaction in " + header);
    return std::stol(header.substr(at + label.size()));
  }

  std::string HeaderInfo() {
    std::vector<std::string> lines;
    module_->GetDBHeaderInfo(lines);
    return Joined(lines);
  }

  TempPrefix prefix_;
  ScriptedUi ui_;
  std::unique_ptr<TdmDBConnection> module_;
};

TEST_F(MaintenanceServicesTest, CreateDatabaseMakesAProductDatabaseWithItsFunctionsAndProcedures) {
  EXPECT_TRUE(fs::exists(prefix_.Host(kPath)));
  EXPECT_EQ(Query("SELECT sval FROM ConnectionControl WHERE id = 2"), std::vector<std::string>{kIdentifier});
  EXPECT_EQ(Query("SELECT sval FROM ConnectionControl WHERE id = 3"), std::vector<std::string>{"2"});
  EXPECT_EQ(Query("SELECT COUNT(*) FROM rdb$functions WHERE rdb$function_name = 'GETDLLVERSION'"),
            std::vector<std::string>{"1"});
  EXPECT_EQ(Query("SELECT COUNT(*) FROM rdb$procedures WHERE rdb$procedure_name = 'GETLOG'"),
            std::vector<std::string>{"1"});
  // The module connects to what it made, with every check.
  module_->Connect();
  EXPECT_TRUE(module_->Connected());
  EXPECT_EQ(module_->TransactionState(), "0");
}

TEST_F(MaintenanceServicesTest, CreateDatabaseOverAnExistingFileFailsAndLeavesNoTransaction) {
  const std::string error = ErrorOf([&] { module_->CreateDatabase(); });
  EXPECT_NE(error.find("I/O error"), std::string::npos) << error;
  EXPECT_EQ(module_->TransactionState(), "0");
  // The database already there is untouched.
  EXPECT_EQ(Query("SELECT sval FROM ConnectionControl WHERE id = 2"), std::vector<std::string>{kIdentifier});
}

TEST_F(MaintenanceServicesTest, DropDatabaseRemovesTheAttachedDatabase) {
  EXPECT_EQ(ErrorOf([&] { module_->DropDatabase(); }), "La base de données n'est pas ouverte.");
  EXPECT_TRUE(fs::exists(prefix_.Host(kPath)));
  module_->Connect();
  module_->DropDatabase();
  EXPECT_FALSE(module_->Connected());
  EXPECT_FALSE(module_->WasConnected());
  EXPECT_EQ(module_->TransactionState(), "0");
  EXPECT_FALSE(fs::exists(prefix_.Host(kPath)));
}

TEST_F(MaintenanceServicesTest, DropDatabaseInsideAUnitOfWorkEndsItWithTheDatabase) {
  module_->Connect();
  module_->DoStartTransaction(false);
  EXPECT_EQ(module_->TransactionState(), "1");
  module_->DropDatabase();
  EXPECT_FALSE(module_->InTransaction());
  EXPECT_EQ(module_->TransactionState(), "0");
  EXPECT_FALSE(fs::exists(prefix_.Host(kPath)));
}

TEST_F(MaintenanceServicesTest, GetUDFVersionAnswersTheServerFunctionLibrarysVersion) {
  std::uint16_t v1 = 0, v2 = 0, v3 = 0, v4 = 0;
  ASSERT_TRUE(TWindowsInstaller::GetFileVersion(win::GetModuleFileName(), v1, v2, v3, v4));
  module_->Connect();
  EXPECT_EQ(module_->GetUDFVersion(), v1 * 1000000 + v2 * 10000 + v3 * 100 + v4);
  EXPECT_EQ(module_->TransactionState(), "0");
  EXPECT_FALSE(module_->InTransaction());
}

TEST_F(MaintenanceServicesTest, GetUDFVersionWithoutAnAttachmentRaisesAndLeavesNoTransaction) {
  EXPECT_NE(ErrorOf([&] { module_->GetUDFVersion(); }), "(no exception)");
  EXPECT_EQ(module_->TransactionState(), "0");
  // Inside a caller's transaction the failure only lowers the depth.
  module_->Connect();
  ASSERT_TRUE(module_->DoStartTransaction(false));
  module_->GeneralQuery->SQL = {"SELECT 1 FROM rdb$database"};
  module_->DatabaseManager->ExecuteSQL("DROP EXTERNAL FUNCTION GetDLLVersion");
  EXPECT_NE(ErrorOf([&] { module_->GetUDFVersion(); }).find("GETDLLVERSION"), std::string::npos);
  EXPECT_EQ(module_->TransactionState(), "1");
  module_->DoRollback();
}

TEST_F(MaintenanceServicesTest, HeaderInfoGivesTheHeaderPageAndReplacesTheList) {
  std::vector<std::string> lines = {"left from before"};
  module_->GetDBHeaderInfo(lines);
  const std::string all = Joined(lines);
  EXPECT_EQ(all.find("left from before"), std::string::npos);
  EXPECT_NE(all.find("Database header page information:"), std::string::npos) << all;
  EXPECT_NE(all.find("Page size\t\t4096"), std::string::npos) << all;
  EXPECT_FALSE(module_->IBStatisticalService->Active());
}

TEST_F(MaintenanceServicesTest, SweepIntervalIsWrittenToTheHeader) {
  module_->SetSweepInterval(1234);
  EXPECT_NE(HeaderInfo().find("Sweep interval:\t\t1234"), std::string::npos) << HeaderInfo();
  module_->SetSweepInterval(0);
  EXPECT_NE(HeaderInfo().find("Sweep interval:\t\t0"), std::string::npos) << HeaderInfo();
  EXPECT_FALSE(module_->IBConfigService->Active());
}

TEST_F(MaintenanceServicesTest, ForcedWritesAreSwitchedOffAndOnAgain) {
  module_->SetForcedWrites(false);
  EXPECT_EQ(HeaderInfo().find("force write"), std::string::npos) << HeaderInfo();
  module_->SetForcedWrites(true);
  EXPECT_NE(HeaderInfo().find("force write"), std::string::npos) << HeaderInfo();
  module_->SetForcedWrites(false);
  EXPECT_EQ(HeaderInfo().find("force write"), std::string::npos) << HeaderInfo();
}

TEST_F(MaintenanceServicesTest, ServicesWorkBesideTheModulesOwnAttachment) {
  module_->Connect();
  module_->SetForcedWrites(false);
  module_->SetSweepInterval(55);
  std::vector<std::string> lines;
  module_->SweepDatabase(lines);
  module_->DoBackup("C:\\Backup\\SOC.FBK", nullptr, lines);
  EXPECT_TRUE(lines.empty()) << Joined(lines);
  const std::string header = HeaderInfo();
  EXPECT_EQ(header.find("force write"), std::string::npos) << header;
  EXPECT_NE(header.find("Sweep interval:\t\t55"), std::string::npos) << header;
  EXPECT_TRUE(fs::exists(prefix_.Host("C:\\Backup\\SOC.FBK")));
  EXPECT_TRUE(module_->Connected());
}

TEST_F(MaintenanceServicesTest, SweepRunsInTheEngineAndReplacesTheList) {
  const long before = NextTransaction();
  std::vector<std::string> lines = {"left from before"};
  module_->SweepDatabase(lines);
  // Firebird 3 writes no output for a sweep; the sweep's own transaction shows it ran.
  EXPECT_TRUE(lines.empty()) << Joined(lines);
  EXPECT_GT(NextTransaction(), before);
  EXPECT_EQ(module_->IBValidationService->Options, TIBValidationService::SweepDB);
  EXPECT_FALSE(module_->IBValidationService->Active());
}

TEST_F(MaintenanceServicesTest, SweepPutsEveryOutputLineInTheList) {
  // Lines added to the real output, as older servers write them.
  const std::vector<std::string> added = {"Sweep started", "", "Sweep finished: 12 records"};
  std::size_t next = 0;
  module_->ServiceOutputReader = [&](TIBControlService& service, std::string& line) {
    if (next < added.size()) {
      line = added[next++];
      return true;
    }
    return service.NextLine(line);
  };
  std::vector<std::string> lines = {"left from before"};
  module_->SweepDatabase(lines);
  EXPECT_EQ(lines, added);
}

TEST_F(MaintenanceServicesTest, BackupWritesTheFileAndShowsEveryLine) {
  std::vector<std::string> errors = {"an old error"};
  std::vector<std::string> seen;
  TComponent* sender = nullptr;
  module_->DoBackup(
      "C:\\Backup\\SOC.FBK",
      [&](TComponent* Sender, const std::string& AStr) {
        sender = Sender;
        seen.push_back(AStr);
      },
      errors);
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(sender, module_.get());
  const std::string all = Joined(seen);
  EXPECT_NE(all.find("writing data for table CONNECTIONCONTROL"), std::string::npos) << all;
  EXPECT_NE(all.find("closing file, committing, and finishing"), std::string::npos) << all;
  EXPECT_TRUE(fs::exists(prefix_.Host("C:\\Backup\\SOC.FBK")));
  EXPECT_GT(fs::file_size(prefix_.Host("C:\\Backup\\SOC.FBK")), 0u);
  EXPECT_EQ(module_->IBBS->BackupFile.size(), 1u);
  EXPECT_FALSE(module_->IBBS->Active());
}

TEST_F(MaintenanceServicesTest, BackupKeepsExactlyTheErrorLinesAndShowsThemToo) {
  // The engine writes its failures into the status rather than the output: two error lines are
  // added to the real output, between its lines.
  int realLines = 0;
  std::vector<std::string> given;
  module_->ServiceOutputReader = [&](TIBControlService& service, std::string& line) {
    if (realLines == 3 && given.size() == std::size_t(realLines)) {
      line = "gbak: ERROR:could not read table A";
    } else if (realLines == 6 && given.size() == std::size_t(realLines) + 1) {
      line = "ERROR: second failure";
    } else if (realLines == 7 && given.size() == std::size_t(realLines) + 2) {
      line = "gbak: error: lower case is no error line";
    } else {
      if (!service.NextLine(line)) return false;
      ++realLines;
    }
    given.push_back(line);
    return true;
  };
  std::vector<std::string> errors;
  std::vector<std::string> seen;
  module_->DoBackup(
      "C:\\Backup\\SOC.FBK", [&](TComponent*, const std::string& AStr) { seen.push_back(AStr); }, errors);
  ASSERT_GT(realLines, 7);
  EXPECT_EQ(errors,
            (std::vector<std::string>{"gbak: ERROR:could not read table A", "ERROR: second failure"}));
  EXPECT_EQ(seen, given);
}

TEST_F(MaintenanceServicesTest, BackupIntoAMissingFolderFailsAndDetaches) {
  std::vector<std::string> errors;
  std::vector<std::string> seen;
  const std::string error = ErrorOf([&] {
    module_->DoBackup(
        "/nonexistent-folder/x/SOC.FBK", [&](TComponent*, const std::string& AStr) { seen.push_back(AStr); },
        errors);
  });
  EXPECT_NE(error, "(no exception)");
  EXPECT_NE(error.find("/nonexistent-folder/x/SOC.FBK"), std::string::npos) << error;
  EXPECT_FALSE(module_->IBBS->Active());
  // The same member backs up again afterwards.
  module_->DoBackup("C:\\Backup\\SOC.FBK", nullptr, errors);
  EXPECT_TRUE(fs::exists(prefix_.Host("C:\\Backup\\SOC.FBK")));
}

TEST_F(MaintenanceServicesTest, ServiceOfAMissingDatabaseFailsAndDetaches) {
  module_->SetParams("C:\\Data\\MISSING.FDB", KorvaneUserName, KorvaneRole, KorvanePassword);
  std::vector<std::string> lines;
  EXPECT_NE(ErrorOf([&] { module_->GetDBHeaderInfo(lines); }), "(no exception)");
  EXPECT_FALSE(module_->IBStatisticalService->Active());
  EXPECT_NE(ErrorOf([&] { module_->SetSweepInterval(10); }), "(no exception)");
  EXPECT_FALSE(module_->IBConfigService->Active());
}

TEST_F(MaintenanceServicesTest, SetStatisticsWorksAsKorvaneAndReconnectsAsTheUser) {
  module_->SetParams(kPath, "PUBLIC_READER_WRITER", "ROLE_READER_WRITER", "tarpon");
  module_->Connect();
  module_->SetStatistics();
  EXPECT_TRUE(module_->Connected());
  EXPECT_EQ(module_->DatabaseManager->UserName(), "PUBLIC_READER_WRITER");
  EXPECT_EQ(module_->DatabaseManager->Role(), "ROLE_READER_WRITER");
  EXPECT_EQ(module_->DatabaseManager->Password(), "tarpon");
  EXPECT_EQ(ui_.CursorChanges(), (std::vector<bool>{true, false}));
  module_->DoStartTransaction(false);
  module_->GeneralQuery->SQL = {"SELECT CURRENT_USER, CURRENT_ROLE FROM rdb$database"};
  module_->GeneralQuery->Open();
  EXPECT_EQ(module_->GeneralQuery->Fields(0).AsString(), "PUBLIC_READER_WRITER");
  EXPECT_EQ(module_->GeneralQuery->Fields(1).AsString(), "ROLE_READER_WRITER");
  module_->GeneralQuery->Close();
  module_->DoCommit();
}

TEST_F(MaintenanceServicesTest, SetStatisticsFailureRestoresTheCredentialsDisconnected) {
  module_->SetParams("C:\\Data\\MISSING.FDB", "PUBLIC_READER", "ROLE_READER", "tarpon");
  EXPECT_NE(ErrorOf([&] { module_->SetStatistics(); }), "(no exception)");
  EXPECT_FALSE(module_->Connected());
  EXPECT_EQ(module_->DatabaseManager->UserName(), "PUBLIC_READER");
  EXPECT_EQ(module_->DatabaseManager->Role(), "ROLE_READER");
  EXPECT_EQ(module_->DatabaseManager->Password(), "tarpon");
  EXPECT_EQ(ui_.CursorChanges(), (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace kv
