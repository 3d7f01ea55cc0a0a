// kv_bench_connect: the time of the connection module's full sequence, ConnectAsKorvane then
// Disconnect, next to a bare attach and detach of the same database with the same parameters,
// locally (the embedded engine) and over TCP/IP to a Firebird server of its own.
//
// ConnectAsKorvane does, besides the attachment: the client's version text, the server's version
// through the services API (attach, query, detach), the database's identifier and version (one
// query), the free disk space twice (a server function) and the user's registration (a short
// transaction of its own: count, insert or update, the purge of stale users with the server's
// time). Disconnect asks the server whether the attachment lives, unregisters the user and
// detaches. The services query alone and one empty transaction are timed as well, to show their
// share.
//
// The server is Debian's Firebird run by scripts/firebird-server in a temporary folder, on a port
// of its own (default: the loopback port of the build + 100); it is stopped at the end, also on a
// failure. The databases are made with the embedded engine, one for each side.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "db/IBComponents.h"
#include "db/IBManagers.h"
#include "db/KorvaneLogon.h"
#include "db/client/Attachment.h"
#include "db/client/ClientLibrary.h"
#include "db/client/Transaction.h"
#include "db/dmDBConnectionUnit.h"
#include "platform/Errors.h"
#include "platform/UserInterface.h"
#include "platform/host/Prefix.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kIdentifier = "TS_Bench";
constexpr std::int32_t kVersion = 1;

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// scripts/firebird-server with the bench's port.
int RunServerScript(int port, const std::string& arguments) {
  const std::string command = "KORVANE_FB_PORT=" + std::to_string(port) +
                              " KORVANE_FIREBIRD_ROOT=" + ShellQuote(KV_FIREBIRD_ROOT) + " " +
                              ShellQuote(std::string(KV_SOURCE_DIR) + "/scripts/firebird-server") + " " +
                              arguments + " >/dev/null";
  return std::system(command.c_str());
}

// The server of the bench's folder: started here, stopped with the guard.
class BenchServer {
 public:
  BenchServer(int port, fs::path dir) : port_(port), dir_(std::move(dir)) {
    if (RunServerScript(port_, "start " + ShellQuote(dir_.string())) != 0) {
      throw kv::Error("the bench's Firebird server did not start on port " + std::to_string(port_));
    }
  }
  ~BenchServer() { RunServerScript(port_, "stop " + ShellQuote(dir_.string())); }
  BenchServer(const BenchServer&) = delete;
  BenchServer& operator=(const BenchServer&) = delete;

  void Alias(const std::string& windowsPath, const fs::path& hostPath) {
    if (RunServerScript(port_, "alias " + ShellQuote(dir_.string()) + " " + ShellQuote(windowsPath) + " " +
                                   ShellQuote(hostPath.string())) != 0) {
      throw kv::Error("cannot add the alias " + windowsPath);
    }
  }
  // The server's function library answers this for drive C: (no box during the runs).
  void SetFreeSpace(long long bytes) {
    std::ofstream ini(dir_ / "prefix" / "prefix.ini", std::ios::app);
    ini << "[udf]\nfree_space_C=" << bytes << "\n";
  }

 private:
  int port_;
  fs::path dir_;
};

// Counts the boxes: a box during a run would mean that the run did something else.
class CountingUi : public kv::ConsoleUserInterface {
 public:
  int MessageBox(const std::string& caption, const std::string& text, kv::MessageKind kind,
                 unsigned buttons) override {
    ++boxes;
    return ConsoleUserInterface::MessageBox(caption, text, kind, buttons);
  }
  int boxes = 0;
};

// A product database with the suite's base objects, made through the embedded engine.
void CreateProductDatabase(const std::string& windowsPath) {
  const auto host = kv::host::Prefix::Current().ToHost(windowsPath);
  if (!host) throw kv::Error("no host path for " + windowsPath);
  fs::create_directories(host->parent_path());
  kv::TIBDatabase database;
  kv::TIBTransaction transaction;
  transaction.SetDefaultDatabase(&database);
  database.SetDefaultTransaction(&transaction);
  kv::TDatabaseManager manager;
  manager.SetDatabase(&database);
  manager.SetTransaction(&transaction);
  manager.SetConnectionString(windowsPath);
  manager.SetUserName(kv::KorvaneUserName);
  manager.SetPassword(kv::KorvanePassword);
  manager.SetDBIdentifier(kIdentifier);
  manager.SetDBVersionValue(kVersion);
  manager.CreateDatabase();
  manager.RegisterUDF();
  manager.RegisterStoredProcs();
  database.Close();
}

