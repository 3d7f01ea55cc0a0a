// The Firebird services API: server properties, backup, validation, statistics and database
// properties, on the local engine ("service_mgr") or a server reached over TCP/IP.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace kv::fb {

struct ServerVersionInfo {
  std::string ServerVersion;   // isc_info_svc_server_version, "LI-V3.0.11.33637 Firebird 3.0"
  std::string Implementation;  // isc_info_svc_implementation
  int ServiceVersion = 0;      // isc_info_svc_version
};

class ServiceManager {
 public:
  ServiceManager();
  ~ServiceManager();  // detaches, never throws
  ServiceManager(const ServiceManager&) = delete;
  ServiceManager& operator=(const ServiceManager&) = delete;

  // An empty server names the local engine; otherwise "server:service_mgr" over TCP/IP.
  void Attach(const std::string& server, const std::string& user, const std::string& password);
  void Detach();
  bool IsAttached() const;

  ServerVersionInfo QueryVersion();

  // The database names below are connection strings of the server's own side: a local string is
  // opened through the host prefix (ClientDatabaseName); for a server, its own path.

  // Backs up into backupFile (a path of the server side, like the database's); verbose output,
  // read with NextLine.
  // Options: ignore limbo transactions, no garbage collection, non-transportable format.
  void StartBackup(const std::string& database, const std::string& backupFile);
  // Validation and repair: with sweep, a sweep only; otherwise a full validation.
  void StartValidation(const std::string& database, bool sweepOnly);
  // Database statistics, header pages only.
  void StartHeaderStatistics(const std::string& database);
  // Database properties, applied at once.
  void SetSweepInterval(const std::string& database, unsigned interval);
  void SetForcedWrites(const std::string& database, bool synchronous);

  // The next output line of the running action; false at the end of the output.
  bool NextLine(std::string& line);
  // Every remaining line, in order.
  void ReadLines(const std::function<void(const std::string&)>& onLine);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kv::fb
