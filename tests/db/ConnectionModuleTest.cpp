// The connection module on the embedded engine: one new product database per test, in a prefix
// of its own, message boxes answered by a script, timers driven by a manual clock.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "db/KorvaneLogon.h"
#include "db/LocalClientDataset.h"
#include "db/client/ClientLibrary.h"
#include "db/dmDBConnectionUnit.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/Win32.h"
#include "platform/host/Prefix.h"
#include "tests/db/ManagerFixture.h"
#include "tests/support/FirebirdRoot.h"
#include "tests/support/LoadedLibraries.h"
#include "tests/support/ManualClock.h"
#include "tests/support/ProductDatabase.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

using test::ManualClock;
using test::ProductDatabase;
using test::ScriptedUi;
using test::TempPrefix;

constexpr const char* kIdentifier = "TS_Test";
constexpr std::int32_t kVersion = 2;
constexpr const char* kPath = "C:\\Data\\SOC.FDB";

const std::string kUnknownClient =
    "La version du client Firebird utilisé est inconnue du programme. Par sécurité, aucune connexion à la "
    "base de données ne sera établie.\r\n\r\n";
const std::string kNoPair =
    "La version du client Firebird utilisé ne correspond pas à celle du serveur Firebird. Par sécurité, "
    "aucune "
    "connexion à la base de données ne sera établie.\r\n\r\n";
const std::string kLowSpace =
    "L'espace disque pour la base de données est faible!\r\nVeuillez faire de la place sur le disque.\r\n";
const std::string kNoSpace = "Il n'y a plus assez de place sur le disque de la base de données!\r\n";
const std::string kUnknownSpace =
    "Le serveur Firebird n'a pas pu déterminer la place restante sur le disque de la base de données!";

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

class ConnectionModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::UseTestFirebirdRoot();
    prefix_.SetSystem("user", "user1");
    prefix_.SetSystem("computer", "PC07");
    SetFreeSpace(10000000000LL);
    db_ = std::make_unique<ProductDatabase>(prefix_, kPath, kIdentifier, kVersion);
  }
  void TearDown() override { db_.reset(); }

  // A module initialised for the test database, with the caller's credentials given.
  std::unique_ptr<TdmDBConnection> NewModule(const std::string& user = "KORVANE",
                                             const std::string& password = KorvanePassword) {
    auto module = std::make_unique<TdmDBConnection>();
    module->Init(kVersion, kIdentifier, "Base de test", "Updater");
    module->SetParams(kPath, user, "", password);
    module->DatabaseManager->Pause = [](int) {};
    return module;
  }

  // What the server function answers for a drive of this prefix.
  static void SetFreeSpace(long long bytes, char drive = 'C') {
    host::Prefix::Current().SetIni("udf", std::string("free_space_") + drive, std::to_string(bytes));
  }

  // Rows of the Users table, read through a module's own attachment.
  static std::vector<std::string> Users(TdmDBConnection& module) {
    std::vector<std::string> users;
    module.DoStartTransaction(false);
    module.GeneralQuery->SQL = {"SELECT username FROM Users ORDER BY username"};
    module.GeneralQuery->Open();
    for (; !module.GeneralQuery->Eof(); module.GeneralQuery->Next())
      users.push_back(module.GeneralQuery->Fields(0).AsString());
    module.GeneralQuery->Close();
    module.DoCommit();
    return users;
  }

  TempPrefix prefix_;
  ScriptedUi ui_;
  std::unique_ptr<ProductDatabase> db_;
};

TEST_F(ConnectionModuleTest, ConnectAsKorvaneAttachesToAFirebird3ServerAndRegistersTheUser) {
  auto module = NewModule("SOMEONE", "secret");
  module->ConnectAsKorvane();
  ASSERT_TRUE(module->Connected());
  EXPECT_TRUE(module->WasConnected());
  EXPECT_EQ(module->ServerType(), Firebird30);
  EXPECT_EQ(module->DatabaseManager->UserName(), "KORVANE");
  EXPECT_EQ(Users(*module), std::vector<std::string>{"user1 (PC07) - Updater"});
  EXPECT_TRUE(ui_.Boxes().empty());
  module->Disconnect();
  EXPECT_FALSE(module->Connected());
  EXPECT_FALSE(module->WasConnected());
}

// --- Versions ------------------------------------------------------------------------------------

struct PairCase {
  const char* client;
  const char* server;
  TIBServerType type;
};

TEST(ConnectionModuleVersions, ClientAndServerPairAsTheTableSays) {
  const PairCase cases[] = {
      {"WI-V1.0.0.794", "WI-V6.2.794 Firebird 1.0", Firebird10},
      {"WI-V1.0.2.908", "WI-V6.2.908 Firebird 1.0", Firebird10},
      {"WI-V6.3.0.4290", "WI-V1.5.0.4290 Firebird 1.5", Firebird15},
      {"WI-V6.3.0.4290", "WI-V1.5.1.4481 Firebird 1.5", Firebird15},
      {"WI-V6.3.2.4731", "WI-V1.5.2.4731 Firebird 1.5", Firebird15},
      {"WI-V2.5.0.26074", "WI-V2.5.9.27139 Firebird 2.5", Firebird25},
      {"WI-V2.5", "WI-V2.5", Firebird25},
      {"LI-V6.3.11.33637 Firebird 3.0", "LI-V3.0.11.33637 Firebird 3.0", Firebird30},
      {"LI-V6.3.11.33637 Firebird 3.0", "WI-V3.0.10.33601 Firebird 3.0", Firebird30},
      {"WI-V6.3.10.33601 Firebird 3.0", "LI-V3.0.11.33637 Firebird 3.0", Firebird30},
      {"WI-V3.0.10.33601", "WI-V3.0.10.33601 Firebird 3.0", Firebird30},
      // Refused pairs.
      {"WI-V6.3.2.4731", "WI-V1.5.1.4481 Firebird 1.5", UnknownServer},
      {"WI-V1.0.0.794", "WI-V6.2.908 Firebird 1.0", UnknownServer},
      {"WI-V6.3.0.4290", "WI-V1.5.2.4731 Firebird 1.5", UnknownServer},
      {"WI-V6.3.2.4731", "WI-V1.5.2.4731 Firebird 1.5 ", UnknownServer},
      {"wi-v6.3.2.4731", "WI-V1.5.2.4731 Firebird 1.5", UnknownServer},
      {"WI-V2.5.0.26074", "LI-V2.5.9.27139 Firebird 2.5", UnknownServer},
      {"WI-V2.5.0.26074", "LI-V3.0.11.33637 Firebird 3.0", UnknownServer},
      {"LI-V6.3.11.33637 Firebird 3.0", "WI-V2.5.9.27139 Firebird 2.5", UnknownServer},
      {"LI-V6.3.11.33637 Firebird 3.0", "LI-V4.0.2.2816 Firebird 4.0", UnknownServer},
      {"LI-V6.3.11.33637 Firebird 3.0", "?", UnknownServer},
      {"WI-V6.3.2.4731", "LI-V3.0.11.33637 Firebird 3.0", UnknownServer},
      {"?", "LI-V3.0.11.33637 Firebird 3.0", UnknownServer},
  };
  for (const PairCase& c : cases) {
    EXPECT_EQ(TdmDBConnection::PairVersions(c.client, c.server), c.type) << c.client << " / " << c.server;
  }
}

