// Faults of the company databases during the main-product update, on the loopback server. The
// built updater runs as a process, unattended, on a Windows 7 installation of two companies whose
// databases it reaches through 127.0.0.1. Every run must end within kRunBound: one that does not is
// killed and fails the test (a hang is a fault, not a slow test).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "db/client/CallWatchdog.h"
#include "db/dmDBConnectionUnit.h"
#include "formats/Text.h"
#include "products/dmStructurePrintingUnit.h"
#include "tests/support/Isql.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/PrintRows.h"
#include "tests/support/TempPrefix.h"

extern char** environ;

namespace kv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::CommandResult;
using test::LoopbackServer;
using test::PrintRow;
using test::ReadHostFile;
using Lines = std::vector<std::string>;

const fs::path kBin = KV_BIN_DIR;
const fs::path kSource = KV_SOURCE_DIR;
const fs::path kMainPackage = kBin.parent_path() / "demo" / "main-package";
const fs::path kFirebirdRoot = kBin.parent_path() / "firebird";
constexpr auto kRunBound = 90s;
constexpr const char* kLausanne = "C:\\WKorvane\\TSV\\Data\\LAUSANNE.FDB";
constexpr const char* kGeneve = "C:\\WKorvane\\TSV\\Data\\GENEVE.FDB";

std::string ListText(const std::string& name) {
  return text::Cp1252ToUtf8(ReadHostFile(kSource / "demo" / "main-package" / name));
}

// The report as the log holds it, one entry per line.
Lines LogLines(const fs::path& log) {
  Lines lines;
  std::istringstream in(ReadHostFile(log));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The server's answer to the free space of C: for the guard's life.
class ServerFreeSpace {
 public:
  explicit ServerFreeSpace(long long bytes) { LoopbackServer::SetFreeSpace('C', bytes); }
  ~ServerFreeSpace() { LoopbackServer::SetFreeSpace('C', std::nullopt); }
  ServerFreeSpace(const ServerFreeSpace&) = delete;
  ServerFreeSpace& operator=(const ServerFreeSpace&) = delete;
};

// The updaters' bound on a call to the server (KORVANE_DB_CALL_LIMIT) for the guard's life.
constexpr auto kCallLimit = std::chrono::seconds(5);
class UpdaterCallLimit {
 public:
  UpdaterCallLimit() { setenv(fb::kCallLimitVariable, std::to_string(kCallLimit.count()).c_str(), 1); }
  ~UpdaterCallLimit() { unsetenv(fb::kCallLimitVariable); }
  UpdaterCallLimit(const UpdaterCallLimit&) = delete;
  UpdaterCallLimit& operator=(const UpdaterCallLimit&) = delete;
};

// Starts the server again at the scope's end when a test stopped it, also when the test failed.
class ServerRunningAtEnd {
 public:
  ServerRunningAtEnd() = default;
  ~ServerRunningAtEnd() {
    try {
      if (!LoopbackServer::IsRunning()) LoopbackServer::Start();
    } catch (const std::exception& e) {
      ADD_FAILURE() << "the loopback server did not start again: " << e.what();
    }
  }
  ServerRunningAtEnd(const ServerRunningAtEnd&) = delete;
  ServerRunningAtEnd& operator=(const ServerRunningAtEnd&) = delete;
};

struct BoundedRun {
  int exitCode = -1;  // -1: killed or ended by a signal
  bool timedOut = false;
  std::chrono::milliseconds took{};
  std::string err;
};

struct UpdaterProcess {
  fs::path updater, prefix, log, errFile;
};

// Runs updaters at the same time, unattended, each with its installation's prefix and the build's
// Firebird root, each in a process group of its own. `watch` is called every few milliseconds while
// one runs (a test's hook: it may pause a process, stop the server, ...). Past the bound a group is
// killed.
std::vector<BoundedRun> RunUpdaters(const std::vector<UpdaterProcess>& processes,
                                    const std::function<void(pid_t)>& watch = {}) {
  std::vector<BoundedRun> runs(processes.size());
  std::vector<pid_t> pids;
  const auto start = std::chrono::steady_clock::now();
  for (const UpdaterProcess& process : processes) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      if (!entry.starts_with("KORVANE_PREFIX=") && !entry.starts_with("FIREBIRD=")) env.push_back(entry);
    }
    env.push_back("KORVANE_PREFIX=" + process.prefix.string());
    env.push_back("FIREBIRD=" + kFirebirdRoot.string());
    std::vector<std::string> args = {process.updater.string(), "--unattended", "--log", process.log.string()};
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      const int err = open(process.errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 1);
      dup2(err, 2);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    if (pid > 0) setpgid(pid, pid);
    pids.push_back(pid);
  }
  std::vector<bool> done(processes.size(), false);
  for (std::size_t left = processes.size(); left > 0;) {
    const bool late = std::chrono::steady_clock::now() - start > kRunBound;
    for (std::size_t i = 0; i < processes.size(); ++i) {
      if (done[i]) continue;
      int status = 0;
      if (pids[i] <= 0) {
        done[i] = true;
      } else if (waitpid(pids[i], &status, WNOHANG) == pids[i]) {
        if (WIFEXITED(status)) runs[i].exitCode = WEXITSTATUS(status);
        done[i] = true;
      } else if (late) {
        runs[i].timedOut = true;
        kill(-pids[i], SIGKILL);
        kill(pids[i], SIGKILL);
        waitpid(pids[i], &status, 0);
        done[i] = true;
      } else if (watch) {
        watch(pids[i]);
      }
      if (done[i]) {
        --left;
        runs[i].took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        runs[i].err = ReadHostFile(processes[i].errFile);
      }
    }
    std::this_thread::sleep_for(5ms);
  }
  return runs;
}

