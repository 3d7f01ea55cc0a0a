// The print-list update on generated installations with company databases of the embedded engine:
// every company of the company list, the lists written and read back, the companies that cannot
// be reached, the names refused, and the errors that stop the update.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "db/KorvaneLogon.h"
#include "db/dmDBConnectionUnit.h"
#include "engine/Package.h"
#include "engine/UpdateCommon.h"
#include "formats/Text.h"
#include "platform/Errors.h"
#include "platform/Win32.h"
#include "platform/host/Prefix.h"
#include "products/EngineParts.h"
#include "products/MultiSte.h"
#include "products/PrintListUpdate.h"
#include "products/ProductUpdaters.h"
#include "products/dmStructurePrintingUnit.h"
#include "tests/db/ManagerFixture.h"
#include "tests/support/FirebirdRoot.h"
#include "tests/support/Isql.h"
#include "tests/support/PeFixtures.h"
#include "tests/support/PrintRows.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr win::FileTime kPackageTime = 133'500'000'000'000'000ULL;
constexpr const char* kSuite = "SOFTWARE\\KORVANE S.A.\\";

// The bytes of a list as the suite writes them: code page 1252, CR LF.
std::string Cp1252(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text::Utf8ToCp1252(text);
}

void SetValue(win::HKEY root, const std::string& key, const std::string& name, const std::string& value) {
  win::RegKey k;
  ASSERT_EQ(win::RegKey::Create(root, kSuite + key, win::KEY_ALL_ACCESS, k), win::ERROR_SUCCESS);
  k.SetValue(name, win::RegValue::String(value));
}

using Row = test::PrintRow;

std::vector<Row> ReadRows(const std::string& database) {
  return test::ReadPrintRows(database);
}

class PrintListUpdate : public ::testing::Test {
 protected:
  PrintListUpdate() {
    test::UseTestFirebirdRoot();
    fs::create_directories(prefix_.Host("C:\\Data"));
    SetCurrentPackage(&package_);
    InstallEngineParts();
  }
  ~PrintListUpdate() override {
    engine_.reset();
    SetEngineParts({});
    SetCurrentPackage(nullptr);
  }

  // A company of the main product with its database (made unless `reachable` is false).
  void Company(const std::string& name, const std::string& database, bool reachable = true) {
    SetValue(win::HKEY_LOCAL_MACHINE, "WinTessivo\\" + name + "\\TSV_DatabaseName", "Path", database);
    if (reachable) CreateCompanyDatabase(database, pcWinTessivo);
  }
  void CompanyList(const std::string& content) { prefix_.WriteFile("C:\\WKorvane\\multiste.txt", content); }
  void Add(const std::string& name, const std::string& content) { package_.Add(name, content, kPackageTime); }
  // The main product installed in version 5.2, and its version 5.3 in the package.
  void MainProduct() {
    SetValue(win::HKEY_CURRENT_USER, "WinTessivo\\Program", "Filename",
             "C:\\WKorvane\\TSV\\Programs\\WinTessivo.exe");
    test::WriteVersionedPe(prefix_, "C:\\WKorvane\\TSV\\Programs\\WinTessivo.exe", {5, 2, 0, 0});
    const std::vector<std::uint8_t> packaged = test::PeWithFileVersion({5, 3, 0, 0});
    Add("WinTessivo.exe", std::string(packaged.begin(), packaged.end()));
  }
  // The engine is made once the installation is in place: it reads the company list then.
  TdmUpdateCommon& Engine() {
    if (!engine_) {
      engine_ = std::make_unique<TdmUpdateCommon>();
      engine_->SetReportControl(&report_);
      engine_->ProductCode = pcWinTessivo;
    }
    return *engine_;
  }
  Lines Report() const {
    Lines texts;
    for (const auto& line : report_.Lines()) texts.push_back(line.text);
    return texts;
  }

  test::TempPrefix prefix_;
  test::ScriptedUi ui_;
  MemoryPackage package_;
  MemoryRichText report_;
  std::unique_ptr<TdmUpdateCommon> engine_;
};