TEST(ConnectionModuleVersions, OnlyTheListedClientsAreKnown) {
  for (const char* known :
       {"WI-V1.0.0.794", "WI-V1.0.2.908", "WI-V6.3.0.4290", "WI-V6.3.2.4731", "WI-V2.5", "WI-V2.5.9.27139",
        "LI-V6.3.11.33637 Firebird 3.0", "WI-V6.3.10.33601 Firebird 3.0", "WI-V3.0.10.33601"}) {
    EXPECT_TRUE(TdmDBConnection::IsKnownClientVersion(known)) << known;
  }
  for (const char* unknown : {"?", "", "WI-V6.3.1.4481", "WI-V1.0.0.79", "WI-V2.1.7.18553", "wi-v2.5.9",
                              "LI-V2.5.9.27139", "LI-V6.3.11.33637 Firebird 4.0", "LI-V4.0.2.2816"}) {
    EXPECT_FALSE(TdmDBConnection::IsKnownClientVersion(unknown)) << unknown;
  }
}

TEST_F(ConnectionModuleTest, AClientWithoutVersionIsRefusedBeforeAnyAttachment) {
  auto module = NewModule();
  // A database that does not exist: an attempt to attach would fail with another text.
  module->SetParams("C:\\Data\\NOWHERE.FDB", "KORVANE", "", KorvanePassword);
  module->ClientVersionReader = [] { return std::string("?"); };
  bool serverAsked = false;
  module->ServerVersionReader = [&] {
    serverAsked = true;
    return std::string("LI-V3.0.11.33637 Firebird 3.0");
  };
  EXPECT_EQ(ErrorOf([&] { module->Connect(); }), kUnknownClient + "?");
  EXPECT_FALSE(serverAsked);
  EXPECT_FALSE(module->Connected());
  EXPECT_FALSE(module->WasConnected());
}

TEST_F(ConnectionModuleTest, AnUnpairedServerIsRefusedAndTheModuleLeftDisconnected) {
  auto module = NewModule();
  module->ClientVersionReader = [] { return std::string("WI-V6.3.2.4731"); };
  module->ServerVersionReader = [] { return std::string("WI-V1.5.1.4481 Firebird 1.5"); };
  EXPECT_EQ(ErrorOf([&] { module->ConnectAsKorvane(); }),
            kNoPair + "Client : WI-V6.3.2.4731\r\nServer : WI-V1.5.1.4481 Firebird 1.5");
  EXPECT_FALSE(module->Connected());
  EXPECT_EQ(module->ServerType(), UnknownServer);

  module->ServerVersionReader = [] { return std::string("WI-V1.5.2.4731 Firebird 1.5"); };
  module->ConnectAsKorvane();
  EXPECT_TRUE(module->Connected());
  EXPECT_EQ(module->ServerType(), Firebird15);
}

TEST_F(ConnectionModuleTest, TheLoadedClientAndTheEmbeddedServerAreAskedForTheirVersions) {
  auto module = NewModule();
  std::string version, implementation;
  int serviceVersion = -1;
  module->GetServerInfo(version, implementation, serviceVersion);
  EXPECT_EQ(version.rfind("LI-V3.0.", 0), 0u) << version;
  EXPECT_NE(implementation, "?");
  EXPECT_GT(serviceVersion, 0);
  EXPECT_EQ(module->GetServerVersion(""), version);
  module->Connect();
  EXPECT_EQ(module->ServerType(), Firebird30);
}

TEST_F(ConnectionModuleTest, GetServerInfoAnswersUnknownForOtherConnectionKinds) {
  auto module = NewModule();
  for (const char* other : {"\\\\srv\\data\\a.fdb", "srv:/opt/a.fdb", "srv@vol", "a.fdb", "srv:alias"}) {
    module->SetParams(other, "KORVANE", "", KorvanePassword);
    std::string version = "x", implementation = "x";
    int serviceVersion = -1;
    module->GetServerInfo(version, implementation, serviceVersion);
    EXPECT_EQ(version, "?") << other;
    EXPECT_EQ(implementation, "?") << other;
    EXPECT_EQ(serviceVersion, 0) << other;
    EXPECT_EQ(module->GetServerVersion("srv"), "") << other;
  }
}

// --- The database's identity ----------------------------------------------------------------------

// An older database is refused as firmly as a newer one: a module that writes into a schema it
// does not know is the dangerous direction.
TEST_F(ConnectionModuleTest, ADatabaseOfAnotherVersionIsRefusedWhileConnectAnyVersionAttaches) {
  for (const std::int32_t version : {1, 3}) {
    SCOPED_TRACE(version);
    db_.reset();
    db_ = std::make_unique<ProductDatabase>(prefix_, kPath, kIdentifier, version);
    auto module = NewModule();
    EXPECT_EQ(ErrorOf([&] { module->ConnectAsKorvane(); }),
              "La base de données n'est pas compatible avec le programme!\r\n\r\nDatabase : TS_Test\r\nVersion : " +
                  std::to_string(version));
    EXPECT_FALSE(module->Connected());
    EXPECT_TRUE(ui_.Boxes().empty());

    module->ConnectAnyVersion();
    EXPECT_TRUE(module->Connected());
    EXPECT_EQ(module->DatabaseManager->UserName(), "KORVANE");
    EXPECT_EQ(Users(*module), std::vector<std::string>{"user1 (PC07) - Updater"});
    // The check is back for the next connection.
    EXPECT_EQ(ErrorOf([&] { module->Connect(); }).rfind("La base de données n'est pas compatible", 0), 0u);
    EXPECT_FALSE(module->Connected());
  }
}

TEST_F(ConnectionModuleTest, ADatabaseOfAnotherKindIsRefused) {
  auto module = std::make_unique<TdmDBConnection>();
  module->Init(kVersion, "TS_Adresses", "", "Updater");
  module->SetParams(kPath, "KORVANE", "", KorvanePassword);
  EXPECT_EQ(
      ErrorOf([&] { module->Connect(); }),
      "La base de données n'est pas compatible avec le programme!\r\n\r\nDatabase : TS_Test\r\nVersion : 2");
  EXPECT_FALSE(module->Connected());
}

TEST_F(ConnectionModuleTest, AnEmptyConnectionStringIsRefused) {
  auto module = NewModule();
  module->SetParams("", "KORVANE", "", KorvanePassword);
  EXPECT_EQ(ErrorOf([&] { module->Connect(); }),
            "Le nom de la base de données manque.\r\nVeuillez compléter la configuration du programme.");
  EXPECT_FALSE(module->Connected());
}