// A package folder: the demo's main package with the printing lists given (name, CP1252 bytes)
// instead of its own.
void MakePackage(const fs::path& folder, const std::vector<std::pair<std::string, std::string>>& lists) {
  fs::copy(kMainPackage, folder, fs::copy_options::recursive);
  fs::remove(folder / "Factures.lst");
  fs::remove(folder / "BonsLivraison.lst");
  std::string names;
  for (const auto& [name, bytes] : lists) {
    std::ofstream(folder / name, std::ios::binary) << bytes;
    names += name + "\r\n";
  }
  std::ofstream(folder / "PrintLists.txt", std::ios::binary) << names;
}

// The demo installation, made once, on Windows 7 (so its local database names go to 127.0.0.1),
// with the demo's main-product updater on its CD-ROM drive D:. Each test works on a copy.
class DatabaseFaults : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    templateDir_ = new test::TempDir;
    const fs::path prefix = templateDir_->Path() / "prefix";
    const CommandResult made =
        test::RunProgram({"env", "KORVANE_PREFIX=" + prefix.string(), "KVHOST=" + (kBin / "kvhost").string(),
                          "bash", (kSource / "demo" / "make-prefix").string(), prefix.string()});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    std::string ini = ReadHostFile(prefix / "prefix.ini");
    ini = std::regex_replace(ini, std::regex("\nversion=[^\n]*"), "\nversion=6.1");
    std::ofstream(prefix / "prefix.ini", std::ios::binary) << ini;
    BuildUpdater(kMainPackage, prefix / "drives" / "d" / "KorvaneWinTessivo.exe");
    LoopbackServer::AddAlias(kLausanne,
                             prefix / "drives" / "c" / "WKorvane" / "TSV" / "Data" / "LAUSANNE.FDB");
    const test::PrefixScope scope(prefix);
    demoRows_ = test::ReadPrintRows(LoopbackServer::Address(kLausanne));
  }
  static void TearDownTestSuite() {
    delete templateDir_;
    templateDir_ = nullptr;
  }

  static void BuildUpdater(const fs::path& package, const fs::path& out) {
    const CommandResult packed =
        test::RunProgram({(kBin / "kvpack").string(), "build", package.string(), "-o", out.string(), "--stub",
                          (kBin / "korvane-update").string()});
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
  }

  DatabaseFaults() {
    fs::copy(templateDir_->Path() / "prefix", Prefix(), fs::copy_options::recursive);
    // The server resolves both companies' Windows-form names to this installation's files.
    LoopbackServer::AddAlias(kLausanne, HostFile(kLausanne));
    LoopbackServer::AddAlias(kGeneve, HostFile(kGeneve));
  }

  fs::path Prefix() const { return scratch_.Path() / "prefix"; }

 public:
  fs::path HostFile(const std::string& windowsPath) const {
    std::string relative = windowsPath.substr(3);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    return Prefix() / "drives" / "c" / relative;
  }

 protected:
  fs::path Updater() const { return Prefix() / "drives" / "d" / "KorvaneWinTessivo.exe"; }
  fs::path Log() const { return scratch_.Path() / "update.log"; }

  BoundedRun Run(const std::function<void(pid_t)>& watch = {}) {
    return RunUpdaters({{Updater(), Prefix(), Log(), scratch_.Path() / "stderr.txt"}}, watch)[0];
  }

  std::vector<PrintRow> Rows(const std::string& database) const {
    const test::PrefixScope scope(Prefix());
    return test::ReadPrintRows(LoopbackServer::Address(database));
  }

  // Writes rows through the server as the maker's user (the store's own operations).
  void WriteLists(const std::string& database, const std::vector<std::pair<std::string, Lines>>& lists) {
    const test::PrefixScope scope(Prefix());
    TdmDBConnection connection;
    connection.Init(2, "TSV_PRO", "Base de données", "Test");
    connection.SetParams(LoopbackServer::Address(database), "", "", "");
    connection.ConnectAsKorvane();
    TdmStructurePrinting store("", &connection);
    for (const auto& [name, lines] : lists) {
      if (store.PrintParamsExist(name)) {
        store.UpdatePrintParams(name, lines);
      } else {
        store.InsertPrintParams(name, lines);
      }
    }
    connection.Disconnect();
  }

  inline static test::TempDir* templateDir_ = nullptr;
  inline static std::vector<PrintRow> demoRows_;
  test::TempDir scratch_;
  ServerRunningAtEnd running_;
};