TEST_F(PrintListUpdate, TwoCompaniesTheFirstUnreachableGiveWarningsAndTheSecondItsListsWithAccents) {
  Company("Nord", "C:\\Data\\ABSENT.FDB", false);
  Company("Sud", "C:\\Data\\SUD.FDB");
  CompanyList("Nord\r\nSud\r\n");
  {
    // An existing list of the second company: its descriptions stay.
    TdmDBConnection connection;
    connection.Init(2, "TSV_PRO", "Base de données", "Test");
    connection.SetParams("C:\\Data\\SUD.FDB", "", "", "");
    connection.ConnectAsKorvane();
    TdmStructurePrinting store("", &connection);
    store.InsertPrintParams("factures", {"DES:F:Factures d'origine", "[Ancien]"});
    connection.Disconnect();
  }
  Add("PrintLists.txt", "Factures.LST\r\nDevis.lst\r\nLisezmoi.txt\r\nAbsente.lst\r\n");
  Add("Factures.LST", Cp1252({"DES:F:Factures modifiées", "[Page]", "Titre=Facture n° à régler"}));
  Add("Devis.lst",
      Cp1252({"COM:V5 /* interne */", "DES:F:Devis à valider", "DES:D:Angebot", "Ligne=çàéèêëîïôùû"}));

  EXPECT_EQ(UpdatePrintLists(Engine(), ""), UpdateOutcome::CompletedWithWarnings);
  EXPECT_EQ(Report(), (Lines{"", "Mise à jour de listes pour la société Nord",
                             "Echec de connexion a la société Nord, mise à jour des listes non effectuée.",
                             "", "Mise à jour de listes pour la société Sud",
                             "Les paramètres pour l'impression : \"factures\" ont été mise à jour.",
                             "Les paramètres pour l'impression : \"Devis à valider\" ont été ajoutés."}));
  EXPECT_FALSE(Engine().DBConnection->Connected()) << "closed after the company";
  EXPECT_EQ(ReadRows("C:\\Data\\SUD.FDB"),
            (std::vector<Row>{
                {"devis", "Angebot", "Devis à valider", "devis", "V5",
                 "COM:V5 /* interne */\r\nDES:F:Devis à valider\r\nDES:D:Angebot\r\nLigne=çàéèêëîïôùû\r\n"},
                {"factures", "factures", "Factures d'origine", "factures", "",
                 "DES:F:Factures modifiées\r\n[Page]\r\nTitre=Facture n° à régler\r\n"},
            }));
}

TEST_F(PrintListUpdate, AnEmptyLineOfTheCompanyListRunsTheDefaultCompany) {
  SetValue(win::HKEY_LOCAL_MACHINE, "WinTessivo\\Paths\\TSV_DatabaseName", "Path", "C:\\Data\\DEFAUT.FDB");
  CreateCompanyDatabase("C:\\Data\\DEFAUT.FDB", pcWinTessivo);
  Company("Sud", "C:\\Data\\SUD.FDB");
  CompanyList("\r\nSud\r\n");
  Add("PrintLists.txt", "Bons.lst\r\n");
  Add("Bons.lst", Cp1252({"DES:X:Bons de livraison"}));

  EXPECT_EQ(UpdatePrintLists(Engine(), ""), UpdateOutcome::Completed);
  EXPECT_EQ(Report(), (Lines{"", "Mise à jour de listes pour la société Default",
                             "Les paramètres pour l'impression : \"Bons de livraison\" ont été ajoutés.", "",
                             "Mise à jour de listes pour la société Sud",
                             "Les paramètres pour l'impression : \"Bons de livraison\" ont été ajoutés."}));
  EXPECT_EQ(ReadRows("C:\\Data\\DEFAUT.FDB").size(), 1u);
  EXPECT_EQ(ReadRows("C:\\Data\\SUD.FDB").size(), 1u);
}

TEST_F(PrintListUpdate, WithoutCompanyListTheDefaultCompanyIsUpdatedOnce) {
  SetValue(win::HKEY_LOCAL_MACHINE, "WinTessivo\\Paths\\TSV_DatabaseName", "Path", "C:\\Data\\DEFAUT.FDB");
  CreateCompanyDatabase("C:\\Data\\DEFAUT.FDB", pcWinTessivo);
  Add("PrintLists.txt", "Bons.lst\r\n");
  Add("Bons.lst", Cp1252({"[Page]"}));

  EXPECT_EQ(UpdatePrintLists(Engine(), ""), UpdateOutcome::Completed);
  EXPECT_EQ(Report(), (Lines{"", "Mise à jour de listes pour la société Default",
                             "Les paramètres pour l'impression : \"bons\" ont été ajoutés."}));
}