TEST_F(ConnectionModuleTest, GetDBVersionStaysAttached) {
  auto module = NewModule();
  std::string identifier;
  std::int32_t version = 0;
  module->GetDBVersion(identifier, version);
  EXPECT_EQ(identifier, kIdentifier);
  EXPECT_EQ(version, kVersion);
  EXPECT_TRUE(module->Connected());
}

TEST_F(ConnectionModuleTest, SetDBVersionWritesAsKorvaneAndEndsDisconnectedWithoutCredentials) {
  auto module = NewModule("SOMEONE", "secret");
  module->SetDBVersion(5, "C:\\Data\\OTHER.FDB");
  EXPECT_FALSE(module->Connected());
  EXPECT_EQ(module->DatabaseManager->UserName(), "");
  EXPECT_EQ(module->DatabaseManager->Password(), "");
  EXPECT_EQ(module->DatabaseManager->ConnectionString(), kPath);  // the stored string is kept
  module->SetParams(kPath, "KORVANE", "", KorvanePassword);
  std::string identifier;
  std::int32_t version = 0;
  module->GetDBVersion(identifier, version);
  EXPECT_EQ(version, 5);

  // With no stored string, the one given is used.
  module->SetParams("", "", "", "");
  module->SetDBVersion(6, kPath);
  module->SetParams(kPath, "KORVANE", "", KorvanePassword);
  module->GetDBVersion(identifier, version);
  EXPECT_EQ(version, 6);
}

TEST_F(ConnectionModuleTest, ReConnectAsUserGivesBackTheCallersCredentials) {
  auto module = NewModule("PUBLIC_READER_WRITER", "tarpon");
  module->SetParams(kPath, "PUBLIC_READER_WRITER", "ROLE_READER_WRITER", "tarpon");
  module->ConnectAsKorvane();
  EXPECT_EQ(module->DatabaseManager->UserName(), "KORVANE");
  EXPECT_EQ(module->DatabaseManager->Role(), "");
  module->ReConnectAsUser();
  EXPECT_TRUE(module->Connected());
  EXPECT_EQ(module->DatabaseManager->UserName(), "PUBLIC_READER_WRITER");
  EXPECT_EQ(module->DatabaseManager->Role(), "ROLE_READER_WRITER");
  EXPECT_EQ(module->DatabaseManager->Password(), "tarpon");
  EXPECT_EQ(module->IBDatabase->Params,
            (std::vector<std::string>{"user_name=PUBLIC_READER_WRITER", "password=tarpon",
                                      "sql_role_name=ROLE_READER_WRITER", "lc_ctype=ISO8859_1"}));
}

TEST_F(ConnectionModuleTest, SetParamsDisconnectsAndConnectionTypeFollowsTheStoredString) {
  auto module = NewModule();
  module->Connect();
  EXPECT_EQ(module->ConnectionType(), ibctLocal);
  module->SetParams("10.0.0.1:D:\\x.fdb", "U", "R", "P");
  EXPECT_FALSE(module->Connected());
  EXPECT_EQ(module->ConnectionType(), ibctTCPIP);
  EXPECT_EQ(module->DatabaseManager->UserName(), "U");
  EXPECT_EQ(module->DatabaseManager->Role(), "R");
  EXPECT_EQ(module->DatabaseManager->Password(), "P");
  module->SetParams("\\\\srv\\data\\a.fdb", "", "", "");
  EXPECT_EQ(module->ConnectionType(), ibctNetBEUI);
}

// --- Users -----------------------------------------------------------------------------------------

TEST_F(ConnectionModuleTest, TheUserStringNamesTheSessionInARemoteSession) {
  prefix_.SetSystem("remote_session", "1");
  prefix_.SetSystem("session", "3");
  auto module = NewModule();
  module->Connect();
  std::vector<std::string> users;
  module->GetUserList(users);
  EXPECT_EQ(users, std::vector<std::string>{"user1 (3) - Updater"});
}

TEST_F(ConnectionModuleTest, TheUserStringSaysWhatIsUnknownWhenNobodyIsLoggedOn) {
  auto module = NewModule();
  module->Connect();
  prefix_.SetSystem("logged_on", "0");
  module->DatabaseManager->ExecuteSQL("DELETE FROM Users");
  auto other = NewModule();
  other->Connect();
  ASSERT_TRUE(other->Connected());
  prefix_.SetSystem("logged_on", "1");
  std::vector<std::string> users;
  module->GetUserList(users);
  EXPECT_EQ(users, std::vector<std::string>{"? (?) - Updater"});
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(ConnectionModuleTest, UsersAreListedWhileAttachedAndUnregisteredByDisconnect) {
  auto first = NewModule();
  auto second = NewModule();
  second->SetShortClientName("Gestion");
  first->Connect();
  second->Connect();
  std::vector<std::string> users = {"stale"};
  first->GetUserList(users);
  EXPECT_EQ(users, (std::vector<std::string>{"user1 (PC07) - Gestion", "user1 (PC07) - Updater"}));
  EXPECT_EQ(first->GetConnectionCount(), 2);
  second->Disconnect();
  first->GetUserList(users);
  EXPECT_EQ(users, std::vector<std::string>{"user1 (PC07) - Updater"});
  EXPECT_EQ(first->GetConnectionCount(), 1);
  // Destroying an attached module disconnects it, unregistering the user.
  second->Connect();
  second.reset();
  first->GetUserList(users);
  EXPECT_EQ(users, std::vector<std::string>{"user1 (PC07) - Updater"});
  first->Disconnect();
  first->GetUserList(users);
  EXPECT_TRUE(users.empty());
  EXPECT_EQ(ErrorOf([&] { first->GetConnectionCount(); }), "not connected");
}

// --- Free disk space -------------------------------------------------------------------------------

TEST_F(ConnectionModuleTest, LowFreeSpaceWarnsOncePerCheck) {
  SetFreeSpace(120000000);
  auto module = NewModule();
  module->Connect();
  EXPECT_TRUE(module->Connected());
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].kind, MessageKind::Warning);
  EXPECT_EQ(ui_.Boxes()[0].text, kLowSpace + "120 Mb");

  module->ConnectAsKorvane();  // checks twice
  EXPECT_TRUE(module->Connected());
  ASSERT_EQ(ui_.Boxes().size(), 3u);
  EXPECT_EQ(ui_.Boxes()[1].text, kLowSpace + "120 Mb");
  EXPECT_EQ(ui_.Boxes()[2].text, kLowSpace + "120 Mb");
}

TEST_F(ConnectionModuleTest, TooLittleFreeSpaceDisconnectsAfterAnErrorBoxWithoutAnException) {
  SetFreeSpace(40000000);
  auto module = NewModule();
  module->ConnectAsKorvane();
  EXPECT_FALSE(module->Connected());
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].kind, MessageKind::Error);
  EXPECT_EQ(ui_.Boxes()[0].text, kNoSpace + "40 Mb");
  // Nobody was left registered.
  SetFreeSpace(10000000000LL);
  module->Connect();
  EXPECT_EQ(Users(*module), std::vector<std::string>{"user1 (PC07) - Updater"});
}