// The report of a company whose lists were written, and of one that could not be opened.
Lines UpdatedCompany(const std::string& company) {
  return {"", "Mise à jour de listes pour la société " + company,
          "Les paramètres pour l'impression : \"factures\" ont été mise à jour.",
          "Les paramètres pour l'impression : \"Bons de livraison\" ont été ajoutés."};
}
Lines SkippedCompany(const std::string& company) {
  return {"", "Mise à jour de listes pour la société " + company,
          "Echec de connexion a la société " + company + ", mise à jour des listes non effectuée."};
}

// The report's part from the first company's heading to its end.
Lines PrintListPart(const Lines& report) {
  const auto first =
      std::find(report.begin(), report.end(), "Mise à jour de listes pour la société Lausanne");
  if (first == report.end()) return report;
  return Lines(first - 1, report.end());
}

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<PrintRow> WrittenRows() {
  return {{"bonslivraison", "Lieferscheine / Bolle di consegna", "Bons de livraison",
           "Lieferscheine / Bolle di consegna", "V5.3", ListText("BonsLivraison.lst")},
          {"factures", "Kundenrechnungen", "Factures clients", "Fatture clienti", "V5.2",
           ListText("Factures.lst")}};
}

// ---------------------------------------------------------------------------------------------
// Faults met when a company's database is opened: that company is skipped and reported, the other
// one is still updated, and the run ends with warnings. Free space is what the server's function
// library answers.

struct OpeningFault {
  const char* name;
  std::function<std::shared_ptr<void>(DatabaseFaults&)> make;  // the fault for the returned guard's life
  int exitCode;
  bool lausanneWritten, geneveWritten;
  std::string boxes;  // the message boxes on standard error, as the unattended mode writes them
};

class OpeningFaults : public DatabaseFaults, public ::testing::WithParamInterface<OpeningFault> {};