TEST_F(PrintListUpdate, NothingToDoLeavesTheDatabasesAloneAndOtherFilesOnlyGiveTheCompanyLines) {
  Company("Sud", "C:\\Data\\SUD.FDB");
  CompanyList("Sud\r\n");
  EXPECT_EQ(UpdatePrintLists(Engine(), ""), UpdateOutcome::Completed);
  EXPECT_TRUE(Report().empty()) << "no PrintLists.txt";

  Add("PrintLists.txt", "Lisezmoi.txt\r\n");
  Add("Lisezmoi.txt", "pas une liste");
  EXPECT_EQ(UpdatePrintLists(Engine(), ""), UpdateOutcome::Completed);
  EXPECT_EQ(Report(), (Lines{"", "Mise à jour de listes pour la société Sud"}));
  EXPECT_TRUE(ReadRows("C:\\Data\\SUD.FDB").empty());
}

TEST_F(PrintListUpdate, ProductsWithoutPrintListsReturnAtOnce) {
  Company("Sud", "C:\\Data\\SUD.FDB");
  CompanyList("Sud\r\n");
  Add("PrintLists.txt", "Bons.lst\r\n");
  Add("Bons.lst", Cp1252({"[Page]"}));
  for (const ProductCode code : {pcZorbalt, pcPelmora, pcKorvaneFinance, pcCommon, pcOptaris, pcVlx}) {
    Engine().ProductCode = code;
    EXPECT_EQ(UpdatePrintLists(Engine(), ""), UpdateOutcome::Completed) << int(code);
  }
  EXPECT_TRUE(Report().empty());
}

// The bytes of a text as Firebird shows a value cast to OCTETS: two hexadecimal digits each.
std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (const char c : bytes) {
    hex += digits[static_cast<unsigned char>(c) >> 4];
    hex += digits[static_cast<unsigned char>(c) & 0xF];
  }
  return hex;
}

TEST_F(PrintListUpdate, ListsAreStoredByteForByteAndShownInCodePage1252) {
  Company("Sud", "C:\\Data\\SUD.FDB");
  CompanyList("Sud\r\n");
  Add("PrintLists.txt", Cp1252({"Prix€.lst"}));
  const std::string description = "Prix en € – l’œuvre";
  const std::string list = Cp1252({"DES:F:" + description, "Devise=€", "Titre=“Cœur” — fin…"});
  Add("Prix€.lst", list);

  EXPECT_EQ(UpdatePrintLists(Engine(), ""), UpdateOutcome::Completed);
  EXPECT_EQ(Report(), (Lines{"", "Mise à jour de listes pour la société Sud",
                             "Les paramètres pour l'impression : \"" + description + "\" ont été ajoutés."}));

  // Through the client layer's ISO8859_1 connection: each character the byte of the same code.
  const std::vector<Row> rows = ReadRows("C:\\Data\\SUD.FDB");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(text::Utf8ToLatin1(rows[0].pname), "prix\x80");
  EXPECT_EQ(text::Utf8ToLatin1(rows[0].print_params), list);
  EXPECT_EQ(text::Utf8ToLatin1(rows[0].f_text), text::Utf8ToCp1252(description));

  // In the database itself, as bytes.
  const test::IsqlResult stored = test::RunIsql(
      "connect " + test::SqlString(prefix_.Host("C:\\Data\\SUD.FDB").string()) + " user '" +
      KorvaneUserName + "' password '" + KorvanePassword +
      "';\nset list on;\nselect cast(f_text as varchar(90) character set octets) as F, "
      "cast(print_params as varchar(200) character set octets) as P from PRT_Params;\n");
  ASSERT_EQ(stored.exitCode, 0) << stored.out << stored.err;
  EXPECT_EQ(stored.Value("F"), Hex(text::Utf8ToCp1252(description)));
  EXPECT_EQ(stored.Value("P"), Hex(list));

  // The next update finds the list under the name it was stored with.
  EXPECT_EQ(UpdatePrintLists(Engine(), ""), UpdateOutcome::Completed);
  EXPECT_EQ(Report().back(), "Les paramètres pour l'impression : \"prix€\" ont été mise à jour.");
  EXPECT_EQ(ReadRows("C:\\Data\\SUD.FDB").size(), 1u);
}