TEST_F(ConnectionModuleTest, AServerThatCannotTellIsReportedOnceForTheLifeOfTheModule) {
  SetFreeSpace(0);
  ManualClock clock;
  auto module = NewModule();
  module->ConnectAsKorvane();
  EXPECT_TRUE(module->Connected());
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].kind, MessageKind::Warning);
  EXPECT_EQ(ui_.Boxes()[0].text, kUnknownSpace);
  // Not even critically low space is checked any more.
  SetFreeSpace(1);
  module->ConnectAsKorvane();
  clock.Advance(TdmDBConnection::kDiskSpaceInterval);
  EXPECT_TRUE(module->Connected());
  EXPECT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(module->GetFreeDiskSpace(), 1);
}

TEST_F(ConnectionModuleTest, ANegativeAnswerIsAServerThatCannotTell) {
  SetFreeSpace(-1);
  auto module = NewModule();
  module->Connect();
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].text, kUnknownSpace);
}

TEST_F(ConnectionModuleTest, PlentyOfFreeSpaceSaysNothing) {
  SetFreeSpace(150000000);
  auto module = NewModule();
  module->ConnectAsKorvane();
  EXPECT_TRUE(module->Connected());
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(module->GetFreeDiskSpace(), 150000000);
}

TEST_F(ConnectionModuleTest, GetFreeDiskSpaceTakesTheDriveLetterOfTheConnectionString) {
  auto module = NewModule();
  module->Connect();
  SetFreeSpace(777, 'D');
  SetFreeSpace(555, 'C');
  // The stored string alone decides the letter; the attachment stays where it is.
  const std::pair<const char*, std::int64_t> cases[] = {
      {"C:\\Data\\SOC.FDB", 555},
      {"srv:D:\\x.fdb", 777},
      {"192.168.0.5:C:\\data\\a.fdb", 555},
      {"d:\\a.fdb", 777},
  };
  for (const auto& [connection, bytes] : cases) {
    module->DatabaseManager->SetConnectionString(connection);
    EXPECT_EQ(module->GetFreeDiskSpace(), bytes) << connection;
  }
  EXPECT_EQ(module->TransactionState(), "0");
}

TEST_F(ConnectionModuleTest, GetFreeDiskSpaceBindsTheLetterSoAQuoteCannotChangeTheStatement) {
  auto module = NewModule();
  module->Connect();
  // With the letter written into the text this would be a syntax error, or worse.
  for (const char* connection : {"ab:'x", "srv:'", "srv:'); DELETE FROM Users; --"}) {
    module->DatabaseManager->SetConnectionString(connection);
    EXPECT_LE(module->GetFreeDiskSpace(), 0) << connection;
  }
  EXPECT_EQ(Users(*module).size(), 1u);
  EXPECT_EQ(module->TransactionState(), "0");
}

TEST_F(ConnectionModuleTest, GetFreeDiskSpaceWithoutADriveLetterRaises) {
  auto module = NewModule();
  for (const char* connection : {"\\\\srv\\data\\a.fdb", "a.fdb", "srv:", ""}) {
    module->SetParams(connection, "", "", "");
    EXPECT_EQ(ErrorOf([&] { module->GetFreeDiskSpace(); }), "0312181326") << connection;
  }
  EXPECT_EQ(module->TransactionState(), "0");
}

// --- A connection that fails after the attachment --------------------------------------------------

// Another workstation's attachment to the test database.
struct OtherAttachment : test::KorvaneAttachment {
  OtherAttachment() : KorvaneAttachment(kPath) {}
  std::vector<std::string> Users() { return Column("SELECT username FROM Users"); }
};

// A message box interface that refuses its second box, as a failure of the second free-space check
// of ConnectAsKorvane.
class SecondBoxFails : public ScriptedUi {
 public:
  int MessageBox(const std::string& caption, const std::string& text, MessageKind kind,
                 unsigned buttons) override {
    if (++boxes_ == 2) throw Error("refused");
    return ScriptedUi::MessageBox(caption, text, kind, buttons);
  }

 private:
  int boxes_ = 0;
};

struct ConnectFault {
  const char* name;
  std::function<void(TdmDBConnection&)> make;
};

TEST_F(ConnectionModuleTest, AConnectionThatFailsAfterTheAttachmentLeavesNeitherAttachmentNorUser) {
  const ConnectFault faults[] = {
      {"the server's version cannot be asked",
       [](TdmDBConnection& m) {
         m.ServerVersionReader = []() -> std::string { throw DatabaseError("lost", -902, 335544721); };
       }},
      {"the database's version cannot be read",
       [](TdmDBConnection&) { OtherAttachment().Run("DROP TABLE ConnectionControl"); }},
      {"the free-space function is unknown",
       [](TdmDBConnection&) { OtherAttachment().Run("DROP EXTERNAL FUNCTION GetFreeDiskSpace"); }},
  };
  using Operation = void (TdmDBConnection::*)();
  const std::pair<const char*, Operation> operations[] = {
      {"Connect", &TdmDBConnection::Connect},
      {"ConnectAsKorvane", &TdmDBConnection::ConnectAsKorvane},
      {"ConnectAnyVersion", &TdmDBConnection::ConnectAnyVersion}};
  for (const ConnectFault& fault : faults) {
    for (const auto& [name, operation] : operations) {
      db_.reset();
      db_ = std::make_unique<ProductDatabase>(prefix_, kPath, kIdentifier, kVersion);
      auto module = NewModule();
      fault.make(*module);
      EXPECT_THROW((module.get()->*operation)(), std::exception) << fault.name << ", " << name;
      EXPECT_FALSE(module->Connected()) << fault.name << ", " << name;
      EXPECT_EQ(module->TransactionState(), "0");
      module.reset();
      EXPECT_TRUE(OtherAttachment().Users().empty()) << fault.name << ", " << name;
    }
  }
}

TEST_F(ConnectionModuleTest, ASecondFreeSpaceCheckThatFailsUnregistersTheUserAndDisconnects) {
  SetFreeSpace(120000000);  // each check shows its warning box
  for (auto operation : {&TdmDBConnection::ConnectAsKorvane, &TdmDBConnection::ConnectAnyVersion}) {
    SecondBoxFails ui;
    auto module = NewModule();
    EXPECT_THROW((module.get()->*operation)(), Error);
    EXPECT_FALSE(module->Connected());
    EXPECT_TRUE(OtherAttachment().Users().empty()) << "the user registered by Connect is gone";
  }
}

// --- Rows another workstation holds ----------------------------------------------------------------

// Holds a row in an open transaction of another attachment until the end of the scope, or at most
// `most` (so that a waiter that never gives up still ends the test, late).
class HeldRow {
 public:
  HeldRow(const std::string& update, std::chrono::seconds most) {
    transaction_.SetDefaultDatabase(&other_.database);
    statement_.SetDatabase(&other_.database);
    statement_.SetTransaction(&transaction_);
    statement_.SQL = {update};
    transaction_.StartTransaction();
    statement_.ExecQuery();
    release_ = std::thread([this, most] {
      std::unique_lock lock(mutex_);
      wake_.wait_for(lock, most, [this] { return done_; });
      statement_.Close();
      transaction_.Rollback();
    });
  }
  ~HeldRow() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    release_.join();
  }
  HeldRow(const HeldRow&) = delete;
  HeldRow& operator=(const HeldRow&) = delete;

 private:
  OtherAttachment other_;
  TIBTransaction transaction_;
  TIBSQL statement_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread release_;
};

