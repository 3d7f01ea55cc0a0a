// The schema and table managers against the loopback Firebird server (fixture "loopback_server"):
// TCP/IP connection strings with Windows-form paths resolved by the server's aliases, the
// maker's logon, a server that stops, and many programs writing the connected users at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "db/IBManagers.h"
#include "db/KorvaneLogon.h"
#include "db/client/ServiceManager.h"
#include "tests/db/ManagerFixture.h"
#include "tests/support/FirebirdRoot.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

extern char** environ;

namespace kv::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// A Windows-form path of its own for each database a test makes.
std::string NewWindowsPath() {
  static std::atomic<int> counter{0};
  return "C:\\Data\\M" + std::to_string(getpid()) + "_" + std::to_string(counter++) + ".FDB";
}

class ManagersLoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseTestFirebirdRoot();
    ASSERT_TRUE(LoopbackServer::IsRunning()) << "the fixture starts the server";
  }

  // A new database on the server, made by CreateDatabase through a Windows-form alias.
  std::unique_ptr<ManagerComponents> NewDatabase() {
    const std::string windowsPath = NewWindowsPath();
    LoopbackServer::AddAlias(windowsPath, dir_.Path() / (std::to_string(files_++) + ".fdb"));
    auto components = std::make_unique<ManagerComponents>(LoopbackServer::Address(windowsPath));
    components->DatabaseManager.SetDBIdentifier("TS_Societe");
    components->DatabaseManager.SetDBVersionValue(3);
    return components;
  }

  // The server runs as the user of the tests and writes the database files here.
  TempDir dir_;
  ScriptedUi ui_;
  int files_ = 0;
};

TEST_F(ManagersLoopbackTest, KorvaneCreatesADatabaseOverTcpIpThroughAWindowsFormAlias) {
  const std::string windowsPath = NewWindowsPath();
  const fs::path file = dir_.Path() / "created.fdb";
  LoopbackServer::AddAlias(windowsPath, file);
  ManagerComponents c(LoopbackServer::Address(windowsPath));
  c.DatabaseManager.SetDBIdentifier("TS_Societe");
  c.DatabaseManager.SetDBVersionValue(3);
  c.DatabaseManager.CreateDatabase();
  EXPECT_TRUE(fs::exists(file));
  EXPECT_TRUE(c.DatabaseManager.IsFirebird3Family());
  c.IBDatabase.Close();

  c.DatabaseManager.Connect();
  std::string identifier;
  std::int32_t version = 0;
  c.DatabaseManager.GetDBVersion(identifier, version);
  EXPECT_EQ(identifier, "TS_Societe");
  EXPECT_EQ(version, 3);
  EXPECT_EQ(c.DatabaseManager.GetDBOwner(), "KORVANE");
  EXPECT_THAT(ReadColumn(c.IBDatabase,
                         "SELECT TRIM(rdb$default_collate_name) FROM rdb$character_sets WHERE "
                         "rdb$character_set_name = 'ISO8859_1'"),
              ElementsAre("FR_FR"));
  EXPECT_THAT(ReadColumn(c.IBDatabase, "SELECT CURRENT_USER FROM RDB$DATABASE"), ElementsAre("KORVANE"));

  // A table of the table manager: readable through ROLE_READER, writable through
  // ROLE_READER_WRITER, by the suite's public users.
  TTableManager table;
  table.SetDatabaseManager(&c.DatabaseManager);
  table.SetTableName("PRT_Params");
  table.SetFieldDefs({"pname VARCHAR(60) NOT NULL *", "d_text VARCHAR(90)"});
  table.CreateTable();
  table.AppendRecord({fb::Value::Text("liste"), fb::Value::Text("Étiquettes")});
  c.IBDatabase.Close();
  struct Case {
    std::string user, role;
    bool writes;
  };
  for (const Case& user : std::vector<Case>{{"PUBLIC_READER", "ROLE_READER", false},
                                            {"PUBLIC_READER_WRITER", "ROLE_READER_WRITER", true}}) {
    c.DatabaseManager.SetUserName(user.user);
    c.DatabaseManager.SetPassword("tarpon");
    c.DatabaseManager.SetRole(user.role);
    c.DatabaseManager.Connect();
    EXPECT_THAT(ReadColumn(c.IBDatabase, "SELECT d_text FROM PRT_Params"), ElementsAre("Étiquettes"))
        << user.user;
    if (user.writes) {
      table.ExecuteSQL("UPDATE PRT_Params SET d_text = 'changée'");
    } else {
      EXPECT_THROW(table.ExecuteSQL("UPDATE PRT_Params SET d_text = 'changée'"), DatabaseError) << user.user;
    }
    c.IBDatabase.Close();
  }
}

