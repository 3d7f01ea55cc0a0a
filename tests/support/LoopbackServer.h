// The loopback Firebird server that the CTest fixture "loopback_server" runs
// (scripts/firebird-server start <build>/loopback, port KV_FIREBIRD_PORT on 127.0.0.1 only).
// Tests that use it live in tests/<folder>/loopback/: they share the one server, one at a time,
// so a test may stop it for a fault and start it again.
//
// Users (password): SYSDBA (masterkey), KORVANE (84736251, may create databases), PUBLIC_READER
// (tarpon), PUBLIC_READER_WRITER (tarpon).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kv::test {

class LoopbackServer {
 public:
  static int Port();
  static std::filesystem::path Folder();
  // "127.0.0.1:" + path. The port is the private root's RemoteServicePort: the client must run
  // with FIREBIRD=KV_FIREBIRD_ROOT, as the program does.
  static std::string Address(const std::string& databasePath);

  // Makes the server resolve a Windows-form path ("C:\Data\SOC.FDB") to a host file; the server
  // reads its aliases again on each attach.
  static void AddAlias(const std::string& windowsPath, const std::filesystem::path& hostPath);

  // What the server's kv_udf.dll answers to GetFreeDiskSpace for a drive ([udf] free_space_<L>
  // of the server's own prefix); nullopt: the free space of the drive's folder again.
  static void SetFreeSpace(char drive, std::optional<long long> bytes);

  static bool IsRunning();
  // Both wait: Start until the port answers, Stop until the process has ended.
  static void Start();
  static void Stop();
};

// Stops the server for a scope (a fault test) and starts it again at its end, also when the
// test fails.
class StoppedLoopbackServer {
 public:
  StoppedLoopbackServer();
  ~StoppedLoopbackServer();
  StoppedLoopbackServer(const StoppedLoopbackServer&) = delete;
  StoppedLoopbackServer& operator=(const StoppedLoopbackServer&) = delete;
};

// Freezes the server for a scope (SIGSTOP: a server machine that hangs, a pulled cable: the port
// still takes connections, nothing answers) and releases it (SIGCONT) at its end, also when the
// test fails.
class FrozenLoopbackServer {
 public:
  FrozenLoopbackServer();
  ~FrozenLoopbackServer();
  FrozenLoopbackServer(const FrozenLoopbackServer&) = delete;
  FrozenLoopbackServer& operator=(const FrozenLoopbackServer&) = delete;

 private:
  int pid_;
};

}  // namespace kv::test
