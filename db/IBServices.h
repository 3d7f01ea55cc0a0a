// The services-API components of the connection module: server properties, backup, database
// properties, validation and statistics, each over one service manager of the client layer. They
// are set up as the suite's code sets them (login prompt, parameter lines "user_name=" and
// "password=", protocol and server name, database name) and attached only when asked.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/Component.h"
#include "db/client/ServiceManager.h"

namespace kv {

// How a service manager is reached: the local engine or a server over TCP/IP. The other
// protocols of the suite's clients are named so that callers can refuse them.
enum class TProtocol { TCP, SPX, NamedPipe, Local };

class TIBCustomService : public TComponent {
 public:
  TIBCustomService();
  // Detaches, never throws.
  ~TIBCustomService() override;

  // Kept for the code that switches it off; a service here never prompts.
  bool LoginPrompt = true;
  // "user_name=X" and "password=Y"; other lines are ignored.
  std::vector<std::string> Params;
  TProtocol Protocol = TProtocol::Local;
  // The server for TCP; not used for Local.
  std::string ServerName;

  bool Active() const;
  // Attaches to the service manager with the user and password of Params. Raises DatabaseError
  // for a protocol other than Local and TCP, for TCP without a server name, and when the client
  // library or the server refuses.
  void Attach();
  // Detaches when attached; raises the client's failure.
  void Detach();

  fb::ServiceManager& Manager() { return *manager_; }

 protected:
  // Raises DatabaseError "Le service n'est pas connecté." unless attached.
  void CheckActive() const;

 private:
  std::unique_ptr<fb::ServiceManager> manager_;
};

struct TServerVersionInfo {
  std::string ServerVersion;
  std::string ServerImplementation;
  int ServiceVersion = 0;
};

// Server properties: the version information of the server.
class TIBServerProperties : public TIBCustomService {
 public:
  enum Option : unsigned { ConfigParameters = 0x1, Version = 0x2 };
  unsigned Options = 0;

  // Asks the attached server; the answer is in VersionInfo.
  void FetchVersionInfo();
  TServerVersionInfo VersionInfo;
};

// A service that runs an action on one database and gives output lines.
class TIBControlService : public TIBCustomService {
 public:
  // The database as the service's server names it (a local connection string for Local).
  std::string DatabaseName;

  // The next output line of the running action; false at the end of the output.
  bool NextLine(std::string& line);
  // Whether the output has ended (after NextLine or GetNextLine answered its end).
  bool Eof() const { return eof_; }
  // The next output line; the empty text at the end of the output, Eof true afterwards.
  std::string GetNextLine();

 protected:
  void Started() { eof_ = false; }

 private:
  bool eof_ = true;
};

// Backup: verbose output, blocking factor 0 (the server's default), options ignore limbo
// transactions, no garbage collection, non-transportable format.
class TIBBackupService : public TIBControlService {
 public:
  enum Option : unsigned { IgnoreLimbo = 0x1, NoGarbageCollection = 0x2, NonTransportable = 0x4 };
  unsigned Options = IgnoreLimbo | NoGarbageCollection | NonTransportable;
  bool Verbose = true;
  int BlockingFactor = 0;
  // Paths as the database server sees them; the first one is written.
  std::vector<std::string> BackupFile;

  // Starts the backup of DatabaseName into BackupFile's first path; raises DatabaseError
  // "Aucun fichier de sauvegarde." without one.
  void ServiceStart();
};

// Database properties, applied at once.
class TIBConfigService : public TIBControlService {
 public:
  void SetSweepInterval(int Value);
  // true: asynchronous writes; false: synchronous (forced) writes.
  void SetAsyncMode(bool Value);
};

class TIBValidationService : public TIBControlService {
 public:
  enum Option : unsigned { ValidateDB = 0x1, SweepDB = 0x2 };
  unsigned Options = ValidateDB;

  // A sweep when Options is SweepDB alone, otherwise a full validation.
  void ServiceStart();
};

class TIBStatisticalService : public TIBControlService {
 public:
  enum Option : unsigned { HeaderPages = 0x1 };
  unsigned Options = HeaderPages;

  // The header-page statistics; raises DatabaseError for any other option.
  void ServiceStart();
};

}  // namespace kv