TEST_P(OpeningFaults, SkipTheCompanyAndReportIt) {
  const OpeningFault& fault = GetParam();
  // The rows the demo made (both companies alike); not read from this test's files, which the
  // server would then keep open under the fault.
  const std::vector<PrintRow>& before = demoRows_;
  ASSERT_EQ(before.size(), 1u);
  BoundedRun run;
  {
    const std::shared_ptr<void> guard = fault.make(*this);
    run = Run();
  }
  ASSERT_FALSE(run.timedOut) << "the updater did not end within " << kRunBound.count() << " s";
  EXPECT_EQ(run.exitCode, fault.exitCode) << run.err;
  const Lines outcome = {"", fault.exitCode == 0
                                 ? "La mise à jour est terminée avec succès."
                                 : "La mise à jour a été effectuée mais avec des avertissements !"};
  EXPECT_EQ(PrintListPart(LogLines(Log())),
            Join({fault.lausanneWritten ? UpdatedCompany("Lausanne") : SkippedCompany("Lausanne"),
                  fault.geneveWritten ? UpdatedCompany("Genève") : SkippedCompany("Genève"), outcome}));
  EXPECT_EQ(run.err, fault.boxes);
  EXPECT_EQ(Rows(kLausanne), fault.lausanneWritten ? WrittenRows() : before);
  EXPECT_EQ(Rows(kGeneve), fault.geneveWritten ? WrittenRows() : before);
}