// Only the extension goes: a list whose name holds dots keeps them, and never overwrites the list
// named by its first part.
TEST_F(PrintListUpdate, AListNameKeepsItsInnerDots) {
  Company("Sud", "C:\\Data\\SUD.FDB");
  CompanyList("Sud\r\n");
  Add("PrintLists.txt", "Bons.lst\r\nBons.2024.lst\r\n");
  Add("Bons.lst", Cp1252({"DES:F:Bons"}));
  Add("Bons.2024.lst", Cp1252({"DES:F:Bons 2024"}));

  EXPECT_EQ(UpdatePrintLists(Engine(), ""), UpdateOutcome::Completed);
  const std::vector<Row> rows = ReadRows("C:\\Data\\SUD.FDB");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].pname, "bons");
  EXPECT_EQ(rows[0].f_text, "Bons");
  EXPECT_EQ(rows[1].pname, "bons.2024");
  EXPECT_EQ(rows[1].f_text, "Bons 2024");
}

// A company list that exists but cannot be read (here held by another program without sharing)
// would pass over every company but the default one without a word.
TEST_F(PrintListUpdate, ACompanyListThatCannotBeReadIsReportedAndGivesWarnings) {
  SetValue(win::HKEY_LOCAL_MACHINE, "WinTessivo\\Paths\\TSV_DatabaseName", "Path", "C:\\Data\\DEFAUT.FDB");
  CreateCompanyDatabase("C:\\Data\\DEFAUT.FDB", pcWinTessivo);
  Company("Sud", "C:\\Data\\SUD.FDB");
  CompanyList("Sud\r\n");
  Add("PrintLists.txt", "Bons.lst\r\n");
  Add("Bons.lst", Cp1252({"DES:F:Bons"}));
  {
    auto held = win::File::Create("C:\\WKorvane\\multiste.txt", win::GENERIC_READ, 0, win::OPEN_EXISTING);
    ASSERT_TRUE(held);
    Engine();
  }

  EXPECT_EQ(UpdatePrintLists(Engine(), ""), UpdateOutcome::CompletedWithWarnings);
  const Lines report = Report();
  ASSERT_GE(report.size(), 2u);
  EXPECT_EQ(report[0], "La liste des sociétés C:\\wkorvane\\multiste.txt ne peut pas être lue :");
  EXPECT_TRUE(report[1].starts_with("Erreur système.  Code : 32.")) << report[1];
  EXPECT_EQ(Lines(report.end() - 3, report.end()),
            (Lines{"", "Mise à jour de listes pour la société Default",
                   "Les paramètres pour l'impression : \"Bons\" ont été ajoutés."}));
  EXPECT_TRUE(ReadRows("C:\\Data\\SUD.FDB").empty());
}

TEST_F(PrintListUpdate, ListNamesThatWouldLeaveTheirFolderAreRefusedAndReported) {
  Company("Sud", "C:\\Data\\SUD.FDB");
  CompanyList("Sud\r\n");
  Add("PrintLists.txt", "..\\..\\Evil.lst\r\nC:\\Evil.lst\r\nCON.lst\r\nBons.lst\r\n");
  for (const char* name : {"..\\..\\Evil.lst", "C:\\Evil.lst", "CON.lst", "Bons.lst"}) {
    Add(name, Cp1252({"DES:F:Liste"}));
  }
  EXPECT_EQ(UpdatePrintLists(Engine(), ""), UpdateOutcome::CompletedWithWarnings);
  EXPECT_EQ(Report(), (Lines{"Nom de fichier refusé dans le paquet : ..\\..\\Evil.lst",
                             "Nom de fichier refusé dans le paquet : C:\\Evil.lst",
                             "Nom de fichier refusé dans le paquet : CON.lst", "",
                             "Mise à jour de listes pour la société Sud",
                             "Les paramètres pour l'impression : \"Liste\" ont été ajoutés."}));
  EXPECT_EQ(ReadRows("C:\\Data\\SUD.FDB").size(), 1u);
}

