#include "db/dmDBConnectionUnit.h"

#include <algorithm>

#include "db/KorvaneLogon.h"
#include "db/LocalClientDataset.h"
#include "db/client/ClientLibrary.h"
#include "db/client/DatabaseError.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/UserInterface.h"
#include "platform/Win32.h"

namespace kv {

namespace {

constexpr const char* kCRLF = "\r\n";

// Engine codes that GetIBErrorMessage explains.
constexpr long kServerUnavailable = 335544375;  // unavailable database
constexpr long kNetworkError = 335544721;       // network error (connection refused, lost)
constexpr long kLoginRefused = 335544472;       // user name and password not defined
// A Firebird 3 client reports a server lost during an attachment with these codes first, where
// the older clients put the network error first: the same situation, the same explanation.
constexpr long kNetReadError = 335544726;
constexpr long kNetWriteError = 335544727;
constexpr long kLostConnection = 335544741;

// An assertion of the run-time library: the message completed with the caller's source file and
// line (the builtins GCC and clang share; clang 14 has no std::source_location on libstdc++ 12).
[[noreturn]] void AssertionFailed(const std::string& message, const char* where = __builtin_FILE(),
                                  int line = __builtin_LINE()) {
  std::string file = where;
  if (const auto slash = file.find_last_of("/\\"); slash != std::string::npos) file = file.substr(slash + 1);
  throw Error(message + " (" + file + ", ligne " + std::to_string(line) + ")");
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The byte length of the UTF-8 character that starts at `at`.
std::size_t CharacterLength(const std::string& s, std::size_t at) {
  std::size_t end = at + 1;
  while (end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) ++end;
  return end - at;
}

// The thousands separator of the user's language, as its locale writes numbers ("#,0").
std::string ThousandSeparator() {
  const std::uint16_t language = win::GetSystemDefaultLangID();
  switch (language & 0x3FF) {  // the primary language
    case 0x0C:                 // French: a no-break space, but an apostrophe in Switzerland
      return language == 0x100C ? "'" : "\u00A0";
    case 0x07:  // German
      return language == 0x0807 ? "'" : ".";
    case 0x10:  // Italian
    case 0x13:  // Dutch
      return ".";
    default:
      return ",";
  }
}

// "#,0": the integer with its thousands grouped.
std::string FormatThousands(std::int64_t value) {
  const bool negative = value < 0;
  const std::uint64_t magnitude =
      negative ? std::uint64_t(0) - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  const std::string digits = std::to_string(magnitude);
  const std::string separator = ThousandSeparator();
  std::string out;
  const std::size_t n = digits.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return negative ? "-" + out : out;
}

}  // namespace

// --- Creation and destruction ------------------------------------------------------------------

TdmDBConnection::TdmDBConnection() {
  Name = "dmDBConnection";
  TimerUsers = CreateTimer(kUsersInterval, true, [this] { TimerUsersTimer(); });
  TimerCheckDiskSpace = CreateTimer(kDiskSpaceInterval, true, [this] { TimerCheckDiskSpaceTimer(); });

  IBDatabase = std::make_unique<TIBDatabase>();
  IBDatabase->Name = "IBDatabase";
  IBDatabase->SQLDialect = 3;
  IBDatabase->AfterConnect = [this](TIBDatabase&) { IBDatabaseAfterConnect(); };

  GlobalTransaction = std::make_unique<TIBTransaction>();
  GlobalTransaction->Name = "GlobalTransaction";
  GlobalTransaction->SetDefaultDatabase(IBDatabase.get());
  IBDatabase->SetDefaultTransaction(GlobalTransaction.get());

  GeneralQuery = std::make_unique<TIBQuery>();
  GeneralQuery->Name = "GeneralQuery";
  GeneralQuery->SetDatabase(IBDatabase.get());
  GeneralQuery->SetTransaction(GlobalTransaction.get());

  IBSQL = std::make_unique<TIBSQL>();
  IBSQL->Name = "IBSQL";
  IBSQL->SetDatabase(IBDatabase.get());
  IBSQL->SetTransaction(GlobalTransaction.get());

  IBServerProperties = std::make_unique<TIBServerProperties>();
  IBServerProperties->Name = "IBServerProperties";
  IBServerProperties->Options = TIBServerProperties::ConfigParameters | TIBServerProperties::Version;
  IBBS = std::make_unique<TIBBackupService>();
  IBBS->Name = "IBBS";
  IBBS->LoginPrompt = false;
  IBBS->Verbose = true;
  IBBS->BlockingFactor = 0;
  IBBS->Options = TIBBackupService::IgnoreLimbo | TIBBackupService::NoGarbageCollection |
                  TIBBackupService::NonTransportable;
  IBConfigService = std::make_unique<TIBConfigService>();
  IBConfigService->Name = "IBConfigService";
  IBValidationService = std::make_unique<TIBValidationService>();
  IBValidationService->Name = "IBValidationService";
  IBStatisticalService = std::make_unique<TIBStatisticalService>();
  IBStatisticalService->Name = "IBStatisticalService";

  DatabaseManager = std::make_unique<TDatabaseManager>();
  DatabaseManager->Name = "DatabaseManager";
  DatabaseManager->SetDatabase(IBDatabase.get());
  DatabaseManager->SetTransaction(GlobalTransaction.get());
  DatabaseManager->SetDBVersionValue(0);

  // No administrator logon of the design ever takes effect.
  IBDatabase->Params.clear();
}

TdmDBConnection::~TdmDBConnection() {
  try {
    if (IBDatabase->Connected()) Disconnect();
  } catch (...) {
    // Destruction goes on whatever the server says.
  }
  if (!FListeDesCDS.empty()) {
    try {
      Ui().MessageBox("", "CDS NOT RELEASED\r\n", MessageKind::Error, mbOK);
    } catch (...) {
      // A failing user interface must not stop the release below.
    }
  }
  FListeDesCDS.clear();
}

// --- Connection parameters -----------------------------------------------------------------------

void TdmDBConnection::Init(std::int32_t DBVersion, const std::string& DBIDentifier,
                           const std::string& DBDescription, const std::string& ClientShortName) {
  DatabaseManager->SetDBVersionValue(DBVersion);
  DatabaseManager->SetDBIdentifier(DBIDentifier);
  DatabaseManager->SetDBDescription(DBDescription);
  FClientShortName = ClientShortName;
}

void TdmDBConnection::SetParams(const std::string& ConnectionString, const std::string& Username,
                                const std::string& Role, const std::string& Password) {
  FIsOnDBServer = 0;
  Disconnect();
  DatabaseManager->SetConnectionString(ConnectionString);
  DatabaseManager->SetUserName(Username);
  DatabaseManager->SetRole(Role);
  DatabaseManager->SetPassword(Password);
}

void TdmDBConnection::SetShortClientName(const std::string& ShortClientName) {
  FClientShortName = ShortClientName;
}

// --- Version checks ------------------------------------------------------------------------------

bool TdmDBConnection::IsFirebird25Version(const std::string& Version) {
  return StartsWith(Version, "WI-V2.5");
}

bool TdmDBConnection::IsFirebird30ClientVersion(const std::string& Version) {
  const bool reported = (StartsWith(Version, "LI-V6.3.") || StartsWith(Version, "WI-V6.3.")) &&
                        EndsWith(Version, " Firebird 3.0");
  return reported || StartsWith(Version, "WI-V3.0") || StartsWith(Version, "LI-V3.0");
}

bool TdmDBConnection::IsKnownClientVersion(const std::string& Client) {
  return Client == "WI-V1.0.0.794" || Client == "WI-V1.0.2.908" || Client == "WI-V6.3.0.4290" ||
         Client == "WI-V6.3.2.4731" || IsFirebird25Version(Client) || IsFirebird30ClientVersion(Client);
}

TIBServerType TdmDBConnection::PairVersions(const std::string& Client, const std::string& Server) {
  struct Pair {
    const char* client;
    const char* server;
    TIBServerType type;
  };
  static constexpr Pair kExactPairs[] = {
      {"WI-V1.0.0.794", "WI-V6.2.794 Firebird 1.0", Firebird10},
      {"WI-V1.0.2.908", "WI-V6.2.908 Firebird 1.0", Firebird10},
      {"WI-V6.3.0.4290", "WI-V1.5.0.4290 Firebird 1.5", Firebird15},
      {"WI-V6.3.0.4290", "WI-V1.5.1.4481 Firebird 1.5", Firebird15},
      {"WI-V6.3.2.4731", "WI-V1.5.2.4731 Firebird 1.5", Firebird15},
  };
  for (const Pair& pair : kExactPairs) {
    if (Client == pair.client && Server == pair.server) return pair.type;
  }
  if (IsFirebird25Version(Client) && IsFirebird25Version(Server)) return Firebird25;
  if (IsFirebird30ClientVersion(Client) && (StartsWith(Server, "LI-V3.0") || StartsWith(Server, "WI-V3.0")))
    return Firebird30;
  return UnknownServer;
}

std::string TdmDBConnection::CheckClientVersion() {
  std::string version;
  if (ClientVersionReader) {
    version = ClientVersionReader();
  } else {
    // The loaded library's version (on Windows its FileVersion); loading it may raise the
    // missing-client error.
    version = fb::ClientVersion();
  }
  if (!IsKnownClientVersion(version)) {
    throw Error(
        "La version du client Firebird utilisé est inconnue du programme. Par sécurité, aucune connexion à "
        "la "
        "base de données ne sera établie." +
        std::string(kCRLF) + kCRLF + version);
  }
  return version;
}

void TdmDBConnection::CheckServerVersion(const std::string& client) {
  FServerType = UnknownServer;
  std::string server;
  if (ServerVersionReader) {
    server = ServerVersionReader();
  } else {
    std::string implementation;
    int serviceVersion = 0;
    GetServerInfo(server, implementation, serviceVersion);
  }
  const TIBServerType type = PairVersions(client, server);
  // A row another workstation holds is waited for a bounded time (Firebird 2 and later), by the
  // module's transaction and by the connected users' one alike.
  const int lockTimeout = type == Firebird25 || type == Firebird30 ? LockTimeoutSeconds : 0;
  GlobalTransaction->LockTimeout = lockTimeout;
  DatabaseManager->SetLockTimeout(lockTimeout);
  if (type == UnknownServer) {
    Disconnect();
    throw Error(
        "La version du client Firebird utilisé ne correspond pas à celle du serveur Firebird. Par sécurité, "
        "aucune connexion à la base de données ne sera établie." +
        std::string(kCRLF) + kCRLF + "Client : " + client + kCRLF + "Server : " + server);
  }
  FServerType = type;
}

void TdmDBConnection::GetServerInfo(std::string& ServerVersion, std::string& ServerImplementation,
                                    int& ServiceVersion) {
  ServerVersion = "?";
  ServerImplementation = "?";
  ServiceVersion = 0;
  TIBServerProperties& service = *IBServerProperties;
  service.LoginPrompt = false;
  service.Params = {std::string("user_name=") + KorvaneUserName, std::string("password=") + KorvanePassword};
  const std::string& connectionString = DatabaseManager->ConnectionString();
  switch (GetConnectionType(connectionString)) {
    case ibctLocal:
      service.Protocol = TProtocol::Local;
      service.ServerName.clear();
      break;
    case ibctTCPIP: {
      std::string server, path;
      SplitConnectionString(connectionString, server, path);
      service.Protocol = TProtocol::TCP;
      service.ServerName = server;
      break;
    }
    default:
      return;
  }
  service.Attach();
  try {
    service.FetchVersionInfo();
  } catch (...) {
    try {
      service.Detach();
    } catch (...) {
    }
    throw;
  }
  service.Detach();
  ServerVersion = service.VersionInfo.ServerVersion;
  ServerImplementation = service.VersionInfo.ServerImplementation;
  ServiceVersion = service.VersionInfo.ServiceVersion;
}

std::string TdmDBConnection::GetServerVersion(const std::string& ServerName) {
  const TConnectionType kind = ConnectionType();
  if (kind != ibctLocal && kind != ibctTCPIP) return {};
  if (kind == ibctTCPIP && !ServerName.empty()) {
    // The server named by the caller, not the one of the stored connection string.
    TIBServerProperties service;
    service.LoginPrompt = false;
    service.Params = {std::string("user_name=") + KorvaneUserName,
                      std::string("password=") + KorvanePassword};
    service.Protocol = TProtocol::TCP;
    service.ServerName = ServerName;
    service.Attach();
    try {
      service.FetchVersionInfo();
    } catch (...) {
      try {
        service.Detach();
      } catch (...) {
      }
      throw;
    }
    service.Detach();
    return service.VersionInfo.ServerVersion;
  }
  std::string version, implementation;
  int serviceVersion = 0;
  GetServerInfo(version, implementation, serviceVersion);
  return version;
}

// --- Connecting ----------------------------------------------------------------------------------

template <typename Steps>
void TdmDBConnection::DisconnectedOnFailure(Steps&& steps) {
  try {
    steps();
  } catch (...) {
    // Whatever failed after the attachment must not leave it open: the next caller would take it
    // for its own database (another company's), and a registered user would stay behind.
    Disconnect();
    throw;
  }
}

void TdmDBConnection::GetDBVersion(std::string& DbI, std::int32_t& DbV) {
  Disconnect();
  const std::string client = CheckClientVersion();
  IBDatabase->Params.clear();
  if (DatabaseManager->ConnectionString().empty()) {
    throw Error("Le nom de la base de données manque.\r\nVeuillez compléter la configuration du programme.");
  }
  DatabaseManager->Connect();
  DisconnectedOnFailure([&] {
    CheckServerVersion(client);
    DatabaseManager->GetDBVersion(DbI, DbV);
  });
}

void TdmDBConnection::Connect() {
  std::string DbI;
  std::int32_t DbV = 0;
  GetDBVersion(DbI, DbV);
  DisconnectedOnFailure([&] {
    if (!FDoNotCheckDBVersion &&
        (DbI != DatabaseManager->DBIdentifier() || DbV != DatabaseManager->DBVersion())) {
      throw Error("La base de données n'est pas compatible avec le programme!" + std::string(kCRLF) + kCRLF +
                  "Database : " + DbI + kCRLF + "Version : " + std::to_string(DbV));
    }
    CheckFreeDiskSpace();
    // A disk too full has just ended the attachment: there is nobody to register.
    if (IBDatabase->Connected()) DatabaseManager->RegisterUser(GetUserStr());
  });
}

void TdmDBConnection::ConnectAsKorvane() {
  Disconnect();
  FUserUserName = DatabaseManager->UserName();
  FUserRole = DatabaseManager->Role();
  FUserPassword = DatabaseManager->Password();
  DatabaseManager->SetUserName(KorvaneUserName);
  DatabaseManager->SetRole(KorvaneRole);
  DatabaseManager->SetPassword(KorvanePassword);
  Connect();
  DisconnectedOnFailure([&] { CheckFreeDiskSpace(); });
}

void TdmDBConnection::ReConnectAsUser() {
  Disconnect();
  DatabaseManager->SetUserName(FUserUserName);
  DatabaseManager->SetRole(FUserRole);
  DatabaseManager->SetPassword(FUserPassword);
  Connect();
}

void TdmDBConnection::ConnectAnyVersion() {
  Disconnect();
  DatabaseManager->SetUserName(KorvaneUserName);
  DatabaseManager->SetRole(KorvaneRole);
  DatabaseManager->SetPassword(KorvanePassword);
  FDoNotCheckDBVersion = true;
  try {
    Connect();
  } catch (...) {
    FDoNotCheckDBVersion = false;
    throw;
  }
  FDoNotCheckDBVersion = false;
  DisconnectedOnFailure([&] { CheckFreeDiskSpace(); });
}

bool TdmDBConnection::Connected() {
  return IBDatabase->Connected();
}

void TdmDBConnection::Disconnect() {
  try {
    // Asking the server first spares a lost attachment the retries of the unregistration.
    if (IBDatabase->Connected() && IBDatabase->TestConnected()) DatabaseManager->UnRegisterUser(GetUserStr());
  } catch (...) {
    // The user's row ages out of the table by itself.
  }
  ClearAllConnections();
  FWasConnected = false;
}

void TdmDBConnection::ClearAllConnections() {
  try {
    DatabaseManager->CloseAllConnections();
  } catch (...) {
  }
  IBDatabase->ForceClose();
  IBSQL->Close();
  if (GlobalTransaction->Active()) {
    try {
      GlobalTransaction->Rollback();
    } catch (...) {
      GlobalTransaction->Transaction().ForceRollback();
    }
  }
  FWasConnected = false;
  SetDepth(0);
  // The next attachment's server decides again whether it knows a lock time-out.
  GlobalTransaction->LockTimeout = 0;
  DatabaseManager->SetLockTimeout(0);
}

int TdmDBConnection::GetConnectionCount() {
  if (!IBDatabase->Connected()) throw Error("not connected");
  return static_cast<int>(IBDatabase->UserNames().size());
}

TConnectionType TdmDBConnection::ConnectionType() {
  return GetConnectionType(DatabaseManager->ConnectionString());
}

void TdmDBConnection::SetDBVersion(std::int32_t Dbv, const std::string& ConnStr) {
  const auto forgetCredentials = [this] {
    DatabaseManager->SetUserName("");
    DatabaseManager->SetRole("");
    DatabaseManager->SetPassword("");
  };
  Disconnect();
  DatabaseManager->SetUserName(KorvaneUserName);
  DatabaseManager->SetRole(KorvaneRole);
  DatabaseManager->SetPassword(KorvanePassword);
  try {
    const std::string client = CheckClientVersion();
    if (DatabaseManager->ConnectionString().empty()) DatabaseManager->SetConnectionString(ConnStr);
    DatabaseManager->Connect();
    CheckServerVersion(client);
    DatabaseManager->SetDBVersion(Dbv);
  } catch (...) {
    Disconnect();
    forgetCredentials();
    throw;
  }
  Disconnect();
  forgetCredentials();
}

void TdmDBConnection::AddAcceptedVersion(std::int32_t) {}

// --- User, disk space ----------------------------------------------------------------------------

std::string TdmDBConnection::GetUserStr() {
  std::string user = GetUserNameText() + " (";
  const win::SessionInfo session = win::GetSessionInfo();
  user += session.remoteSession ? std::to_string(session.sessionId) : GetComputerNameText();
  return user + ") - " + FClientShortName;
}

std::int64_t TdmDBConnection::GetFreeDiskSpace() {
  const std::string& s = DatabaseManager->ConnectionString();
  const std::size_t colon = s.find(':');
  std::string letter;
  if (colon != std::string::npos && colon > 0 && colon == CharacterLength(s, 0)) {
    letter = s.substr(0, colon);  // the first character, right before the colon
  } else if (colon == std::string::npos || colon + 1 >= s.size()) {
    throw Error("0312181326");
  } else {
    letter = s.substr(colon + 1, CharacterLength(s, colon + 1));
  }
  std::int64_t free = 0;
  DoStartTransaction(false);
  try {
    GeneralQuery->Close();
    // The letter is a parameter: whatever the connection string holds never becomes SQL.
    GeneralQuery->SQL = {"SELECT GetFreeDiskSpace(:p0) FROM rdb$database"};
    GeneralQuery->ParamByName("p0").SetAsString(letter);
    GeneralQuery->Open();
    free = GeneralQuery->Fields(0).AsInt64();
    GeneralQuery->Close();
    DoCommit();
  } catch (const std::exception& E) {
    DoRollback(E);
  }
  return free;
}

void TdmDBConnection::CheckFreeDiskSpace() {
  if (FDoNotCheckFreeSpace || !IBDatabase->Connected()) return;
  const std::int64_t free = GetFreeDiskSpace();
  const std::string megabytes = std::to_string(free / 1000000) + " Mb";
  if (free <= 0) {
    FDoNotCheckFreeSpace = true;
    ShowWarning(
        "Le serveur Firebird n'a pas pu déterminer la place restante sur le disque de la base de données!");
  } else if (free < kCriticalFreeSpace) {
    try {
      Disconnect();
    } catch (...) {
    }
    ShowError("Il n'y a plus assez de place sur le disque de la base de données!" + std::string(kCRLF) +
              megabytes);
  } else if (free < kLowFreeSpace) {
    ShowWarning(
        "L'espace disque pour la base de données est faible!\r\nVeuillez faire de la place sur le disque." +
        std::string(kCRLF) + megabytes);
  }
}

// --- Nested transactions -------------------------------------------------------------------------

bool TdmDBConnection::DoStartTransaction(bool ProtectedFlag) {
  if (Depth() == 0) {
    try {
      GlobalTransaction->StartTransaction();
    } catch (...) {
      if (ProtectedFlag) return false;
      throw;
    }
  }
  SetDepth(Depth() + 1);
  return true;
}

bool TdmDBConnection::DoStartReadOnlyTransaction(bool ProtectedFlag) {
  if (Depth() != 0) return DoStartTransaction(ProtectedFlag);
  GlobalTransaction->Params = {"concurrency", "nowait", "read"};
  bool started = false;
  try {
    started = DoStartTransaction(ProtectedFlag);
  } catch (...) {
    GlobalTransaction->Params.clear();
    throw;
  }
  // A start that failed must not leave the next transaction read-only.
  if (!started) GlobalTransaction->Params.clear();
  return started;
}

void TdmDBConnection::DoCommit() {
  // An unpaired commit is a programming error: it is reported, and the depth stays at 0 so
  // that the module's next transaction still starts.
  if (Depth() <= 0) AssertionFailed("TRANSACTION MANAGEMENT ERROR");
  SetDepth(Depth() - 1);
  if (Depth() > 0) return;
  if (IBDatabase->Connected() && GlobalTransaction->Active()) {
    try {
      GlobalTransaction->Commit();
    } catch (...) {
      // Still open: the caller's DoRollback pairs with this level and ends it.
      SetDepth(1);
      throw;
    }
  }
  GlobalTransaction->Params.clear();
}

void TdmDBConnection::CommitRetaining(TIBDataSet*) {}

void TdmDBConnection::DoRollback() {
  SetDepth(std::max(Depth() - 1, 0));
  if (Depth() > 0) return;
  if (GlobalTransaction->Active()) {
    try {
      if (IBDatabase->Connected()) {
        GlobalTransaction->Rollback();
      } else {
        GlobalTransaction->Transaction().ForceRollback();
      }
    } catch (...) {
      // A lost attachment: the server has rolled the work back already.
      GlobalTransaction->Transaction().ForceRollback();
    }
  }
  GlobalTransaction->Params.clear();
}

void TdmDBConnection::DoRollback(const std::exception& E) {
  DoRollback();
  if (const auto* database = dynamic_cast<const DatabaseError*>(&E)) {
    if (FExceptionMessageHandler) {
      FExceptionMessageHandler(static_cast<int>(database->SQLCode()),
                               static_cast<int>(database->EngineCode()), database->what());
      return;
    }
    throw DatabaseError(database->what(), database->SQLCode(), database->EngineCode());
  }
  if (dynamic_cast<const SilentAbort*>(&E) != nullptr) throw SilentAbort();
  throw Error(E.what());
}

void TdmDBConnection::DoSilentRollback() noexcept {
  try {
    DoRollback();
  } catch (...) {
  }
}

bool TdmDBConnection::InTransaction() {
  return GlobalTransaction->Active();
}

std::string TdmDBConnection::TransactionState() {
  return std::to_string(Depth());
}

// --- Errors and the connection test --------------------------------------------------------------

std::string TdmDBConnection::GetIBErrorMessage(const std::exception& E) {
  if (const auto* database = dynamic_cast<const DatabaseError*>(&E)) {
    const long code = database->EngineCode();
    if (code == kServerUnavailable || code == kNetworkError || code == kNetReadError ||
        code == kNetWriteError || code == kLostConnection) {
      return "Aucune connexion n'a pu être établie avec le serveur.\r\nCauses possibles : \r\n\r\n1) "
             "L'ordinateur "
             "distant (serveur) est arrêté.\r\n2) L'adresse de l'ordinateur distant est incorrecte.\r\n3) Le "
             "serveur Firebird n'a pas démarré sur le poste serveur.\r\n4) Le câble de connexion réseau est "
             "débranché.\r\n5) Un firewall bloque la connexion depuis votre poste." +
             std::string(kCRLF) + "6) Une autre session est restée ouverte sur votre poste." + kCRLF +
             "   (La bascule rapide des utilisateurs est activée sur cette machine.)" + kCRLF + kCRLF +
             E.what() + kCRLF + std::to_string(win::GetLastError());
    }
    if (code == kLoginRefused) {
      return "Votre nom d'utilisateur n'a pas été reconnu,\r\nou votre mot de passe n'est pas valable!";
    }
  }
  return E.what();
}

bool TdmDBConnection::TestDbConnection(const std::string& DBIdentifier, const std::string& ConnectionStr,
                                       std::int32_t DBVersion, bool ShowMsg) {
  if (DBVersion == 0) DBVersion = DBIdentifier == "TS_Adresses" ? 2 : 1;
  auto module = std::make_unique<TdmDBConnection>();
  module->Init(DBVersion, DBIdentifier, "", "TEST");
  bool ok = false;
  std::int64_t free = 0;
  BeginBusyCursor();
  try {
    module->SetParams(ConnectionStr, "PUBLIC_READER_WRITER", "ROLE_READER_WRITER", "tarpon");
    module->Connect();
    ok = module->Connected();
    free = ok ? module->GetFreeDiskSpace() : 0;
    module->Disconnect();
  } catch (...) {
    EndBusyCursor();
    throw;
  }
  EndBusyCursor();
  // A failed disk check has shown its own message and disconnected.
  if (ShowMsg && ok) {
    ShowInformation("Connexion \"" + DBIdentifier + "\" OK." + kCRLF + FormatThousands(free / 1000000) +
                    " Mb");
  }
  return ok;
}

// --- Datasets ------------------------------------------------------------------------------------

TLocalClientDataset* TdmDBConnection::CreateGlobalCDS() {
  FListeDesCDS.push_back(std::make_unique<TLocalClientDataset>());
  TLocalClientDataset* cds = FListeDesCDS.back().get();
  try {
    cds->Name = "GlobalCDS";
    cds->Dsp = std::make_unique<TDataSetProvider>();
    cds->Dsp->Name = "Dsp";
    cds->Query = std::make_unique<TIBQuery>();
    cds->Query->Name = "Query";
    cds->Query->SetDatabase(IBDatabase.get());
    cds->Query->SetTransaction(GlobalTransaction.get());
    cds->Dsp->DataSet = cds->Query.get();
    cds->Dsp->OnUpdateError = &TdmDBConnection::ProviderUpdateError;
  } catch (...) {
    FreeGlobalCDS(cds);
    throw;
  }
  return cds;
}

void TdmDBConnection::FreeGlobalCDS(TLocalClientDataset*& Cds) {
  if (Cds == nullptr) return;
  const auto found =
      std::find_if(FListeDesCDS.begin(), FListeDesCDS.end(),
                   [Cds](const std::unique_ptr<TLocalClientDataset>& item) { return item.get() == Cds; });
  if (found == FListeDesCDS.end()) throw Error("FreeGlobalCDS : ClientDataset not found");
  FListeDesCDS.erase(found);  // provider, query and dataset go together
  Cds = nullptr;
}

void TdmDBConnection::ProviderUpdateError(const std::exception& E, TUpdateKind UpdateKind) {
  std::string head;
  switch (UpdateKind) {
    case ukModify:
      head = "La modification n'a pas pu se faire dans la base de données.";
      break;
    case ukInsert:
      head = "L'insertion n'a pas pu se faire dans la base de données.";
      break;
    case ukDelete:
      head = "La suppression n'a pas pu se faire dans la base de données.";
      break;
  }
  const std::string message = head + kCRLF + kCRLF + E.what();
  if (const auto* database = dynamic_cast<const DatabaseError*>(&E))
    throw DatabaseError(message, database->SQLCode(), database->EngineCode());
  throw Error(message);
}

void TdmDBConnection::FreeDataset(TIBDataSet* DataSet) {
  if (DataSet == nullptr) return;
  switch (DataSet->Tag) {
    case 1:
      try {
        DataSet->Close();
        DoCommit();
      } catch (const std::exception& E) {
        DoRollback(E);
      }
      break;
    case 2: {
      // Handed over: freed here whether or not the commit succeeds.
      std::unique_ptr<TIBDataSet> owned(DataSet);
      try {
        DataSet->Close();
        if (!IBDatabase->Connected()) DataSet->ForceInternalClose();
        DoCommit();
      } catch (const std::exception& E) {
        DoRollback(E);
      }
      break;
    }
    case 3:
      DatabaseManager->FreeDataset(DataSet);
      break;
    default:
      throw Error("Tag unknown in DataSet " + DataSet->Name);
  }
}

// --- Forwarded operations ------------------------------------------------------------------------

void TdmDBConnection::GetUserList(std::vector<std::string>& TextList) {
  TextList.clear();
  if (IBDatabase->Connected()) DatabaseManager->GetUserList(TextList);
}

void TdmDBConnection::GetLogData(std::vector<std::string>& TextList) {
  DatabaseManager->GetLogData(TextList);
}

void TdmDBConnection::AcquireUpdateLock() {
  DatabaseManager->AcquireUpdateLock();
}

void TdmDBConnection::ReleaseUpdateLock() {
  DatabaseManager->ReleaseUpdateLock();
}

std::string TdmDBConnection::GetDBOwner() {
  return DatabaseManager->GetDBOwner();
}

void TdmDBConnection::SetDBOwner(const std::string& Value) {
  DatabaseManager->SetDBOwner(Value);
}

// --- Events --------------------------------------------------------------------------------------

void TdmDBConnection::TimerUsersTimer() {
  // Refreshes the user's time stamp; RegisterUser absorbs its own failures. Without an attachment
  // every attempt would fail after its pause, freezing the program for seconds for nothing.
  if (!IBDatabase->Connected()) return;
  try {
    DatabaseManager->RegisterUser(GetUserStr());
  } catch (...) {
  }
}

void TdmDBConnection::TimerCheckDiskSpaceTimer() {
  // Nothing may escape into the event loop: a failed check is shown as any other error.
  try {
    CheckFreeDiskSpace();
  } catch (const std::exception& E) {
    ShowError(GetIBErrorMessage(E));
  }
}

void TdmDBConnection::IBDatabaseAfterConnect() {
  FWasConnected = true;
}

}  // namespace kv
