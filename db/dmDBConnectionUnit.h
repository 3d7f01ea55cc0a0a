// The database connection module (TdmDBConnection): the one object through which a product
// database is opened. It owns the attachment, the global transaction, a query, a statement, the
// services-API managers and the schema manager, and adds the credentials to use, the refusal of
// an unknown client/server pair or of a database of another kind or version, the free-disk-space
// watch, the registration of the connected user, nested transactions and French error texts.
//
// Creating the module loads nothing: the Firebird client library is loaded by the first database
// operation, which raises the client layer's French error when it is missing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/Component.h"
#include "db/IBCommon.h"
#include "db/IBComponents.h"
#include "db/IBManagers.h"
#include "db/IBServices.h"
#include "platform/Timers.h"

namespace kv {

class TLocalClientDataset;
// The kind of a failed update of a client dataset (db/LocalClientDataset.h).
enum TUpdateKind : int;

// The family of the attached server, from the client/server pairing check.
enum TIBServerType : int {
  UnknownServer = 0,
  Firebird10 = 1,
  Firebird15 = 2,
  Firebird25 = 3,
  Firebird30 = 4,
};

// Receives the database errors DoRollback would raise: SQL code, engine code, message.
using TExceptionMessageHandler = std::function<void(int SQLCode, int EFIBError, const std::string& Msg)>;
// DoBackup's progress: each output line of the backup, the module as Sender.
using TBackupCallBack = std::function<void(TComponent* Sender, const std::string& AStr)>;
// The next output line of a running service into Line; false at the end of its output.
using TServiceOutputReader = std::function<bool(TIBControlService& Service, std::string& Line)>;

class TdmDBConnection : public TComponent {
 public:
  // The periods of the two timers, in milliseconds.
  static constexpr std::uint32_t kUsersInterval = 1800000;      // 30 minutes
  static constexpr std::uint32_t kDiskSpaceInterval = 3600000;  // 60 minutes
  // Free bytes on the database's disk below which the module disconnects, and below which it
  // warns (1 Mb in the messages is 1,000,000 bytes).
  static constexpr std::int64_t kCriticalFreeSpace = 50000000;
  static constexpr std::int64_t kLowFreeSpace = 150000000;
  // Seconds a transaction waits at most for a row another workstation holds, on servers that
  // know a lock time-out (Firebird 2 and later).
  static constexpr int kLockTimeoutSeconds = 10;

  // Builds the members; both timers run from now. Loads no client library.
  TdmDBConnection();
  // Disconnects when attached; reports a client dataset still registered ("CDS NOT
  // RELEASED\r\n"); never throws.
  ~TdmDBConnection() override;

  // --- Connection ------------------------------------------------------------------------------

  // Stores the expected version, identifier and description, and the client's short name.
  void Init(std::int32_t DBVersion, const std::string& DBIDentifier, const std::string& DBDescription,
            const std::string& ClientShortName);
  // Disconnects and stores the four values.
  void SetParams(const std::string& ConnectionString, const std::string& Username, const std::string& Role,
                 const std::string& Password);
  void SetShortClientName(const std::string& ShortClientName);
  // The checked connection: client and server versions, the database's identifier and version,
  // the free disk space, then the user's registration.
  void Connect();
  // Connect as the maker's user, the caller's credentials saved for ReConnectAsUser.
  void ConnectAsKorvane();
  void ReConnectAsUser();
  // Connect as the maker's user without the identifier and version check.
  void ConnectAnyVersion();
  bool Connected();
  // Unregisters the user, then ClearAllConnections.
  void Disconnect();
  // Closes everything without unregistering; never throws.
  void ClearAllConnections();
  // Users attached to the database; raises "not connected" when not attached.
  int GetConnectionCount();
  TConnectionType ConnectionType();
  // Asks the server of the stored connection string through the services API; "?", "?" and 0
  // for a kind other than local and TCP/IP.
  void GetServerInfo(std::string& ServerVersion, std::string& ServerImplementation, int& ServiceVersion);
  // The server version alone: ServerName over TCP/IP when given, else the stored string's server.
  std::string GetServerVersion(const std::string& ServerName);
  // Connects with the stored credentials after both version checks and reads the database's
  // identifier and version; stays connected.
  void GetDBVersion(std::string& DbI, std::int32_t& DbV);
  // Writes a new version number into the database as the maker's user; ends disconnected with
  // empty credentials.
  void SetDBVersion(std::int32_t Dbv, const std::string& ConnStr);
  // Only the exact expected version is accepted: kept for the callers, does nothing.
  void AddAcceptedVersion(std::int32_t Version);

