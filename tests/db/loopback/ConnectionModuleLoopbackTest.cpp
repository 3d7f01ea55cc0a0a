// The connection module against the loopback server (fixture "loopback_server"), over TCP/IP as
// the program reaches a database server: "127.0.0.1:" + a Windows-form path that the server
// resolves through an alias. Each test makes its database with the embedded engine and hands it
// to the server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "db/KorvaneLogon.h"
#include "db/client/CallWatchdog.h"
#include "db/client/ClientLibrary.h"
#include "db/client/DatabaseError.h"
#include "db/dmDBConnectionUnit.h"
#include "tests/support/FirebirdRoot.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ProductDatabase.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

using test::LoopbackServer;
using test::ProductDatabase;
using test::ScriptedUi;
using test::TempPrefix;

constexpr const char* kIdentifier = "TS_Test";
constexpr std::int32_t kVersion = 2;

const std::string kLowSpace =
    "L'espace disque pour la base de données est faible!\r\nVeuillez faire de la place sur le disque.\r\n";
const std::string kNoSpace = "Il n'y a plus assez de place sur le disque de la base de données!\r\n";
const std::string kUnknownSpace =
    "Le serveur Firebird n'a pas pu déterminer la place restante sur le disque de la base de données!";
const std::string kNoServer =
    "Aucune connexion n'a pu être établie avec le serveur.\r\nCauses possibles : \r\n\r\n1) L'ordinateur "
    "distant "
    "(serveur) est arrêté.\r\n2) L'adresse de l'ordinateur distant est incorrecte.\r\n3) Le serveur Firebird "
    "n'a "
    "pas démarré sur le poste serveur.\r\n4) Le câble de connexion réseau est débranché.\r\n5) Un firewall "
    "bloque "
    "la connexion depuis votre poste.\r\n6) Une autre session est restée ouverte sur votre poste.\r\n   (La "
    "bascule rapide des utilisateurs est activée sur cette machine.)\r\n\r\n";

std::string NewWindowsPath() {
  static std::atomic<int> counter{0};
  return "C:\\Data\\M" + std::to_string(getpid()) + "_" + std::to_string(counter++) + ".FDB";
}

// What the server's function library answers for drive C:, for the guard's life.
class ServerFreeSpace {
 public:
  explicit ServerFreeSpace(long long bytes) { Set(bytes); }
  ~ServerFreeSpace() {
    try {
      LoopbackServer::SetFreeSpace('C', std::nullopt);
    } catch (...) {
    }
  }
  ServerFreeSpace(const ServerFreeSpace&) = delete;
  ServerFreeSpace& operator=(const ServerFreeSpace&) = delete;
  void Set(long long bytes) { LoopbackServer::SetFreeSpace('C', bytes); }
};

class ConnectionModuleLoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoopbackServer::IsRunning()) << "the fixture starts the server";
    test::UseTestFirebirdRoot();
    prefix_.SetSystem("user", "user1");
    prefix_.SetSystem("computer", "PC07");
    const std::string windowsPath = NewWindowsPath();
    db_ = std::make_unique<ProductDatabase>(prefix_, windowsPath, kIdentifier, kVersion);
    LoopbackServer::AddAlias(windowsPath, db_->HostPath());
    address_ = LoopbackServer::Address(windowsPath);
  }
  void TearDown() override { db_.reset(); }

  std::unique_ptr<TdmDBConnection> NewModule(const std::string& user = KorvaneUserName,
                                             const std::string& password = KorvanePassword) {
    auto module = std::make_unique<TdmDBConnection>();
    module->Init(kVersion, kIdentifier, "", "Updater");
    module->SetParams(address_, user, "", password);
    module->DatabaseManager->Pause = [](int) {};
    return module;
  }

  TempPrefix prefix_;
  ScriptedUi ui_;
  ServerFreeSpace space_{10000000000LL};
  std::unique_ptr<ProductDatabase> db_;
  std::string address_;
};

TEST_F(ConnectionModuleLoopbackTest, ConnectsOverTcpToAFirebird3Server) {
  auto module = NewModule("SOMEONE", "secret");
  module->ConnectAsKorvane();
  ASSERT_TRUE(module->Connected());
  EXPECT_EQ(module->ServerType(), Firebird30);
  EXPECT_EQ(module->ConnectionType(), ibctTCPIP);
  std::string version, implementation;
  int serviceVersion = 0;
  module->GetServerInfo(version, implementation, serviceVersion);
  EXPECT_EQ(version.rfind("LI-V3.0.", 0), 0u) << version;
  EXPECT_NE(implementation, "?");
  EXPECT_GT(serviceVersion, 0);
  EXPECT_EQ(module->GetServerVersion(""), version);
  EXPECT_EQ(module->GetServerVersion("127.0.0.1"), version);
  std::vector<std::string> users;
  module->GetUserList(users);
  EXPECT_EQ(users, std::vector<std::string>{"user1 (PC07) - Updater"});
  EXPECT_EQ(module->GetConnectionCount(), 1);
  EXPECT_TRUE(ui_.Boxes().empty());
  // Back to the caller's credentials: "SOMEONE" is no user of the server.
  EXPECT_THROW(module->ReConnectAsUser(), DatabaseError);
  EXPECT_EQ(module->DatabaseManager->UserName(), "SOMEONE");
  EXPECT_FALSE(module->Connected());
}