constexpr auto kHolderGivesUp = std::chrono::seconds(30);

TEST_F(ConnectionModuleTest, ARegisteredRowHeldElsewhereCostsTheRegistrationItsAttemptsNotAWaitForEver) {
  OtherAttachment().Run("INSERT INTO Users (username, lastcheck) VALUES ('user1 (PC07) - Updater', 'Now')");
  auto module = NewModule();
  module->LockTimeoutSeconds = 1;
  const HeldRow held("UPDATE Users SET lastcheck = 'Now' WHERE username = 'user1 (PC07) - Updater'",
                     kHolderGivesUp);
  const auto start = std::chrono::steady_clock::now();
  module->Connect();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(module->Connected()) << "registration gives up and the connection goes on";
  // Five attempts of about one second each (the engine counts whole seconds), no pause here.
  EXPECT_LT(took, std::chrono::seconds(15));
  EXPECT_GE(took, std::chrono::seconds(4)) << "each attempt waited for the row";
}

TEST_F(ConnectionModuleTest, SetDBVersionOnAHeldRowFailsWithTheServersLockErrorWithinTheBound) {
  auto module = NewModule();
  module->LockTimeoutSeconds = 1;
  const HeldRow held("UPDATE ConnectionControl SET sval = '9' WHERE id = 3", kHolderGivesUp);
  const auto start = std::chrono::steady_clock::now();
  try {
    module->SetDBVersion(5, kPath);
    ADD_FAILURE() << "wrote a held row";
  } catch (const DatabaseError& e) {
    // The engine's answer once the lock time-out has passed: update conflicts with concurrent update.
    EXPECT_EQ(e.EngineCode(), 335544336) << e.what();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(module->Connected());
}

// --- Nested transactions ---------------------------------------------------------------------------

class TransactionTest : public ConnectionModuleTest {
 protected:
  void SetUp() override {
    ConnectionModuleTest::SetUp();
    module_ = NewModule();
    module_->Connect();
    Exec("CREATE TABLE T (N INTEGER)");
  }
  void TearDown() override {
    module_.reset();
    ConnectionModuleTest::TearDown();
  }
  void Exec(const std::string& sql) {
    module_->DoStartTransaction(false);
    try {
      module_->IBSQL->SQL = {sql};
      module_->IBSQL->ExecQuery();
      module_->DoCommit();
    } catch (const std::exception& e) {
      module_->DoRollback(e);
    }
  }
  std::int64_t TransactionId() {
    module_->GeneralQuery->SQL = {"SELECT CURRENT_TRANSACTION FROM rdb$database"};
    module_->GeneralQuery->Open();
    const std::int64_t id = module_->GeneralQuery->Fields(0).AsInt64();
    module_->GeneralQuery->Close();
    return id;
  }
  int Rows() {
    module_->DoStartTransaction(false);
    module_->GeneralQuery->SQL = {"SELECT COUNT(*) FROM T"};
    module_->GeneralQuery->Open();
    const int rows = module_->GeneralQuery->Fields(0).AsInteger();
    module_->GeneralQuery->Close();
    module_->DoCommit();
    return rows;
  }
  std::unique_ptr<TdmDBConnection> module_;
};

TEST_F(TransactionTest, ThreeNestedStartsAndCommitsMakeOneTransaction) {
  std::vector<std::int64_t> ids;
  for (int level = 1; level <= 3; ++level) {
    EXPECT_TRUE(module_->DoStartTransaction(false));
    EXPECT_EQ(module_->TransactionState(), std::to_string(level));
    EXPECT_EQ(module_->GlobalTransaction->Tag, level);
    EXPECT_TRUE(module_->InTransaction());
    ids.push_back(TransactionId());
    Exec("INSERT INTO T VALUES (" + std::to_string(level) + ")");
  }
  EXPECT_EQ(ids[0], ids[1]);
  EXPECT_EQ(ids[1], ids[2]);
  module_->DoCommit();
  module_->DoCommit();
  EXPECT_TRUE(module_->InTransaction());
  EXPECT_EQ(module_->TransactionState(), "1");
  module_->DoCommit();
  EXPECT_FALSE(module_->InTransaction());
  EXPECT_EQ(module_->TransactionState(), "0");
  EXPECT_EQ(Rows(), 3);
}

TEST_F(TransactionTest, ARollbackAtDepthTwoOnlyLowersTheDepthAndRaisesAgain) {
  module_->DoStartTransaction(false);
  Exec("INSERT INTO T VALUES (1)");
  module_->DoStartTransaction(false);
  DatabaseError failure("table inconnue", -204, 335544580);
  try {
    module_->DoRollback(failure);
    FAIL() << "DoRollback returned";
  } catch (const DatabaseError& e) {
    EXPECT_STREQ(e.what(), "table inconnue");
    EXPECT_EQ(e.SQLCode(), -204);
    EXPECT_EQ(e.EngineCode(), 335544580);
  }
  EXPECT_EQ(module_->TransactionState(), "1");
  EXPECT_TRUE(module_->InTransaction());
  module_->DoCommit();
  EXPECT_EQ(Rows(), 1);
}

TEST_F(TransactionTest, ARollbackAtTheOutermostLevelUndoesTheWork) {
  module_->DoStartTransaction(false);
  Exec("INSERT INTO T VALUES (1)");
  EXPECT_EQ(ErrorOf([&] { module_->DoRollback(std::runtime_error("autre")); }), "autre");
  EXPECT_FALSE(module_->InTransaction());
  EXPECT_EQ(Rows(), 0);
}

TEST_F(TransactionTest, DoRollbackRaisesEachKindOfExceptionAsItsOwnKind) {
  module_->DoStartTransaction(false);
  EXPECT_THROW(module_->DoRollback(SilentAbort()), SilentAbort);
  module_->DoStartTransaction(false);
  try {
    module_->DoRollback(std::logic_error("logique"));
  } catch (const DatabaseError&) {
    FAIL() << "a plain failure became a database error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "logique");
  }
  EXPECT_EQ(module_->TransactionState(), "0");
}

TEST_F(TransactionTest, TheExceptionHandlerReceivesDatabaseErrorsInsteadOfARaise) {
  std::vector<std::string> received;
  module_->SetExceptionMessageHandler([&](int sqlCode, int engineCode, const std::string& message) {
    received.push_back(std::to_string(sqlCode) + " " + std::to_string(engineCode) + " " + message);
  });
  Exec("INSERT INTO NOWHERE VALUES (1)");
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].rfind("-204 335544569 ", 0), 0u) << received[0];
  EXPECT_EQ(module_->TransactionState(), "0");
  EXPECT_FALSE(module_->InTransaction());
  // Other failures are still raised.
  module_->DoStartTransaction(false);
  EXPECT_THROW(module_->DoRollback(std::runtime_error("x")), Error);
}