  // Opens a throw-away module on the database as the public reader-writer and reports.
  static bool TestDbConnection(const std::string& DBIdentifier, const std::string& ConnectionStr,
                               std::int32_t DBVersion, bool ShowMsg);
  // The text shown to a user for an exception.
  static std::string GetIBErrorMessage(const std::exception& E);

  // --- Nested transactions on GlobalTransaction (the depth is its Tag) --------------------------

  bool DoStartTransaction(bool ProtectedFlag);
  bool DoStartReadOnlyTransaction(bool ProtectedFlag);
  void DoCommit();
  void CommitRetaining(TIBDataSet* DataSet);
  // Leaves one level (rolls back at the outermost) and raises E again as the module does.
  void DoRollback(const std::exception& E);
  void DoRollback();
  // DoRollback without an exception; swallows every failure.
  void DoSilentRollback() noexcept;
  bool InTransaction();
  std::string TransactionState();

  // --- Datasets -------------------------------------------------------------------------------

  // A client dataset on GlobalTransaction, registered until FreeGlobalCDS; the module owns it.
  TLocalClientDataset* CreateGlobalCDS();
  void FreeGlobalCDS(TLocalClientDataset*& Cds);
  // Ends the use of a dataset by its Tag: 1 close and commit; 2 the same and free it; 3 the schema
  // manager's FreeDataset; any other raises "Tag unknown in DataSet " + its name.
  void FreeDataset(TIBDataSet* DataSet);

  // --- Queries and forwarded operations --------------------------------------------------------

  // Free bytes on the server's disk that holds the database.
  std::int64_t GetFreeDiskSpace();
  void GetUserList(std::vector<std::string>& TextList);
  void GetLogData(std::vector<std::string>& TextList);
  void AcquireUpdateLock();
  void ReleaseUpdateLock();
  std::string GetDBOwner();
  void SetDBOwner(const std::string& Value);

  // --- Maintenance (dmDBConnectionServices.cpp) ------------------------------------------------

  void DoBackup(const std::string& BackupFilename, const TBackupCallBack& Callback,
                std::vector<std::string>& Errors);
  void SweepDatabase(std::vector<std::string>& TextList);
  void SetSweepInterval(int Value);
  void SetForcedWrites(bool Value);
  void GetDBHeaderInfo(std::vector<std::string>& TextList);
  void GetDBInfo(std::vector<std::string>& TextList);
  void CheckDB(std::vector<std::string>& TextList);
  void SetStatistics();
  int GetUDFVersion();
  bool IsOnDBServer();
  std::string GetBaseFilename();
  void CreateDatabase();
  void DropDatabase();

  // --- Command scripts (dmDBConnectionScripts.cpp) ---------------------------------------------

  void ExecuteCommands(const std::vector<std::string>& TextList, const std::string& db_id, std::int32_t Vmin,
                       std::int32_t Vmax);

  // --- Properties -----------------------------------------------------------------------------

  bool WasConnected() const { return FWasConnected; }
  TIBServerType ServerType() const { return FServerType; }
  const TExceptionMessageHandler& ExceptionMessageHandler() const { return FExceptionMessageHandler; }
  void SetExceptionMessageHandler(TExceptionMessageHandler Value) {
    FExceptionMessageHandler = std::move(Value);
  }

