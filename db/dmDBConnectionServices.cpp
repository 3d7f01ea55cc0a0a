// TdmDBConnection: maintenance of the configured database. The services-API operations work on
// the database file by name, always logged on as the maker's user, aimed by the kind of the stored
// connection string: the local engine, or the server of a TCP/IP string.
#include <utility>

#include "db/KorvaneLogon.h"
#include "db/client/ClientLibrary.h"
#include "db/dmDBConnectionUnit.h"
#include "formats/Text.h"
#include "platform/Errors.h"
#include "platform/InstallTools2.h"
#include "platform/Messages.h"

namespace kv {

namespace {

// The refusals of a connection kind other than local and TCP/IP: one text for an unknown string,
// one for the other protocols (NetBEUI, UNIX, NetWare).
struct KindRefusal {
  const char* unknown;
  const char* other;
};

constexpr KindRefusal kHeaderInfoRefusal{"error 0203121447", "error 0111071724"};
constexpr KindRefusal kSweepRefusal{"error 0203121450", "error 0203121451"};
constexpr KindRefusal kSweepIntervalRefusal{"error 0206181013", "error 0206181014"};
constexpr KindRefusal kForcedWritesRefusal{"error 0207161027", "error 0207161028"};
constexpr KindRefusal kBackupRefusal{"Database is not local", "Database is not local"};

// Sets a service up for the stored database, or refuses its kind before anything is contacted.
// The parameters are replaced, not appended to: the service logs on as the maker's user whatever
// it held before.
void PrepareService(TIBControlService& Service, const std::string& ConnectionString,
                    const KindRefusal& Refusal) {
  Service.LoginPrompt = false;
  Service.Params = {std::string("user_name=") + KorvaneUserName, std::string("password=") + KorvanePassword};
  switch (GetConnectionType(ConnectionString)) {
    case ibctLocal:
      Service.Protocol = TProtocol::Local;
      Service.ServerName.clear();
      Service.DatabaseName = ConnectionString;
      break;
    case ibctTCPIP: {
      std::string server;
      std::string path;
      SplitConnectionString(ConnectionString, server, path);
      Service.Protocol = TProtocol::TCP;
      Service.ServerName = server;
      Service.DatabaseName = path;
      break;
    }
    case ibctUnknown:
      throw Error(Refusal.unknown);
    default:
      throw Error(Refusal.other);
  }
}

// Attaches the prepared service, runs the action and detaches again, whether the action succeeded
// or failed (a failure of the detach then gives way to the action's own).
template <typename Action>
void RunService(TIBControlService& Service, Action&& action) {
  Service.Attach();
  try {
    std::forward<Action>(action)();
  } catch (...) {
    try {
      Service.Detach();
    } catch (...) {
    }
    throw;
  }
  Service.Detach();
}

// The next output line of the running service, from the reader when one is given.
bool NextServiceLine(const TServiceOutputReader& Reader, TIBControlService& Service, std::string& Line) {
  return Reader ? Reader(Service, Line) : Service.NextLine(Line);
}

// The file name of a connection string: what follows its last "/", ":" or "" (the whole text
// without any). The separators are ASCII: no byte of a multi-byte UTF-8 character equals one.
std::string BaseFilename(const std::string& ConnectionString) {
  const std::size_t separator = ConnectionString.find_last_of("/:\\");
  return separator == std::string::npos ? ConnectionString : ConnectionString.substr(separator + 1);
}

}  // namespace

void TdmDBConnection::DoBackup(const std::string& BackupFilename, const TBackupCallBack& Callback,
                               std::vector<std::string>& Errors) {
  Errors.clear();
  IBBS->BackupFile.clear();
  const std::string connectionString = DatabaseManager->ConnectionString();
  PrepareService(*IBBS, connectionString, kBackupRefusal);
  RunService(*IBBS, [&] {
    IBBS->Verbose = true;
    // The local engine is this computer's server: a Windows path of the backup is one of the
    // drive map, as the database's own path is.
    IBBS->BackupFile = {GetConnectionType(connectionString) == ibctLocal
                            ? fb::ClientDatabaseName(BackupFilename)
                            : BackupFilename};
    IBBS->ServiceStart();
    std::string line;
    while (NextServiceLine(ServiceOutputReader, *IBBS, line)) {
      if (line.find("ERROR:") != std::string::npos) Errors.push_back(line);
      if (Callback) Callback(this, line);
    }
  });
}

void TdmDBConnection::SweepDatabase(std::vector<std::string>& TextList) {
  TextList.clear();
  PrepareService(*IBValidationService, DatabaseManager->ConnectionString(), kSweepRefusal);
  IBValidationService->Options = TIBValidationService::SweepDB;
  RunService(*IBValidationService, [&] {
    IBValidationService->ServiceStart();
    std::string line;
    while (NextServiceLine(ServiceOutputReader, *IBValidationService, line)) TextList.push_back(line);
  });
}

void TdmDBConnection::SetSweepInterval(int Value) {
  PrepareService(*IBConfigService, DatabaseManager->ConnectionString(), kSweepIntervalRefusal);
  RunService(*IBConfigService, [&] { IBConfigService->SetSweepInterval(Value); });
}

void TdmDBConnection::SetForcedWrites(bool Value) {
  PrepareService(*IBConfigService, DatabaseManager->ConnectionString(), kForcedWritesRefusal);
  // Forced writes are the synchronous mode.
  RunService(*IBConfigService, [&] { IBConfigService->SetAsyncMode(!Value); });
}

void TdmDBConnection::GetDBHeaderInfo(std::vector<std::string>& TextList) {
  TextList.clear();
  PrepareService(*IBStatisticalService, DatabaseManager->ConnectionString(), kHeaderInfoRefusal);
  IBStatisticalService->Options = TIBStatisticalService::HeaderPages;
  RunService(*IBStatisticalService, [&] {
    IBStatisticalService->ServiceStart();
    std::string line;
    while (NextServiceLine(ServiceOutputReader, *IBStatisticalService, line)) TextList.push_back(line);
  });
}

void TdmDBConnection::GetDBInfo(std::vector<std::string>& TextList) {
  TextList.clear();
}

void TdmDBConnection::CheckDB(std::vector<std::string>& /*TextList*/) {
  // Validation is not offered: the list stays as the caller gave it.
}

void TdmDBConnection::SetStatistics() {
  BusyCursor busy;
  const std::string connectionString = DatabaseManager->ConnectionString();
  const std::string userName = DatabaseManager->UserName();
  const std::string role = DatabaseManager->Role();
  const std::string password = DatabaseManager->Password();
  SetParams(connectionString, KorvaneUserName, KorvaneRole, KorvanePassword);
  try {
    DatabaseManager->Connect();
    DatabaseManager->SetStatistics();
  } catch (...) {
    SetParams(connectionString, userName, role, password);
    throw;
  }
  SetParams(connectionString, userName, role, password);
  Connect();
}

int TdmDBConnection::GetUDFVersion() {
  int version = 0;
  DoStartTransaction(false);
  try {
    GeneralQuery->SQL = {"SELECT GetDLLVersion() FROM rdb$database"};
    GeneralQuery->Open();
    version = GeneralQuery->Fields(0).AsInteger();
    GeneralQuery->Close();
    DoCommit();
  } catch (const std::exception& E) {
    DoRollback(E);
  }
  return version;
}

bool TdmDBConnection::IsOnDBServer() {
  if (FIsOnDBServer != 0) return FIsOnDBServer > 0;
  bool onServer = false;
  try {
    const std::string connectionString = DatabaseManager->ConnectionString();
    switch (GetConnectionType(connectionString)) {
      case ibctLocal:
        onServer = true;
        break;
      case ibctTCPIP: {
        // Nothing before the first colon names no server.
        const std::size_t colon = connectionString.find(':');
        if (colon == std::string::npos || colon == 0) break;
        const std::string server = connectionString.substr(0, colon);
        if (text::IEquals(server, GetComputerNameText())) {
          onServer = true;
          break;
        }
        std::vector<std::string> addresses;
        TWindowsInstaller::GetLocalIPAdresses(addresses);
        for (const std::string& address : addresses) {
          if (text::IEquals(server, address)) {
            onServer = true;
            break;
          }
        }
        break;
      }
      default:
        break;
    }
  } catch (const SilentAbort&) {
    // The computer name's failure has shown its own message.
    onServer = false;
  } catch (const std::exception& E) {
    ShowError(E.what());
    onServer = false;
  }
  FIsOnDBServer = onServer ? 1 : -1;
  return onServer;
}

std::string TdmDBConnection::GetBaseFilename() {
  return BaseFilename(DatabaseManager->ConnectionString());
}

void TdmDBConnection::CreateDatabase() {
  Disconnect();
  DatabaseManager->CreateDatabase();
  DoStartTransaction(false);
  try {
    DatabaseManager->RegisterUDF();
    DatabaseManager->RegisterStoredProcs();
    DoCommit();
  } catch (const std::exception& E) {
    DoRollback(E);
  }
}

void TdmDBConnection::DropDatabase() {
  IBDatabase->DropDatabase();
  // The attachment went with the database.
  FWasConnected = false;
  SetDepth(0);
}

}  // namespace kv