// Runs its action at the end of the scope.
class AtEnd {
 public:
  explicit AtEnd(std::function<void()> action) : action(std::move(action)) {}
  AtEnd(const AtEnd&) = delete;
  AtEnd& operator=(const AtEnd&) = delete;
  ~AtEnd() {
    try {
      action();
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
  }

 private:
  std::function<void()> action;
};

std::shared_ptr<void> FreeSpace(long long bytes) {
  return std::make_shared<ServerFreeSpace>(bytes);
}

// The server's KORVANE user gets another password (as on a server set up by someone else).
void SetKorvanePassword(const std::string& password) {
  const test::IsqlResult result =
      test::RunIsql("CONNECT '127.0.0.1/" + std::to_string(LoopbackServer::Port()) + ":" + kGeneve +
                    "' USER SYSDBA PASSWORD 'masterkey';\n" + "ALTER USER KORVANE PASSWORD " +
                    test::SqlString(password) + ";\n");
  if (result.exitCode != 0) throw std::runtime_error("ALTER USER KORVANE: " + result.err);
}

std::shared_ptr<void> LoginRefused(DatabaseFaults&) {
  SetKorvanePassword("autre2026");
  return std::make_shared<AtEnd>([] { SetKorvanePassword("84736251"); });
}

// Not even root may open an immutable file for writing.
std::shared_ptr<void> ReadOnlyFile(const fs::path& file) {
  if (std::system(("chattr +i '" + file.string() + "'").c_str()) != 0)
    throw std::runtime_error("chattr +i failed");
  return std::make_shared<AtEnd>([file] { std::system(("chattr -i '" + file.string() + "'").c_str()); });
}

// The first 1024 bytes (the header page's start) overwritten; put back at the end so the rows can
// be read again.
std::shared_ptr<void> DamagedHeader(const fs::path& file) {
  std::string saved(1024, '\0');
  {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.read(saved.data(), 1024);
    f.seekp(0);
    f.write(std::string(1024, '\xA5').data(), 1024);
    if (!f) throw std::runtime_error("cannot damage " + file.string());
  }
  return std::make_shared<AtEnd>([file, saved] {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.write(saved.data(), 1024);
  });
}

const std::string kLowSpace50 =
    "[Avertissement] L'espace disque pour la base de données est faible!\nVeuillez faire de la place sur le "
    "disque.\n50 Mb\n";
const std::string kNoSpace49 =
    "[Erreur] Il n'y a plus assez de place sur le disque de la base de données!\n49 Mb\n";

std::string Times(int count, const std::string& text) {
  std::string all;
  for (int i = 0; i < count; ++i) all += text;
  return all;
}

INSTANTIATE_TEST_SUITE_P(
    MainProductUpdate, OpeningFaults,
    ::testing::Values(
        OpeningFault{"ServerDownFromTheStart",
                     [](DatabaseFaults&) { return std::make_shared<test::StoppedLoopbackServer>(); }, 3,
                     false, false, ""},
        // The port takes the connection, nothing answers: each company is given up after the limit.
        OpeningFault{"ServerFrozenFromTheStart",
                     [](DatabaseFaults&) {
                       struct Frozen {
                         UpdaterCallLimit limit;
                         test::FrozenLoopbackServer server;
                       };
                       return std::make_shared<Frozen>();
                     },
                     3, false, false, ""},
        OpeningFault{"LoginRefused", LoginRefused, 3, false, false, ""},
        OpeningFault{"ReadOnlyFile", [](DatabaseFaults& t) { return ReadOnlyFile(t.HostFile(kLausanne)); }, 3,
                     false, true, ""},
        OpeningFault{"DamagedHeader", [](DatabaseFaults& t) { return DamagedHeader(t.HostFile(kLausanne)); },
                     3, false, true, ""},
        // ConnectAsKorvane checks the space twice: two boxes per company.
        OpeningFault{"FreeSpaceAtTheLowThreshold", [](DatabaseFaults&) { return FreeSpace(150'000'000); }, 0,
                     true, true, ""},
        OpeningFault{"FreeSpaceAtTheCriticalThreshold", [](DatabaseFaults&) { return FreeSpace(50'000'000); },
                     0, true, true, Times(4, kLowSpace50)},
        OpeningFault{"FreeSpaceJustBelowTheCriticalThreshold",
                     [](DatabaseFaults&) { return FreeSpace(49'999'999); }, 3, false, false,
                     Times(2, kNoSpace49)},
        // Said once for the run: the connection module stops asking.
        OpeningFault{
            "FreeSpaceUnknown", [](DatabaseFaults&) { return FreeSpace(0); }, 0, true, true,
            "[Avertissement] Le serveur Firebird n'a pas pu déterminer la place restante sur le disque de "
            "la base de données!\n"}),
    [](const ::testing::TestParamInfo<OpeningFault>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The server stops in the middle of the import: the updater is paused as soon as the log shows the
// first list written, the server is stopped, and the updater goes on against it.

Lines ListLines(int number, const std::string& version) {
  Lines lines = {"DES:F:Liste " + std::to_string(number), "[Version]", "Texte=" + version};
  for (int i = 0; i < 40; ++i)
    lines.push_back("Ligne" + std::to_string(i) + "=" + version + " " + std::string(60, 'x'));
  return lines;
}

std::string JoinCrLf(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string ListName(int number) {
  return (number < 10 ? "liste0" : "liste") + std::to_string(number);
}

// The server killed outright (a crash, a power cut of the server) instead of stopped: waits until
// the process is gone.
void KillServer() {
  std::ifstream pidFile(LoopbackServer::Folder() / "firebird.pid");
  pid_t pid = 0;
  if (!(pidFile >> pid) || pid <= 0) throw std::runtime_error("no server pid");
  kill(pid, SIGKILL);
  for (int i = 0; i < 1000 && kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(10ms);
}

// How the server goes: stopped, killed, or frozen (SIGSTOP: a server machine that hangs, a pulled
// cable), which only the updater's bound on every call ends.
enum class ServerFault { Stopped, Killed, Frozen };

class ServerGoesDuringTheImport : public DatabaseFaults, public ::testing::WithParamInterface<ServerFault> {};

TEST_P(ServerGoesDuringTheImport, EveryListStaysWholeAndTheUpdateFailed) {
  const ServerFault fault = GetParam();
  const UpdaterCallLimit limit;
  std::unique_ptr<test::FrozenLoopbackServer> frozen;
  std::chrono::steady_clock::time_point goneAt;
  constexpr int kLists = 40;
  std::vector<std::pair<std::string, std::string>> package;
  std::vector<std::pair<std::string, Lines>> old;
  for (int n = 1; n <= kLists; ++n) {
    package.emplace_back("Liste" + std::string(n < 10 ? "0" : "") + std::to_string(n) + ".lst",
                         text::Utf8ToCp1252(JoinCrLf(ListLines(n, "nouvelle"))));
    old.emplace_back(ListName(n), ListLines(n, "ancienne"));
  }
  MakePackage(scratch_.Path() / "package", package);
  BuildUpdater(scratch_.Path() / "package", Updater());
  WriteLists(kLausanne, old);
  WriteLists(kGeneve, old);

  bool stopped = false;
  const auto start = std::chrono::steady_clock::now();
  const BoundedRun run = Run([&](pid_t pid) {
    if (stopped || !fs::exists(Log())) return;
    if (ReadHostFile(Log()).find("ont été mise à jour.") == std::string::npos) return;
    // Paused while the server goes: it then meets a lost server at its next request.
    kill(-pid, SIGSTOP);
    switch (fault) {
      case ServerFault::Stopped:
        LoopbackServer::Stop();
        break;
      case ServerFault::Killed:
        KillServer();
        break;
      case ServerFault::Frozen:
        frozen = std::make_unique<test::FrozenLoopbackServer>();
        break;
    }
    goneAt = std::chrono::steady_clock::now();
    kill(-pid, SIGCONT);
    stopped = true;
  });
  frozen.reset();
  ASSERT_TRUE(stopped) << "the log never showed a written list";
  ASSERT_FALSE(run.timedOut) << "the updater did not end within " << kRunBound.count() << " s";
  // The call under way when the server went is given up after the limit, then the run ends.
  EXPECT_LT(start + run.took - goneAt, kCallLimit + std::chrono::seconds(5));
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(run.err, "") << "no message box: the report says it";

  const Lines report = PrintListPart(LogLines(Log()));
  std::set<std::string> reported;
  const std::regex updated("Les paramètres pour l'impression : \"(liste[0-9]+)\" ont été mise à jour\\.");
  std::size_t line = 2;
  for (std::smatch m; line < report.size() && std::regex_match(report[line], m, updated); ++line)
    reported.insert(m[1]);
  EXPECT_GE(reported.size(), 1u);
  EXPECT_LT(reported.size(), static_cast<std::size_t>(kLists)) << "the server stopped after the last list";
  ASSERT_GE(report.size(), 2u);
  EXPECT_EQ(Lines(report.begin(), report.begin() + 2),
            (Lines{"", "Mise à jour de listes pour la société Lausanne"}));
  EXPECT_EQ(Lines(report.begin() + static_cast<std::ptrdiff_t>(std::min(line, report.size())), report.end()),
            (Lines{"Cannot import resource files", "", "La mise à jour a échouée !"}))
      << "the second company is not started after a failed import";

  if (!LoopbackServer::IsRunning()) LoopbackServer::Start();
  // Every list whole: a reported list holds its new text; of the others only the one whose commit
  // was under way when the server went may hold it (written, not reported), the rest their old text.
  std::size_t unreportedButNew = 0;
  const std::vector<PrintRow> lausanne = Rows(kLausanne);
  ASSERT_EQ(lausanne.size(), static_cast<std::size_t>(kLists) + 1) << "factures and the forty lists";
  for (int n = 1; n <= kLists; ++n) {
    const PrintRow& row = lausanne[static_cast<std::size_t>(n)];
    ASSERT_EQ(row.pname, ListName(n));
    const std::string oldText = JoinCrLf(ListLines(n, "ancienne")),
                      newText = JoinCrLf(ListLines(n, "nouvelle"));
    if (reported.contains(row.pname)) {
      EXPECT_EQ(row.print_params, newText) << row.pname;
    } else if (row.print_params == newText) {
      ++unreportedButNew;
    } else {
      EXPECT_EQ(row.print_params, oldText) << row.pname;
    }
  }
  EXPECT_LE(unreportedButNew, 1u);
  for (const PrintRow& row : Rows(kGeneve)) {
    if (row.pname == "factures") continue;
    const int n = std::stoi(row.pname.substr(5));
    EXPECT_EQ(row.print_params, JoinCrLf(ListLines(n, "ancienne"))) << "Genève " << row.pname;
  }
  std::cout << "[          ] " << reported.size() << " lists written before the server stopped; the run took "
            << run.took.count() << " ms\n";
}

INSTANTIATE_TEST_SUITE_P(MainProductUpdate, ServerGoesDuringTheImport,
                         ::testing::Values(ServerFault::Stopped, ServerFault::Killed, ServerFault::Frozen),
                         [](const ::testing::TestParamInfo<ServerFault>& info) {
                           switch (info.param) {
                             case ServerFault::Stopped:
                               return std::string("Stopped");
                             case ServerFault::Killed:
                               return std::string("Killed");
                             case ServerFault::Frozen:
                               break;
                           }
                           return std::string("Frozen");
                         });

// ---------------------------------------------------------------------------------------------
// A list another workstation holds in an open transaction (the suite saving a layout): the updater
// waits a bounded time for it, then reports the failure; the held row is the holder's business.

TEST_F(DatabaseFaults, AListHeldByAnotherTransactionIsWaitedForABoundedTimeThenTheFailureReported) {
  BoundedRun run;
  {
    const test::PrefixScope scope(Prefix());
    TdmDBConnection holder;
    holder.Init(2, "TSV_PRO", "Base de données", "Poste");
    holder.SetParams(LoopbackServer::Address(kLausanne), "", "", "");
    holder.ConnectAsKorvane();
    TIBQuery hold;
    hold.SetDatabase(holder.IBDatabase.get());
    hold.SetTransaction(holder.GlobalTransaction.get());
    holder.DoStartTransaction(false);
    hold.SQL = {"UPDATE PRT_Params SET compat='tenue' WHERE pname='factures'"};
    hold.ExecSQL();
    run = Run();
    holder.DoRollback();
    holder.Disconnect();
  }
  ASSERT_FALSE(run.timedOut) << "the updater waited for the held list for ever";
  EXPECT_EQ(run.exitCode, 1) << run.err;
  // The engine's lock manager counts in whole seconds.
  EXPECT_GE(run.took, std::chrono::seconds(TdmStructurePrinting::kLockTimeoutSeconds - 1))
      << "it did not wait";
  EXPECT_EQ(PrintListPart(LogLines(Log())),
            (Lines{"", "Mise à jour de listes pour la société Lausanne", "Cannot import resource files", "",
                   "La mise à jour a échouée !"}));
  EXPECT_EQ(Rows(kLausanne), demoRows_);
  EXPECT_EQ(Rows(kGeneve), demoRows_) << "the second company is not started after a failed import";
}

// ---------------------------------------------------------------------------------------------
// Two workstations update the same company databases at the same time: two installations (two
// prefixes, two computer names) whose company lists name the same databases, which the server
// resolves to the same files, each running its own package's lists. Each run either writes its
// lists or reports the failure; every list read back is one package's version, whole, and only one
// that its writer reported.

std::string ConcurrentList(const std::string& name, char workstation, int round) {
  Lines lines = {"DES:F:" + name, "[Poste]",
                 std::string("Poste=") + workstation + " tour " + std::to_string(round)};
  for (int i = 0; i < 30; ++i)
    lines.push_back("Ligne" + std::to_string(i) + "=" + workstation + std::string(70, workstation));
  return JoinCrLf(lines);
}

// The names each company's part of a report says were written.
std::map<std::string, std::set<std::string>> WrittenByReport(const Lines& report) {
  std::map<std::string, std::set<std::string>> written;
  const std::string heading = "Mise à jour de listes pour la société ";
  const std::regex line("Les paramètres pour l'impression : \"([^\"]+)\" ont été (mise à jour|ajoutés)\\.");
  std::string company;
  for (const std::string& text : report) {
    std::smatch m;
    if (text.starts_with(heading)) {
      company = text.substr(heading.size());
    } else if (!company.empty() && std::regex_match(text, m, line)) {
      written[company].insert(m[1]);
    }
  }
  return written;
}

TEST_F(DatabaseFaults, TwoWorkstationsUpdatingTheSameDatabasesAtOnceLoseAndMixNoList) {
  constexpr int kRounds = 6;
  constexpr int kLists = 6;
  // Lists that exist before every round (both updaters update them) and lists new in each round
  // (both insert them).
  std::vector<std::pair<std::string, Lines>> existing;
  for (int i = 1; i <= kLists; ++i)
    existing.emplace_back("commun" + std::to_string(i), Lines{"DES:F:ancienne"});
  WriteLists(kLausanne, existing);
  WriteLists(kGeneve, existing);
  int failedRuns = 0, completedRuns = 0;
  for (int round = 1; round <= kRounds; ++round) {
    const fs::path folder = scratch_.Path() / ("tour" + std::to_string(round));
    std::vector<std::string> names;
    for (int i = 1; i <= kLists; ++i) {
      names.push_back("commun" + std::to_string(i));
      names.push_back("tour" + std::to_string(round) + "n" + std::to_string(i));
    }
    fs::create_directories(folder);
    std::vector<UpdaterProcess> processes;
    for (const char workstation : {'A', 'B'}) {
      const fs::path prefix = folder / (std::string("poste") + workstation);
      fs::copy(templateDir_->Path() / "prefix", prefix, fs::copy_options::recursive);
      std::string ini = ReadHostFile(prefix / "prefix.ini");
      ini = std::regex_replace(ini, std::regex("\ncomputer=[^\n]*"),
                               std::string("\ncomputer=POSTE") + workstation);
      std::ofstream(prefix / "prefix.ini", std::ios::binary) << ini;
      std::vector<std::pair<std::string, std::string>> lists;
      for (const std::string& name : names)
        lists.emplace_back(name + ".lst", ConcurrentList(name, workstation, round));
      const fs::path package = folder / (std::string("paquet") + workstation);
      MakePackage(package, lists);
      const fs::path updater = prefix / "drives" / "d" / "KorvaneWinTessivo.exe";
      BuildUpdater(package, updater);
      processes.push_back({updater, prefix, folder / (std::string("poste") + workstation + ".log"),
                           folder / (std::string("poste") + workstation + ".err")});
    }
    const std::vector<BoundedRun> runs = RunUpdaters(processes);
    std::map<char, std::map<std::string, std::set<std::string>>> written;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      const char workstation = i == 0 ? 'A' : 'B';
      ASSERT_FALSE(runs[i].timedOut) << "round " << round << ": workstation " << workstation
                                     << " did not end within " << kRunBound.count() << " s";
      const Lines report = LogLines(processes[i].log);
      written[workstation] = WrittenByReport(report);
      const std::string last = report.empty() ? "" : report.back();
      switch (runs[i].exitCode) {
        case 0:  // every list of both companies written
          ++completedRuns;
          EXPECT_EQ(last, "La mise à jour est terminée avec succès.");
          for (const char* company : {"Lausanne", "Genève"})
            EXPECT_EQ(written[workstation][company], std::set<std::string>(names.begin(), names.end()))
                << "round " << round << ", " << workstation << ", " << company;
          break;
        case 1:  // a list refused by the other workstation's write: the failure is reported
          ++failedRuns;
          EXPECT_EQ(Lines(report.end() - 3, report.end()),
                    (Lines{"Cannot import resource files", "", "La mise à jour a échouée !"}))
              << "round " << round << ", " << workstation;
          break;
        default:
          ADD_FAILURE() << "round " << round << ", " << workstation << ": exit code " << runs[i].exitCode
                        << "\n"
                        << ReadHostFile(processes[i].log) << runs[i].err;
      }
    }
    for (const auto& [database, company] :
         {std::pair<std::string, std::string>{kLausanne, "Lausanne"}, {kGeneve, "Genève"}}) {
      std::map<std::string, std::string> rows;
      for (const PrintRow& row : Rows(database)) rows[row.pname] = row.print_params;
      for (const std::string& name : names) {
        const bool byA = written['A'][company].contains(name), byB = written['B'][company].contains(name);
        const auto row = rows.find(name);
        if (row == rows.end()) {
          EXPECT_FALSE(byA || byB) << "round " << round << ", " << company << ": " << name
                                   << " reported but lost";
          continue;
        }
        const bool isA = row->second == ConcurrentList(name, 'A', round);
        const bool isB = row->second == ConcurrentList(name, 'B', round);
        if (!byA && !byB) {
          // Written by neither: the old row of an existing list (the new lists have none).
          EXPECT_TRUE(name.starts_with("commun") && !isA && !isB)
              << "round " << round << ", " << company << ": " << name << " written without a report";
          continue;
        }
        EXPECT_TRUE((isA && byA) || (isB && byB))
            << "round " << round << ", " << company << ": " << name
            << " is neither package's version, whole, "
            << "by a workstation that reported it (A " << byA << ", B " << byB << ")";
      }
    }
  }
  std::cout << "[          ] " << kRounds << " rounds of two workstations: " << completedRuns
            << " runs completed, " << failedRuns << " failed and reported\n";
}

}  // namespace
}  // namespace kv