TEST_F(TransactionTest, AFourthCommitFailsTheAssertion) {
  for (int i = 0; i < 3; ++i) module_->DoStartTransaction(false);
  for (int i = 0; i < 3; ++i) module_->DoCommit();
  const std::string error = ErrorOf([&] { module_->DoCommit(); });
  EXPECT_EQ(error.rfind("TRANSACTION MANAGEMENT ERROR (dmDBConnectionUnit.cpp, ligne ", 0), 0u) << error;
  // The module goes on working.
  EXPECT_EQ(module_->TransactionState(), "0");
  Exec("INSERT INTO T VALUES (1)");
  EXPECT_EQ(Rows(), 1);
}

// The server refuses the commit of the outermost level (here a database trigger raises): the
// caller's rollback ends the transaction on the server too, and the module goes on.
TEST_F(TransactionTest, ACommitRefusedAtTheOutermostLevelIsRolledBackAndTheNextUnitRuns) {
  Exec("CREATE EXCEPTION COMMIT_REFUSED 'commit refused'");
  Exec("CREATE TRIGGER REFUSE_COMMIT ON TRANSACTION COMMIT AS BEGIN "
       "IF (EXISTS(SELECT * FROM T WHERE N = 13)) THEN EXCEPTION COMMIT_REFUSED; END");
  const std::string error = ErrorOf([&] { Exec("INSERT INTO T VALUES (13)"); });
  EXPECT_NE(error.find("commit refused"), std::string::npos) << error;
  EXPECT_FALSE(module_->InTransaction());
  EXPECT_EQ(module_->TransactionState(), "0");
  EXPECT_EQ(Rows(), 0);
  // The next unit of work is the attachment's only transaction on the server.
  module_->DoStartTransaction(false);
  module_->GeneralQuery->SQL = {
      "SELECT COUNT(*) FROM MON$TRANSACTIONS WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION"};
  module_->GeneralQuery->Open();
  EXPECT_EQ(module_->GeneralQuery->Fields(0).AsInteger(), 1);
  module_->GeneralQuery->Close();
  module_->DoCommit();
  Exec("INSERT INTO T VALUES (1)");
  EXPECT_EQ(Rows(), 1);
}

TEST_F(TransactionTest, AReadOnlyTransactionRefusesWritesAndIsNotKeptForTheNext) {
  EXPECT_TRUE(module_->DoStartReadOnlyTransaction(false));
  EXPECT_EQ(module_->GlobalTransaction->Params, (std::vector<std::string>{"concurrency", "nowait", "read"}));
  module_->IBSQL->SQL = {"INSERT INTO T VALUES (1)"};
  EXPECT_THROW(module_->IBSQL->ExecQuery(), DatabaseError);
  module_->DoCommit();
  EXPECT_TRUE(module_->GlobalTransaction->Params.empty());
  Exec("INSERT INTO T VALUES (1)");
  EXPECT_EQ(Rows(), 1);
  // Nested into a running transaction it changes nothing.
  module_->DoStartTransaction(false);
  EXPECT_TRUE(module_->DoStartReadOnlyTransaction(false));
  EXPECT_TRUE(module_->GlobalTransaction->Params.empty());
  module_->DoCommit();
  module_->DoCommit();
}

TEST_F(TransactionTest, AStartWithoutAttachmentFailsAsAsked) {
  module_->Disconnect();
  EXPECT_FALSE(module_->DoStartTransaction(true));
  EXPECT_EQ(module_->TransactionState(), "0");
  EXPECT_FALSE(module_->DoStartReadOnlyTransaction(true));
  EXPECT_TRUE(module_->GlobalTransaction->Params.empty());
  EXPECT_THROW(module_->DoStartTransaction(false), DatabaseError);
  EXPECT_EQ(module_->TransactionState(), "0");
}

TEST_F(TransactionTest, DoSilentRollbackSwallowsEverything) {
  module_->DoStartTransaction(false);
  Exec("INSERT INTO T VALUES (1)");
  module_->DoSilentRollback();
  EXPECT_EQ(module_->TransactionState(), "0");
  EXPECT_EQ(Rows(), 0);
  module_->DoSilentRollback();  // unpaired: nothing to undo
  EXPECT_EQ(module_->TransactionState(), "0");
}

TEST_F(TransactionTest, DisconnectEndsAnOpenTransactionAndResetsTheDepth) {
  module_->DoStartTransaction(false);
  module_->DoStartTransaction(false);
  Exec("INSERT INTO T VALUES (1)");
  module_->Disconnect();
  EXPECT_FALSE(module_->InTransaction());
  EXPECT_EQ(module_->TransactionState(), "0");
  module_->Connect();
  EXPECT_EQ(Rows(), 0);
}

// --- Datasets --------------------------------------------------------------------------------------

TEST_F(TransactionTest, FreeDatasetEndsTheUseOfADatasetByItsTag) {
  // Tag 1: closed, and its unit of work committed.
  TIBQuery query;
  query.Name = "Query1";
  query.SetDatabase(module_->IBDatabase.get());
  query.SetTransaction(module_->GlobalTransaction.get());
  query.Tag = 1;
  module_->DoStartTransaction(false);
  Exec("INSERT INTO T VALUES (1)");
  query.SQL = {"SELECT N FROM T"};
  query.Open();
  module_->FreeDataset(&query);
  EXPECT_FALSE(query.Active());
  EXPECT_FALSE(module_->InTransaction());
  EXPECT_EQ(Rows(), 1);

  // Tag 2: freed as well.
  struct Watch : TComponent {
    bool freed = false;
    void Notification(TComponent*, TOperation operation) override {
      freed |= operation == TOperation::opRemove;
    }
  } watch;
  auto* owned = new TIBQuery;
  owned->Tag = 2;
  owned->SetTransaction(module_->GlobalTransaction.get());
  owned->FreeNotification(&watch);
  module_->DoStartTransaction(false);
  module_->FreeDataset(owned);
  EXPECT_TRUE(watch.freed);
  EXPECT_EQ(module_->TransactionState(), "0");

  // Tag 3: the schema manager's.
  TIBQuery* tracked = module_->DatabaseManager->CreateQueryGlobal();
  tracked->Tag = 3;
  EXPECT_EQ(module_->DatabaseManager->DatasetList().size(), 1u);
  module_->FreeDataset(tracked);
  EXPECT_TRUE(module_->DatabaseManager->DatasetList().empty());

  module_->FreeDataset(nullptr);
  query.Tag = 0;
  EXPECT_EQ(ErrorOf([&] { module_->FreeDataset(&query); }), "Tag unknown in DataSet Query1");
  query.Tag = 4;
  EXPECT_EQ(ErrorOf([&] { module_->FreeDataset(&query); }), "Tag unknown in DataSet Query1");
}