TEST_F(ConnectionModuleLoopbackTest, ADatabaseReachedByAnotherKindOfStringIsRefusedAfterAttaching) {
  // "127.0.0.1:/host/path.fdb" attaches (the server opens its own path), but the services API is
  // asked only for local and TCP/IP strings: the server's version stays unknown.
  const std::string unix = LoopbackServer::Address(db_->HostPath().string());
  auto module = NewModule();
  module->SetParams(unix, KorvaneUserName, "", KorvanePassword);
  ASSERT_EQ(module->ConnectionType(), ibctUNIX);
  bool attached = false;
  module->IBDatabase->AfterConnect = [&](TIBDatabase&) { attached = true; };
  try {
    module->Connect();
    FAIL() << "connected";
  } catch (const std::exception& e) {
    EXPECT_EQ(
        std::string(e.what()),
        "La version du client Firebird utilisé ne correspond pas à celle du serveur Firebird. Par sécurité, "
        "aucune connexion à la base de données ne sera établie.\r\n\r\nClient : " +
            fb::ClientVersion() + "\r\nServer : ?");
  }
  EXPECT_TRUE(attached);
  EXPECT_FALSE(module->Connected());
  EXPECT_EQ(module->ServerType(), UnknownServer);
}

TEST_F(ConnectionModuleLoopbackTest, TheServersFreeSpaceDecidesTheBoxes) {
  struct Case {
    long long bytes;
    std::vector<std::pair<MessageKind, std::string>> boxes;
    bool connected;
  };
  const Case cases[] = {
      {120000000,
       {{MessageKind::Warning, kLowSpace + "120 Mb"}, {MessageKind::Warning, kLowSpace + "120 Mb"}},
       true},
      {40000000, {{MessageKind::Error, kNoSpace + "40 Mb"}}, false},
      {0, {{MessageKind::Warning, kUnknownSpace}}, true},
  };
  for (const Case& c : cases) {
    space_.Set(c.bytes);
    ScriptedUi ui;
    auto module = NewModule();
    module->ConnectAsKorvane();  // checks twice
    EXPECT_EQ(module->Connected(), c.connected) << c.bytes;
    std::vector<std::pair<MessageKind, std::string>> boxes;
    for (const auto& box : ui.Boxes()) boxes.emplace_back(box.kind, box.text);
    EXPECT_EQ(boxes, c.boxes) << c.bytes;
  }
}

TEST_F(ConnectionModuleLoopbackTest, AWrongPasswordIsExplainedAsSuch) {
  auto module = NewModule(KorvaneUserName, "84736250");
  try {
    module->Connect();
    FAIL() << "connected with a wrong password";
  } catch (const DatabaseError& e) {
    EXPECT_EQ(e.EngineCode(), 335544472);
    EXPECT_EQ(TdmDBConnection::GetIBErrorMessage(e),
              "Votre nom d'utilisateur n'a pas été reconnu,\r\nou votre mot de passe n'est pas valable!");
  }
  EXPECT_FALSE(module->Connected());
}

// The message of the exception the action raises, as GetIBErrorMessage gives it; the engine code.
template <typename Action>
std::pair<std::string, long> ExplainedError(Action&& action) {
  try {
    action();
  } catch (const DatabaseError& e) {
    return {TdmDBConnection::GetIBErrorMessage(e), e.EngineCode()};
  } catch (const std::exception& e) {
    return {std::string("not a database error: ") + e.what(), 0};
  }
  return {"(no exception)", 0};
}

// codes: the engine codes the failure may carry.
void ExpectServerUnreachable(const std::pair<std::string, long>& error, const std::vector<long>& codes) {
  EXPECT_NE(std::find(codes.begin(), codes.end(), error.second), codes.end())
      << error.second << ": " << error.first;
  EXPECT_EQ(error.first.rfind(kNoServer, 0), 0u) << error.first;
  // The client's own message, then the last system error code.
  const std::string rest = error.first.substr(std::min(kNoServer.size(), error.first.size()));
  const auto lastBreak = rest.rfind("\r\n");
  ASSERT_NE(lastBreak, std::string::npos) << rest;
  EXPECT_GT(lastBreak, 0u) << rest;
  const std::string code = rest.substr(lastBreak + 2);
  EXPECT_FALSE(code.empty());
  EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos) << code;
}