TEST_F(PrintListUpdate, AValueWiderThanItsColumnStopsTheUpdateAndLeavesTheConnectionClosed) {
  Company("Nord", "C:\\Data\\NORD.FDB");
  Company("Sud", "C:\\Data\\SUD.FDB");
  CompanyList("Nord\r\nSud\r\n");
  Add("PrintLists.txt", "Bons.lst\r\nLarge.lst\r\nDevis.lst\r\n");
  Add("Bons.lst", Cp1252({"DES:F:Bons"}));
  Add("Large.lst", Cp1252({"DES:F:" + std::string(91, 'x')}));
  Add("Devis.lst", Cp1252({"DES:F:Devis"}));

  try {
    UpdatePrintLists(Engine(), "");
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_STREQ(error.what(), "Cannot import resource files");
  }
  EXPECT_FALSE(Engine().DBConnection->Connected());
  EXPECT_EQ(Engine().DBConnection->GlobalTransaction->Tag, 0);
  const std::vector<Row> nord = ReadRows("C:\\Data\\NORD.FDB");
  ASSERT_EQ(nord.size(), 1u) << "the list before stays, the lists after are not written";
  EXPECT_EQ(nord[0].pname, "bons");
  EXPECT_TRUE(ReadRows("C:\\Data\\SUD.FDB").empty()) << "the next companies are not updated";
}

TEST_F(PrintListUpdate, TheMainProductReportsTheFailedImportAndFails) {
  Company("Sud", "C:\\Data\\SUD.FDB");
  CompanyList("Sud\r\n");
  MainProduct();
  Add("PrintLists.txt", "Large.lst\r\n");
  Add("Large.lst", Cp1252({"COM:" + std::string(31, 'c')}));

  EXPECT_EQ(UpdateMainProduct(Engine()), UpdateOutcome::Failed);
  EXPECT_EQ(Report().back(), "Cannot import resource files");
  EXPECT_FALSE(Engine().DBConnection->Connected());
}

// The shared PDF library that the package carries and that cannot be copied (a running program
// holds it) ends the main product's update with warnings; the lists are written all the same.
TEST_F(PrintListUpdate, TheMainProductEndsWithWarningsWhenThePdfLibraryCannotBeCopied) {
  Company("Sud", "C:\\Data\\SUD.FDB");
  CompanyList("Sud\r\n");
  MainProduct();
  Add("PrintLists.txt", "Bons.lst\r\n");
  Add("Bons.lst", Cp1252({"DES:F:Bons"}));
  Add("wPDF300A.dll", "nouvelle bibliothèque");
  prefix_.WriteFile("C:\\WKorvane\\Common\\Programs\\wPDF300A.dll", "ancienne");
  auto held = win::File::Create("C:\\WKorvane\\Common\\Programs\\wPDF300A.dll", win::GENERIC_READ, 0,
                                win::OPEN_EXISTING);
  ASSERT_TRUE(held);

  EXPECT_EQ(UpdateMainProduct(Engine()), UpdateOutcome::CompletedWithWarnings);
  const Lines report = Report();
  EXPECT_NE(std::find(report.begin(), report.end(), "Une erreur s'est produite lors de la mise à jour du Common_Programs"),
            report.end());
  EXPECT_EQ(ReadRows("C:\\Data\\SUD.FDB").size(), 1u);
  held.reset();
  EXPECT_EQ(prefix_.ReadFile("C:\\WKorvane\\Common\\Programs\\wPDF300A.dll"), "ancienne");
}