TEST_F(TransactionTest, AClientDatasetReadsAndWritesItsRowsBack) {
  Exec("CREATE TABLE P (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
  Exec("INSERT INTO P VALUES (1, 'un')");
  Exec("INSERT INTO P VALUES (2, 'deux')");
  Exec("INSERT INTO P VALUES (3, NULL)");
  TLocalClientDataset* cds = module_->CreateGlobalCDS();
  ASSERT_NE(cds, nullptr);
  ASSERT_NE(cds->Dsp, nullptr);
  ASSERT_NE(cds->Query, nullptr);
  EXPECT_EQ(cds->Query->Transaction(), module_->GlobalTransaction.get());
  cds->Query->SQL = {"SELECT ID, NAME FROM P ORDER BY ID"};
  cds->Open();
  EXPECT_FALSE(module_->InTransaction());
  ASSERT_EQ(cds->RecordCount(), 3);
  EXPECT_EQ(cds->FieldValue(1, "name").AsString(), "deux");
  cds->SetFieldValue(0, "NAME", fb::Value::Text("premier"));
  cds->SetFieldValue(2, "NAME", fb::Value::Text("trois"));
  cds->Delete(1);
  cds->AppendRecord({fb::Value::Integer(4), fb::Value::Text("quatre")});
  EXPECT_EQ(cds->ChangeCount(), 4);
  cds->ApplyUpdates();
  EXPECT_EQ(cds->ChangeCount(), 0);
  EXPECT_FALSE(module_->InTransaction());

  cds->Open();
  std::vector<std::string> rows;
  for (int i = 0; i < cds->RecordCount(); ++i)
    rows.push_back(cds->FieldValue(i, "ID").AsString() + "=" + cds->FieldValue(i, "NAME").AsString());
  EXPECT_EQ(rows, (std::vector<std::string>{"1=premier", "3=trois", "4=quatre"}));
  module_->FreeGlobalCDS(cds);
  EXPECT_EQ(cds, nullptr);
  module_->FreeGlobalCDS(cds);  // none: nothing
}

TEST_F(TransactionTest, ARefusedUpdateThroughAClientDatasetRaisesItsKindsMessage) {
  Exec("CREATE TABLE P (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(5))");
  Exec("INSERT INTO P VALUES (1, 'un')");
  TLocalClientDataset* cds = module_->CreateGlobalCDS();
  cds->Query->SQL = {"SELECT ID, NAME FROM P"};

  cds->Open();
  cds->AppendRecord({fb::Value::Integer(1), fb::Value::Text("bis")});
  std::string error = ErrorOf([&] { cds->ApplyUpdates(); });
  EXPECT_EQ(error.rfind("L'insertion n'a pas pu se faire dans la base de données.\r\n\r\n", 0), 0u) << error;
  EXPECT_NE(error.find("PRIMARY"), std::string::npos) << error;
  EXPECT_FALSE(module_->InTransaction());

  cds->Open();
  cds->SetFieldValue(0, "NAME", fb::Value::Text("beaucoup trop long"));
  error = ErrorOf([&] { cds->ApplyUpdates(); });
  EXPECT_EQ(error.rfind("La modification n'a pas pu se faire dans la base de données.\r\n\r\n", 0), 0u)
      << error;

  // Deleted by someone else in the meantime.
  cds->Open();
  Exec("DELETE FROM P");
  cds->Delete(0);
  error = ErrorOf([&] { cds->ApplyUpdates(); });
  EXPECT_EQ(error.rfind("La suppression n'a pas pu se faire dans la base de données.\r\n\r\n", 0), 0u)
      << error;
  module_->FreeGlobalCDS(cds);
}

TEST_F(TransactionTest, AClientDatasetInsideAModuleTransactionLeavesItToItsOwner) {
  Exec("CREATE TABLE P (ID INTEGER NOT NULL PRIMARY KEY)");
  TLocalClientDataset* cds = module_->CreateGlobalCDS();
  cds->Query->SQL = {"SELECT ID FROM P"};
  module_->DoStartTransaction(false);
  cds->Open();
  cds->AppendRecord({fb::Value::Integer(7)});
  cds->ApplyUpdates();
  EXPECT_TRUE(module_->InTransaction());
  module_->DoRollback();
  cds->Open();
  EXPECT_EQ(cds->RecordCount(), 0);
  module_->FreeGlobalCDS(cds);
}

TEST_F(ConnectionModuleTest, FreeingAnUnregisteredClientDatasetRaises) {
  auto module = NewModule();
  auto other = NewModule();
  TLocalClientDataset* foreign = other->CreateGlobalCDS();
  TLocalClientDataset* kept = foreign;
  EXPECT_EQ(ErrorOf([&] { module->FreeGlobalCDS(foreign); }), "FreeGlobalCDS : ClientDataset not found");
  EXPECT_EQ(foreign, kept);
  other->FreeGlobalCDS(foreign);
  other.reset();
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(ConnectionModuleTest, DestroyingTheModuleWithAClientDatasetLeftReportsIt) {
  auto module = NewModule();
  module->Connect();
  module->CreateGlobalCDS();
  module.reset();
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].text, "CDS NOT RELEASED\r\n");
  EXPECT_EQ(ui_.Boxes()[0].caption, "");
  EXPECT_EQ(ui_.Boxes()[0].kind, MessageKind::Error);
  EXPECT_EQ(ui_.Boxes()[0].buttons, unsigned{mbOK});
}

// --- Errors and the connection test ----------------------------------------------------------------

TEST(ConnectionModuleErrors, AnUnreachableOrLostServerIsExplainedWithTheLastSystemError) {
  const std::string explanation =
      "Aucune connexion n'a pu être établie avec le serveur.\r\nCauses possibles : \r\n\r\n1) L'ordinateur "
      "distant (serveur) est arrêté.\r\n2) L'adresse de l'ordinateur distant est incorrecte.\r\n3) Le "
      "serveur "
      "Firebird n'a pas démarré sur le poste serveur.\r\n4) Le câble de connexion réseau est "
      "débranché.\r\n5) Un "
      "firewall bloque la connexion depuis votre poste.\r\n6) Une autre session est restée ouverte sur votre "
      "poste.\r\n   (La bascule rapide des utilisateurs est activée sur cette machine.)\r\n\r\n";
  for (const long code : {335544375L, 335544721L, 335544726L, 335544727L, 335544741L}) {
    win::SetLastError(10061);
    EXPECT_EQ(
        TdmDBConnection::GetIBErrorMessage(DatabaseError("Unable to complete network request", -902, code)),
        explanation + "Unable to complete network request\r\n10061")
        << code;
  }
}

TEST(ConnectionModuleErrors, OtherExceptionsKeepTheirOwnMessage) {
  EXPECT_EQ(TdmDBConnection::GetIBErrorMessage(DatabaseError("table inconnue", -204, 335544580)),
            "table inconnue");
  EXPECT_EQ(TdmDBConnection::GetIBErrorMessage(std::runtime_error("autre")), "autre");
  EXPECT_EQ(TdmDBConnection::GetIBErrorMessage(DatabaseError("refus", -902, 335544472)),
            "Votre nom d'utilisateur n'a pas été reconnu,\r\nou votre mot de passe n'est pas valable!");
}