TEST_F(ConnectionModuleLoopbackTest, AServerStoppedWhileAttachedIsExplained) {
  auto module = NewModule();
  module->ConnectAsKorvane();
  ASSERT_TRUE(module->Connected());
  ASSERT_TRUE(module->DoStartTransaction(false));
  {
    test::StoppedLoopbackServer stopped;
    // A commit that fails leaves its level open, for the caller's rollback to end it.
    try {
      module->DoCommit();
      ADD_FAILURE() << "committed without a server";
    } catch (const DatabaseError& e) {
      EXPECT_EQ(module->TransactionState(), "1");
      try {
        module->DoRollback(e);
        ADD_FAILURE() << "DoRollback returned";
      } catch (const DatabaseError& again) {
        EXPECT_EQ(again.EngineCode(), e.EngineCode());
        EXPECT_STREQ(again.what(), e.what());
      }
    }
    EXPECT_EQ(module->TransactionState(), "0");
    EXPECT_FALSE(module->InTransaction());
    // The lost attachment: the client's read or write error.
    ExpectServerUnreachable(ExplainedError([&] { module->GetFreeDiskSpace(); }),
                            {335544726, 335544727, 335544741});
    EXPECT_EQ(module->TransactionState(), "0");
    // The attachment is lost: a protected start says so and leaves the depth alone.
    EXPECT_FALSE(module->DoStartTransaction(true));
    EXPECT_EQ(module->TransactionState(), "0");
    module->Disconnect();
    EXPECT_FALSE(module->Connected());
    // A new attachment: the server is unreachable.
    ExpectServerUnreachable(ExplainedError([&] { module->ConnectAsKorvane(); }), {335544721, 335544375});
    EXPECT_FALSE(module->Connected());
  }
  // Back again.
  module->ConnectAsKorvane();
  EXPECT_TRUE(module->Connected());
}

TEST_F(ConnectionModuleLoopbackTest, TestDbConnectionLogsOnAsThePublicReaderWriter) {
  space_.Set(2500000000LL);
  EXPECT_TRUE(TdmDBConnection::TestDbConnection(kIdentifier, address_, kVersion, true));
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].kind, MessageKind::Information);
  EXPECT_EQ(ui_.Boxes()[0].text, "Connexion \"TS_Test\" OK.\r\n2\u00A0500 Mb");
  auto module = NewModule();
  module->Connect();
  std::vector<std::string> users;
  module->GetUserList(users);
  EXPECT_EQ(users, std::vector<std::string>{"user1 (PC07) - Updater"});
}

// --- A server that stops answering -----------------------------------------------------------------

// The watchdog's limit for the scope; the default comes back at its end.
class CallLimit {
 public:
  explicit CallLimit(std::chrono::seconds limit) { fb::SetCallTimeLimit(limit); }
  ~CallLimit() { fb::SetCallTimeLimit(fb::kDefaultCallLimit); }
  CallLimit(const CallLimit&) = delete;
  CallLimit& operator=(const CallLimit&) = delete;
};

constexpr auto kLimit = std::chrono::seconds(3);
// The limit, and the time the client takes to give up and the module to close its side.
constexpr auto kBound = kLimit + std::chrono::seconds(4);

TEST_F(ConnectionModuleLoopbackTest, ACallToAFrozenServerIsAbortedWithinTheLimit) {
  const CallLimit limit(kLimit);
  auto module = NewModule();
  module->ConnectAsKorvane();
  ASSERT_TRUE(module->Connected());
  std::string message;
  const auto start = std::chrono::steady_clock::now();
  {
    const test::FrozenLoopbackServer frozen;
    try {
      module->GetFreeDiskSpace();
      ADD_FAILURE() << "a frozen server answered";
    } catch (const DatabaseError& e) {
      message = TdmDBConnection::GetIBErrorMessage(e);
    }
    module->Disconnect();
  }
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, kLimit - std::chrono::milliseconds(100)) << "aborted before the limit";
  EXPECT_LT(took, kBound);
  EXPECT_EQ(message.rfind(kNoServer, 0), 0u) << message;
  EXPECT_EQ(module->TransactionState(), "0");
  EXPECT_FALSE(module->Connected());
  // The server, released, serves the module again.
  module->ConnectAsKorvane();
  EXPECT_TRUE(module->Connected());
}

TEST_F(ConnectionModuleLoopbackTest, ConnectingToAFrozenServerEndsWithinTheLimit) {
  const CallLimit limit(kLimit);
  auto module = NewModule();
  const auto start = std::chrono::steady_clock::now();
  {
    const test::FrozenLoopbackServer frozen;
    try {
      module->ConnectAsKorvane();
      ADD_FAILURE() << "connected to a frozen server";
    } catch (const DatabaseError& e) {
      EXPECT_NE(e.EngineCode(), 0) << e.what();
    }
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, kBound);
  EXPECT_FALSE(module->Connected());
}

}  // namespace
}  // namespace kv