TEST_F(PrintListUpdate, ACriticallyLowDiskClosesTheConnectionAndNoListIsWrittenToIt) {
  Company("Sud", "C:\\Data\\SUD.FDB");
  CompanyList("Sud\r\n");
  Add("PrintLists.txt", "Bons.lst\r\n");
  Add("Bons.lst", Cp1252({"DES:F:Bons"}));
  // What the server functions answer for the free space of drive C:.
  host::Prefix::Current().SetIni("udf", "free_space_C", "1000000");

  EXPECT_EQ(UpdatePrintLists(Engine(), ""), UpdateOutcome::CompletedWithWarnings);
  EXPECT_EQ(Report(), (Lines{"", "Mise à jour de listes pour la société Sud",
                             "Echec de connexion a la société Sud, mise à jour des listes non effectuée."}));
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_TRUE(
      ui_.Boxes()[0].text.starts_with("Il n'y a plus assez de place sur le disque de la base de données!"))
      << ui_.Boxes()[0].text;
  EXPECT_FALSE(Engine().DBConnection->Connected());
  host::Prefix::Current().SetIni("udf", "free_space_C", "100000000000");
  EXPECT_TRUE(ReadRows("C:\\Data\\SUD.FDB").empty());
}

TEST_F(PrintListUpdate, ACompanyWhoseFreeSpaceCheckFailsIsSkippedAndTheNextGetsItsOwnLists) {
  Company("Alpha", "C:\\Data\\ALPHA.FDB");
  Company("Beta", "C:\\Data\\BETA.FDB");
  CompanyList("Alpha\r\nBeta\r\n");
  // Attached, then refused by the free-space check ("Function unknown").
  test::KorvaneAttachment("C:\\Data\\ALPHA.FDB").Run("DROP EXTERNAL FUNCTION GetFreeDiskSpace");
  Add("PrintLists.txt", "Bons.lst\r\n");
  Add("Bons.lst", Cp1252({"DES:F:Bons de Beta"}));

  EXPECT_EQ(UpdatePrintLists(Engine(), ""), UpdateOutcome::CompletedWithWarnings);
  EXPECT_EQ(Report(), (Lines{"", "Mise à jour de listes pour la société Alpha",
                             "Echec de connexion a la société Alpha, mise à jour des listes non effectuée.",
                             "", "Mise à jour de listes pour la société Beta",
                             "Les paramètres pour l'impression : \"Bons de Beta\" ont été ajoutés."}));
  EXPECT_TRUE(test::KorvaneAttachment("C:\\Data\\ALPHA.FDB").Column("SELECT pname FROM PRT_Params").empty())
      << "Beta's list written into Alpha's database";
  const std::vector<Row> beta = ReadRows("C:\\Data\\BETA.FDB");
  ASSERT_EQ(beta.size(), 1u);
  EXPECT_EQ(beta[0].pname, "bons");
}

TEST_F(PrintListUpdate, AnAttachmentLeftOpenOnAnotherCompanyIsNotTakenForThisOne) {
  Company("Alpha", "C:\\Data\\ALPHA.FDB");
  Company("Beta", "C:\\Data\\BETA.FDB");
  TdmDBConnection& connection = *Engine().DBConnection;
  ASSERT_TRUE(ConnectCompanyDatabase(Engine(), "Alpha"));
  EXPECT_TRUE(ConnectCompanyDatabase(Engine(), "Alpha")) << "its own attachment is kept";
  ASSERT_TRUE(ConnectCompanyDatabase(Engine(), "Beta"));
  EXPECT_EQ(connection.DatabaseManager->ConnectionString(), "C:\\Data\\BETA.FDB");
  EXPECT_TRUE(connection.Connected());
  EXPECT_TRUE(DisconnectDatabase(Engine()));
}

TEST_F(PrintListUpdate, ProductsWithoutCompanyDatabasesAndUnregisteredCompaniesDoNotConnect) {
  Engine().ProductCode = pcOptaris;
  EXPECT_FALSE(ConnectCompanyDatabase(Engine(), "Sud"));
  Engine().ProductCode = pcWinTessivo;
  EXPECT_FALSE(ConnectCompanyDatabase(Engine(), "Inconnue"));
  EXPECT_FALSE(Engine().DBConnection->Connected());
  EXPECT_TRUE(DisconnectDatabase(Engine()));
}

// Each updater reports a failed print-list update under its own heading: the file it extracted
// last, or none.
struct FailedImportCase {
  const char* name;
  ProductCode code;
  const char* heading;
};