TEST_F(ManagersLoopbackTest, TheServerRefusesACreationUnderAnotherPasswordOfKorvane) {
  const std::string windowsPath = NewWindowsPath();
  LoopbackServer::AddAlias(windowsPath, dir_.Path() / "refused.fdb");
  TIBDatabase database;
  database.DatabaseName = LoopbackServer::Address(windowsPath);
  database.CreateParams = {"USER 'KORVANE'", "PASSWORD '7392016458'", "PAGE_SIZE 4096",
                           "DEFAULT CHARACTER SET ISO8859_1"};
  try {
    database.CreateDatabase();
    FAIL() << "no error";
  } catch (const DatabaseError& e) {
    EXPECT_THAT(e.what(), HasSubstr("user name and password are not defined"));
  }
  EXPECT_FALSE(fs::exists(dir_.Path() / "refused.fdb"));
}

TEST_F(ManagersLoopbackTest, TheServerVersionThroughTheServicesApi) {
  fb::ServiceManager services;
  services.Attach("127.0.0.1", KorvaneUserName, KorvanePassword);
  const fb::ServerVersionInfo info = services.QueryVersion();
  services.Detach();
  EXPECT_THAT(info.ServerVersion, StartsWith("LI-V3.0."));
  EXPECT_THAT(info.ServerVersion, HasSubstr("Firebird 3.0"));
}

TEST_F(ManagersLoopbackTest, RegisterUserWithTheServerStoppedReturnsAfterFiveAttempts) {
  auto c = NewDatabase();
  c->DatabaseManager.CreateDatabase();
  c->IBDatabase.Close();
  c->DatabaseManager.Connect();
  c->DatabaseManager.RegisterUser("before");
  {
    StoppedLoopbackServer stopped;
    for (const auto& operation : {+[](TDatabaseManager& m) { m.RegisterUser("during"); },
                                  +[](TDatabaseManager& m) { m.UnRegisterUser("before"); }}) {
      c->Pauses.clear();
      operation(c->DatabaseManager);
      EXPECT_EQ(c->Pauses.size(), 4u);
    }
  }
  ASSERT_TRUE(LoopbackServer::IsRunning());
  // Nothing reached the database while the server was away.
  const std::string connection = c->DatabaseManager.ConnectionString();
  c.reset();
  ManagerComponents again(connection);
  again.DatabaseManager.Connect();
  EXPECT_THAT(ReadColumn(again.IBDatabase, "SELECT username FROM Users"), ElementsAre("before"));
}

// The client processes of a test; whatever remains is killed and reaped at the end.
class ClientProcesses {
 public:
  ~ClientProcesses() {
    for (pid_t pid : pids_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  void Start(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    pids_.push_back(pid);
  }
  // Waits for every process; answers their exit codes (-1 for a signal).
  std::vector<int> WaitAll() {
    std::vector<int> codes;
    for (pid_t pid : pids_) {
      int status = 0;
      waitpid(pid, &status, 0);
      codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    pids_.clear();
    return codes;
  }

 private:
  std::vector<pid_t> pids_;
};

TEST_F(ManagersLoopbackTest, TwentyProgramsRegisteringAtOnceLoseNoRowAndLeaveNone) {
  auto c = NewDatabase();
  c->DatabaseManager.CreateDatabase();
  c->IBDatabase.Close();
  c->DatabaseManager.Connect();
  const std::string connection = c->DatabaseManager.ConnectionString();
  constexpr int kClients = 20;
  std::vector<std::string> expected;
  ClientProcesses clients;
  const fs::path go = dir_.Path() / "go";
  for (int i = 0; i < kClients; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "user%02d (PC%02d) - Updater", i, i);
    expected.push_back(name);
    clients.Start({KV_DB_USER_CLIENT, connection, name,
                   (dir_.Path() / ("ready" + std::to_string(i))).string(), go.string()});
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  for (int i = 0; i < kClients; ++i) {
    while (!fs::exists(dir_.Path() / ("ready" + std::to_string(i)))) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "client " << i << " did not register";
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  std::vector<std::string> users;
  c->DatabaseManager.GetUserList(users);
  EXPECT_EQ(users, expected);
  std::ofstream(go) << "go\n";
  EXPECT_EQ(clients.WaitAll(), std::vector<int>(kClients, 0));
  c->DatabaseManager.GetUserList(users);
  EXPECT_TRUE(users.empty());
}

}  // namespace
}  // namespace kv::test