struct Timing {
  double best = 0;
  double median = 0;
  double mean = 0;
};

// Milliseconds of `runs` timed calls after one call that is not timed.
Timing Measure(int runs, const std::function<void()>& action) {
  action();
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    action();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  Timing t;
  t.best = ms.front();
  t.median = ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
  for (double m : ms) t.mean += m / static_cast<double>(ms.size());
  return t;
}

void PrintRow(const std::string& label, const Timing& t, const Timing* base) {
  std::printf("%-44s %9.2f %9.2f %9.2f", label.c_str(), t.best, t.median, t.mean);
  if (base != nullptr) std::printf(" %8.1fx", t.median / base->median);
  std::printf("\n");
}

void RunSide(const std::string& title, const std::string& connection, int runs, CountingUi& ui) {
  kv::TdmDBConnection module;
  module.Init(kVersion, kIdentifier, "", "Bench");
  module.SetParams(connection, "", "", "");
  const Timing full = Measure(runs, [&] {
    module.ConnectAsKorvane();
    if (!module.Connected()) throw kv::Error("ConnectAsKorvane left the module disconnected");
    module.Disconnect();
  });
  const Timing services = Measure(runs, [&] {
    std::string version, implementation;
    int serviceVersion = 0;
    module.GetServerInfo(version, implementation, serviceVersion);
  });
  const std::vector<std::string> params = {std::string("user_name=") + kv::KorvaneUserName,
                                           std::string("password=") + kv::KorvanePassword,
                                           "lc_ctype=ISO8859_1"};
  const Timing bare = Measure(runs, [&] {
    kv::fb::Attachment attachment;
    attachment.Attach(connection, params);
    attachment.Detach();
  });
  // The sequence commits five short transactions (identity, free space twice, registration,
  // unregistration): what one costs on this attachment.
  kv::fb::Attachment attached;
  attached.Attach(connection, params);
  const Timing commit = Measure(runs, [&] {
    kv::fb::Transaction transaction;
    transaction.Start(attached);
    transaction.Commit();
  });
  attached.Detach();
  if (ui.boxes != 0) throw kv::Error("a message box was shown during the runs");
  std::printf("\n%s: %s (%d runs after one untimed, milliseconds)\n", title.c_str(), connection.c_str(),
              runs);
  std::printf("%-44s %9s %9s %9s %9s\n", "", "best", "median", "mean", "/ bare");
  PrintRow("ConnectAsKorvane + Disconnect", full, &bare);
  PrintRow("  of which a services version query", services, &bare);
  PrintRow("bare attach + detach", bare, nullptr);
  PrintRow("one empty transaction (start + commit)", commit, &bare);
}

int Main(int argc, char** argv) {
  int runs = 20;
  int port = KV_FIREBIRD_PORT + 100;
  std::optional<fs::path> workArg;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--port" && i + 1 < argc) {
      port = std::atoi(argv[++i]);
    } else if (a == "--work" && i + 1 < argc) {
      workArg = argv[++i];
    } else {
      std::cerr << "usage: kv_bench_connect [--runs N] [--port P] [--work DIR]\n";
      return 2;
    }
  }
  const kv::bench::WorkFolder workFolder(workArg.value_or(fs::path()));
  const fs::path& work = workFolder.Path();

  setenv("KORVANE_PREFIX", (work / "prefix").c_str(), 1);
  kv::host::Prefix::Current().SetIni("udf", "free_space_C", "10000000000");
  CountingUi ui;
  kv::SetUi(&ui);

  std::cout << "client: " << kv::fb::ClientLibraryName() << ", " << kv::fb::ClientVersion() << "\n";
  const std::string local = "C:\\Data\\LOCAL.FDB";
  const std::string remote = "C:\\Data\\REMOTE.FDB";
  CreateProductDatabase(local);
  CreateProductDatabase(remote);

  RunSide("local (embedded engine)", local, runs, ui);
  {
    BenchServer server(port, work / "server");
    server.Alias(remote, *kv::host::Prefix::Current().ToHost(remote));
    server.SetFreeSpace(10000000000LL);
    // host/port: the bench's own server, whatever port the client's configuration names.
    RunSide("TCP/IP (loopback server)", "127.0.0.1/" + std::to_string(port) + ":" + remote, runs, ui);
  }
  kv::SetUi(nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "kv_bench_connect: " << e.what() << "\n";
    return 1;
  }
}