class FailedImportHeading : public PrintListUpdate, public ::testing::WithParamInterface<FailedImportCase> {
 protected:
  void AddPe(const std::string& name, const test::FileVersionNumbers& version) {
    const std::vector<std::uint8_t> bytes = test::PeWithFileVersion(version);
    Add(name, std::string(bytes.begin(), bytes.end()));
  }
};

TEST_P(FailedImportHeading, IsTheLastExtractedFileOrNone) {
  const FailedImportCase& c = GetParam();
  CompanyList("Sud\r\n");
  SetValue(win::HKEY_CURRENT_USER, "WinTessivo\\Program", "Filename",
           "C:\\WKorvane\\TSV\\Programs\\WinTessivo.exe");
  fs::create_directories(prefix_.Host("C:\\WKorvane\\TSV\\Programs"));
  std::function<UpdateOutcome(TdmUpdateCommon&)> update;
  switch (c.code) {
    case pcAdresses:
      SetValue(win::HKEY_LOCAL_MACHINE, "Adresses\\Sud", "DatabaseName", "C:\\Data\\ADR.FDB");
      CreateCompanyDatabase("C:\\Data\\ADR.FDB", pcAdresses);
      test::WriteVersionedPe(prefix_, "C:\\WKorvane\\Adresses\\Programs\\TSAdresses2.dll", {2, 4, 0, 0});
      AddPe("TSAdresses2.dll", {2, 5, 0, 0});
      update = UpdateAddressModule;
      break;
    case pcBrisklane:
      SetValue(win::HKEY_LOCAL_MACHINE, "Brisklane\\Sud", "ConnectionString", "C:\\Data\\BL.FDB");
      CreateCompanyDatabase("C:\\Data\\BL.FDB", pcBrisklane);
      SetValue(win::HKEY_CURRENT_USER, "Brisklane\\Program", "Filename", "C:\\Brisklane\\Brisklane.exe");
      test::WriteVersionedPe(prefix_, "C:\\Brisklane\\Brisklane.exe", {5, 1, 0, 0});
      prefix_.WriteFile("C:\\Brisklane\\BLE_INTF.dll", "interface");
      AddPe("Brisklane.exe", {5, 2, 0, 0});
      Add("BLE_INTF.dll", "interface");
      update = UpdateBrisklane;
      break;
    default:
      SetValue(win::HKEY_LOCAL_MACHINE, "ZRQ\\Sud", "ConnectionString", "C:\\Data\\ZRQ.FDB");
      CreateCompanyDatabase("C:\\Data\\ZRQ.FDB", pcZrq);
      SetValue(win::HKEY_CURRENT_USER, "ZRQ\\Program", "Filename", "C:\\ZRQ\\ZRQ.exe");
      test::WriteVersionedPe(prefix_, "C:\\ZRQ\\ZRQ.exe", {1, 0, 0, 0});
      AddPe("ZRQ.exe", {1, 2, 0, 0});
      update = UpdateZrq;
      break;
  }
  Add("PrintLists.txt", "Large.lst\r\n");
  Add("Large.lst", Cp1252({"DES:F:" + std::string(91, 'x')}));
  Engine().ProductCode = c.code;

  EXPECT_EQ(update(Engine()), UpdateOutcome::Failed);
  const Lines report = Report();
  ASSERT_GE(report.size(), 2u);
  EXPECT_EQ(report[report.size() - 2], c.heading);
  EXPECT_EQ(report.back(), "Cannot import resource files");
  EXPECT_FALSE(Engine().DBConnection->Connected());
}

