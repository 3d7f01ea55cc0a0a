// The main-product update on an installation that says Windows 7: there a local database name is
// reached through the database server's loopback address ("127.0.0.1:" + path), so the built
// updater writes the printing lists of the demo installation through the loopback server, whose
// aliases map the Windows-form paths to the databases' files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "formats/Text.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/PrintRows.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::CommandResult;
using test::LoopbackServer;
using test::PrintRow;
using test::ReadHostFile;

const fs::path kBin = KV_BIN_DIR;
const fs::path kSource = KV_SOURCE_DIR;
const fs::path kMainPackage = kBin.parent_path() / "demo" / "main-package";

CommandResult RunWithPrefix(const std::vector<std::string>& command, const fs::path& prefix,
                            const std::vector<std::pair<std::string, std::string>>& environment = {}) {
  std::vector<std::string> argv = {"env", "KORVANE_PREFIX=" + prefix.string()};
  for (const auto& [name, value] : environment) argv.push_back(name + "=" + value);
  argv.insert(argv.end(), command.begin(), command.end());
  return test::RunProgram(argv);
}

std::string ListText(const std::string& name) {
  return text::Cp1252ToUtf8(ReadHostFile(kSource / "demo" / "main-package" / name));
}

// The server's answer to the free space of C: for the guard's life (its own prefix has no C:).
class ServerFreeSpace {
 public:
  explicit ServerFreeSpace(long long bytes) { LoopbackServer::SetFreeSpace('C', bytes); }
  ~ServerFreeSpace() { LoopbackServer::SetFreeSpace('C', std::nullopt); }
  ServerFreeSpace(const ServerFreeSpace&) = delete;
  ServerFreeSpace& operator=(const ServerFreeSpace&) = delete;
};

TEST(MainProductOnWindows7, TheCompanyDatabasesAreReachedThroughTheLoopbackServer) {
  ASSERT_TRUE(LoopbackServer::IsRunning()) << "the fixture starts the server";
  test::TempDir scratch;
  const fs::path prefix = scratch.Path() / "prefix";
  const fs::path updater = prefix / "drives" / "d" / "KorvaneWinTessivo.exe";
  const fs::path log = scratch.Path() / "update.log";
  const CommandResult made =
      RunWithPrefix({"bash", (kSource / "demo" / "make-prefix").string(), prefix.string()}, prefix,
                    {{"KVHOST", (kBin / "kvhost").string()}});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  const CommandResult packed =
      RunWithPrefix({(kBin / "kvpack").string(), "build", kMainPackage.string(), "-o", updater.string(),
                     "--stub", (kBin / "korvane-update").string()},
                    prefix);
  ASSERT_EQ(packed.exitCode, 0) << packed.err;

  // Windows 7, and the first company's database gone.
  std::string ini = ReadHostFile(prefix / "prefix.ini");
  ini = std::regex_replace(ini, std::regex("\nversion=[^\n]*"), "\nversion=6.1");
  std::ofstream(prefix / "prefix.ini", std::ios::binary) << ini;
  const fs::path data = prefix / "drives" / "c" / "WKorvane" / "TSV" / "Data";
  ASSERT_TRUE(fs::remove(data / "LAUSANNE.FDB"));
  LoopbackServer::AddAlias("C:\\WKorvane\\TSV\\Data\\LAUSANNE.FDB", data / "LAUSANNE.FDB");
  // The server's alias leads to a copy: what the update writes through the server lands there only.
  const fs::path served = scratch.Path() / "GENEVE-SERVEUR.FDB";
  fs::copy_file(data / "GENEVE.FDB", served);
  LoopbackServer::AddAlias("C:\\WKorvane\\TSV\\Data\\GENEVE.FDB", served);
  const ServerFreeSpace freeSpace(100'000'000'000LL);

  const CommandResult run = RunWithPrefix({updater.string(), "--unattended", "--log", log.string()}, prefix,
                                          {{"FIREBIRD", (kBin.parent_path() / "firebird").string()}});
  EXPECT_EQ(run.exitCode, 3) << run.err;
  EXPECT_EQ(run.err, "");
  const std::string report = ReadHostFile(log);
  EXPECT_NE(report.find("Mise à jour de listes pour la société Lausanne\n"
                        "Echec de connexion a la société Lausanne, mise à jour des listes non effectuée.\n\n"
                        "Mise à jour de listes pour la société Genève\n"
                        "Les paramètres pour l'impression : \"factures\" ont été mise à jour.\n"
                        "Les paramètres pour l'impression : \"Bons de livraison\" ont été ajoutés.\n\n"
                        "La mise à jour a été effectuée mais avec des avertissements !"),
            std::string::npos)
      << report;

  // Read back through the server too: it holds the file while it keeps it open.
  const test::PrefixScope scope(prefix);
  const std::vector<PrintRow> untouched = test::ReadPrintRows("C:\\WKorvane\\TSV\\Data\\GENEVE.FDB");
  ASSERT_EQ(untouched.size(), 1u) << "the local file was not written";
  EXPECT_NE(untouched[0].print_params, ListText("Factures.lst"));
  EXPECT_EQ(test::ReadPrintRows(LoopbackServer::Address("C:\\WKorvane\\TSV\\Data\\GENEVE.FDB")),
            (std::vector<PrintRow>{
                {"bonslivraison", "Lieferscheine / Bolle di consegna", "Bons de livraison",
                 "Lieferscheine / Bolle di consegna", "V5.3", ListText("BonsLivraison.lst")},
                {"factures", "Kundenrechnungen", "Factures clients", "Fatture clienti", "V5.2",
                 ListText("Factures.lst")},
            }));
}

}  // namespace
}  // namespace kv