TEST_F(ConnectionModuleTest, TestDbConnectionReportsTheFreeSpaceInTheUsersGrouping) {
  SetFreeSpace(123456789012LL);
  EXPECT_TRUE(TdmDBConnection::TestDbConnection(kIdentifier, kPath, kVersion, true));
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].kind, MessageKind::Information);
  EXPECT_EQ(ui_.Boxes()[0].text, "Connexion \"TS_Test\" OK.\r\n123\u00A0456 Mb");
  EXPECT_EQ(ui_.CursorChanges(), (std::vector<bool>{true, false}));
  EXPECT_EQ(BusyCursorDepth(), 0);

  SetFreeSpace(999999999);
  EXPECT_TRUE(TdmDBConnection::TestDbConnection(kIdentifier, kPath, kVersion, true));
  EXPECT_EQ(ui_.Boxes().back().text, "Connexion \"TS_Test\" OK.\r\n999 Mb");
  EXPECT_TRUE(TdmDBConnection::TestDbConnection(kIdentifier, kPath, kVersion, false));
  EXPECT_EQ(ui_.Boxes().size(), 2u);
}

TEST_F(ConnectionModuleTest, TestDbConnectionShowsNoSuccessWhenItsDiskCheckFailed) {
  SetFreeSpace(40000000);
  EXPECT_FALSE(TdmDBConnection::TestDbConnection(kIdentifier, kPath, kVersion, true));
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].kind, MessageKind::Error);
  EXPECT_EQ(ui_.Boxes()[0].text, kNoSpace + "40 Mb");
  EXPECT_EQ(BusyCursorDepth(), 0);
}

TEST_F(ConnectionModuleTest, TestDbConnectionConnectsAsThePublicReaderWriter) {
  db_.reset();
  db_ = std::make_unique<ProductDatabase>(prefix_, kPath, kIdentifier, 1);
  // Version 0 stands for 1 (2 for the address database).
  EXPECT_TRUE(TdmDBConnection::TestDbConnection(kIdentifier, kPath, 0, false));
  EXPECT_EQ(
      ErrorOf([] { TdmDBConnection::TestDbConnection("TS_Adresses", kPath, 0, true); }),
      "La base de données n'est pas compatible avec le programme!\r\n\r\nDatabase : TS_Test\r\nVersion : 1");
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(BusyCursorDepth(), 0);
  // The user it registered is gone with it.
  auto module = NewModule();
  module->Init(1, kIdentifier, "", "Updater");
  module->Connect();
  EXPECT_EQ(Users(*module), std::vector<std::string>{"user1 (PC07) - Updater"});
}

// --- Forwarded operations --------------------------------------------------------------------------

TEST_F(ConnectionModuleTest, ForwardedOperationsReachTheSchemaManager) {
  auto module = NewModule();
  module->Connect();
  EXPECT_EQ(module->GetDBOwner(), "KORVANE");
  std::vector<std::string> log = {"x"};
  module->GetLogData(log);
  EXPECT_NE(log, std::vector<std::string>{"x"});
  module->AcquireUpdateLock();
  module->ReleaseUpdateLock();
  module->AddAcceptedVersion(3);
  module->CommitRetaining(nullptr);
  EXPECT_EQ(module->TransactionState(), "0");
  std::vector<std::string> users = {"x"};
  module->Disconnect();
  module->GetUserList(users);
  EXPECT_TRUE(users.empty());
}

// --- Timers ----------------------------------------------------------------------------------------

TEST_F(ConnectionModuleTest, TheTimersRefreshTheUserAndCheckTheDiskSpace) {
  ManualClock clock;
  auto module = NewModule();
  ASSERT_EQ(clock.RunningTimers(), 2u);
  EXPECT_EQ(module->TimerUsers->Interval(), 1800000u);
  EXPECT_EQ(module->TimerCheckDiskSpace->Interval(), 3600000u);
  module->Connect();
  module->DatabaseManager->ExecuteSQL("DELETE FROM Users");
  ASSERT_TRUE(Users(*module).empty());

  clock.Advance(1799999);
  EXPECT_TRUE(Users(*module).empty());
  clock.Advance(1);
  EXPECT_EQ(Users(*module), std::vector<std::string>{"user1 (PC07) - Updater"});
  EXPECT_TRUE(ui_.Boxes().empty());

  SetFreeSpace(120000000);
  clock.Advance(1800000);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].text, kLowSpace + "120 Mb");
  SetFreeSpace(40000000);
  clock.Advance(3600000);
  ASSERT_EQ(ui_.Boxes().size(), 2u);
  EXPECT_EQ(ui_.Boxes()[1].text, kNoSpace + "40 Mb");
  EXPECT_FALSE(module->Connected());
  // Not attached: neither the disk check nor the refresh is tried (no attempt, no pause).
  int pauses = 0;
  module->DatabaseManager->Pause = [&](int) { ++pauses; };
  clock.Advance(3600000);
  EXPECT_EQ(ui_.Boxes().size(), 2u);
  EXPECT_EQ(pauses, 0);
}

TEST_F(ConnectionModuleTest, ACheckThatFailsInTheTimerIsShownNotThrown) {
  ManualClock clock;
  auto module = NewModule();
  module->Connect();
  module->DatabaseManager->SetConnectionString("\\\\srv\\data\\a.fdb");
  clock.Advance(3600000);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].kind, MessageKind::Error);
  EXPECT_EQ(ui_.Boxes()[0].text, "0312181326");
}

// --- Without a client library ----------------------------------------------------------------------

// In a process of its own, where nothing has loaded the client before.
TEST(ConnectionModuleWithoutClient, CreatingLoadsNothingAndADatabaseOperationRaisesTheClientsError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv(fb::kClientOverrideVariable, "/nonexistent/libfbclient.so.2", 1);
        TempPrefix prefix;
        ScriptedUi ui;
        int code = 0;
        {
          TdmDBConnection module;
          module.Init(kVersion, kIdentifier, "", "Updater");
          module.SetParams(kPath, "", "", "");
          if (test::IsLibraryMapped("libfbclient")) code = 2;
          const std::string missing =
              "La bibliothèque cliente Firebird (/nonexistent/libfbclient.so.2) est introuvable ou "
              "inutilisable : ";
          for (const std::string& error : {ErrorOf([&] { module.ConnectAsKorvane(); }), ErrorOf([&] {
                                             std::string version, implementation;
                                             int serviceVersion = 0;
                                             module.GetServerInfo(version, implementation, serviceVersion);
                                           })}) {
            if (error.rfind(missing, 0) != 0) {
              std::fprintf(stderr, "%s\n", error.c_str());
              code = 3;
            }
          }
          if (module.Connected() || !ui.Boxes().empty()) code = 4;
        }
        std::exit(code);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kv