  // --- The version checks, as pure functions ---------------------------------------------------

  // Whether the client library's version text is one the module works with.
  static bool IsKnownClientVersion(const std::string& Client);
  // The family of a client/server pair; UnknownServer when they do not pair.
  static TIBServerType PairVersions(const std::string& Client, const std::string& Server);
  static bool IsFirebird25Version(const std::string& Version);
  // A Firebird 3.0 client: "LI-V6.3.11.33637 Firebird 3.0" as the library reports itself, or a
  // file version "WI-V3.0..." / "LI-V3.0...".
  static bool IsFirebird30ClientVersion(const std::string& Version);

  // Where the checks read the version texts; tests replace them. Unset: the client library
  // actually loaded (its own version text; on Windows the FileVersion of gds32.dll) and the
  // server's answer through GetServerInfo.
  std::function<std::string()> ClientVersionReader;
  std::function<std::string()> ServerVersionReader;
  // Where DoBackup, SweepDatabase and GetDBHeaderInfo read the running service's output; tests
  // replace it (a wrapper of the service's own output can add lines a server rarely writes).
  // Unset: the service's own output (TIBControlService::NextLine).
  TServiceOutputReader ServiceOutputReader;
  // The lock time-out the version check gives the module's transactions; tests shorten it.
  int LockTimeoutSeconds = kLockTimeoutSeconds;

  // --- Members, in their order of creation -----------------------------------------------------

  std::unique_ptr<Timer> TimerUsers;
  std::unique_ptr<Timer> TimerCheckDiskSpace;
  std::unique_ptr<TIBDatabase> IBDatabase;
  std::unique_ptr<TIBTransaction> GlobalTransaction;
  std::unique_ptr<TIBQuery> GeneralQuery;
  std::unique_ptr<TIBSQL> IBSQL;
  std::unique_ptr<TIBServerProperties> IBServerProperties;
  std::unique_ptr<TIBBackupService> IBBS;
  std::unique_ptr<TIBConfigService> IBConfigService;
  std::unique_ptr<TIBValidationService> IBValidationService;
  std::unique_ptr<TIBStatisticalService> IBStatisticalService;
  std::unique_ptr<TDatabaseManager> DatabaseManager;

 private:
  // Internal operations.
  std::string CheckClientVersion();
  void CheckServerVersion(const std::string& client);
  std::string GetUserStr();
  void CheckFreeDiskSpace();
  // The provider's update-error handler of the client datasets: raises the French message.
  [[noreturn]] static void ProviderUpdateError(const std::exception& E, TUpdateKind UpdateKind);
  // Runs the steps of a connection that follow the attachment; on a failure disconnects (the
  // user unregistered) and raises it again.
  template <typename Steps>
  void DisconnectedOnFailure(Steps&& steps);

  // Event handlers.
  void TimerUsersTimer();
  void TimerCheckDiskSpaceTimer();
  void IBDatabaseAfterConnect();

  // The nesting depth of module transactions (GlobalTransaction's Tag).
  int Depth() const { return GlobalTransaction->Tag; }
  void SetDepth(int Value) { GlobalTransaction->Tag = Value; }

  bool FWasConnected = false;
  TIBServerType FServerType = UnknownServer;
  TExceptionMessageHandler FExceptionMessageHandler;
  std::string FClientShortName;
  bool FDoNotCheckFreeSpace = false;
  bool FDoNotCheckDBVersion = false;
  std::string FUserUserName;
  std::string FUserRole;
  std::string FUserPassword;
  std::vector<std::unique_ptr<TLocalClientDataset>> FListeDesCDS;
  // IsOnDBServer's cache: 0 not yet known, 1 yes, -1 no; SetParams resets it.
  int FIsOnDBServer = 0;
};

}  // namespace kv