INSTANTIATE_TEST_SUITE_P(
    Updaters, FailedImportHeading,
    ::testing::Values(
        FailedImportCase{"AddressModule", pcAdresses, "Une erreur s'est produite lors de la mise à jour du "},
        FailedImportCase{"Brisklane", pcBrisklane, "Une erreur s'est produite lors de la mise à jour du "},
        FailedImportCase{"Zrq", pcZrq, "Une erreur s'est produite lors de la mise à jour du ZRQHELP.rtf"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The company list

class CompanyListFile : public ::testing::Test {
 protected:
  test::TempPrefix prefix_;
};

TEST_F(CompanyListFile, TheFirstFileFoundInTheSearchOrderIsTakenAndTheObsoleteKeyDeleted) {
  SetValue(win::HKEY_LOCAL_MACHINE, "MultiSte\\Ancien", "Societe", "x");
  prefix_.WriteFile("C:\\wkorvane\\multiste.txt", "B\r\n");
  prefix_.WriteFile("C:\\korvane\\multiste.txt.txt", "A\r\n");
  TFMultiSte form;
  EXPECT_EQ(form.FFilename, "C:\\korvane\\multiste.txt.txt");
  EXPECT_EQ(form.ComboBoxCompanies.Items, Lines{"A"});
  EXPECT_FALSE(win::RegKey::Exists(win::HKEY_LOCAL_MACHINE, std::string(kSuite) + "MultiSte"));
}

TEST_F(CompanyListFile, TheCommonFolderIsTheLastPlaceAndLastCompanyIsSelected) {
  SetValue(win::HKEY_CURRENT_USER, "WinTessivo\\Program", "Filename",
           "C:\\WKorvane\\TSV\\Programs\\WinTessivo.exe");
  fs::create_directories(prefix_.Host("C:\\WKorvane\\TSV\\Programs"));
  prefix_.WriteFile("C:\\WKorvane\\Common\\Programs\\multiste.txt", "Nord\r\nSud\r\n\r\nEst");
  SetValue(win::HKEY_CURRENT_USER, "Multiste", "LastCompany", "Sud");
  TFMultiSte form;
  EXPECT_EQ(form.FFilename, "C:\\WKorvane\\Common\\Programs\\multiste.txt");
  EXPECT_EQ(form.ComboBoxCompanies.Items, (Lines{"Nord", "Sud", "", "Est"}));
  EXPECT_EQ(form.ComboBoxCompanies.ItemIndex, 1);
}

TEST_F(CompanyListFile, AMultisteKeyThatCannotBeReadStopsTheEnginesCreation) {
  SetValue(win::HKEY_CURRENT_USER, "Multiste", "LastCompany", "Sud");
  host::Prefix::Current().SetIni("registry", "deny", "HKCU\\Software\\KORVANE S.A.\\Multiste");
  InstallEngineParts();
  try {
    TdmUpdateCommon engine;
    ADD_FAILURE() << "the engine was made";
  } catch (const Error& error) {
    EXPECT_STREQ(error.what(),
                 "Lecture d'une valeur de registre impossible : \r\nVeuillez contrôler vos droits d'accès.");
  }
  SetEngineParts({});
}

TEST_F(CompanyListFile, AnObsoleteKeyThatCannotBeDeletedIsLeftAndTheListStillLoads) {
  SetValue(win::HKEY_LOCAL_MACHINE, "MultiSte\\Ancien", "Societe", "x");
  host::Prefix::Current().SetIni("registry", "readonly", "HKLM\\SOFTWARE\\KORVANE S.A.\\MultiSte");
  prefix_.WriteFile("C:\\korvane\\multiste.txt", "A\r\n");
  TFMultiSte form;
  EXPECT_EQ(form.ComboBoxCompanies.Items, Lines{"A"});
  EXPECT_TRUE(win::RegKey::Exists(win::HKEY_LOCAL_MACHINE, std::string(kSuite) + "MultiSte\\Ancien"));
}

TEST_F(CompanyListFile, WithoutOneOnCTheWindowsFoldersDriveIsSearched) {
  prefix_.AddDrive('D', "fixed");
  prefix_.SetSystem("windows", "D:\\Windows");
  prefix_.WriteFile("D:\\korvane\\multiste.txt", "Sud\r\n");
  TFMultiSte form;
  EXPECT_EQ(form.FFilename, "D:\\korvane\\multiste.txt");
  EXPECT_EQ(form.ComboBoxCompanies.Items, Lines{"Sud"});
  EXPECT_EQ(form.FReadError, "");
}

TEST_F(CompanyListFile, NoFileGivesNoCompany) {
  TFMultiSte form;
  EXPECT_EQ(form.FFilename, "");
  EXPECT_TRUE(form.ComboBoxCompanies.Items.empty());
  EXPECT_EQ(form.ComboBoxCompanies.ItemIndex, -1);
}

}  // namespace
}  // namespace kv
