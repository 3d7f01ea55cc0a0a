// The product updaters on generated installations: the main product and the family of the other
// products, each on its main road and on the rows of its failure table.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/Package.h"
#include "engine/UpdateCommon.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/InstallTools2.h"
#include "platform/Messages.h"
#include "platform/RichTextControl.h"
#include "platform/Win32.h"
#include "products/EngineParts.h"
#include "products/MultiSte.h"
#include "products/ProductLocation.h"
#include "products/ProductUpdaters.h"
#include "tests/support/HolderProcess.h"
#include "tests/support/LoadedLibraries.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/PeFixtures.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::FileVersionNumbers;
using test::ScriptedUi;
using test::TempPrefix;
using Lines = std::vector<std::string>;

constexpr win::FileTime kPackageTime = 133'500'000'000'000'000ULL;  // March 2024
constexpr const char* kSuite = "SOFTWARE\\KORVANE S.A.\\";
constexpr const char* kTsv = "C:\\WKorvane\\TSV\\Programs\\";
constexpr const char* kRefused = "Mise à jour impossible, merci de contacter Korvane.";

std::string Pe(const FileVersionNumbers& version) {
  const std::vector<std::uint8_t> bytes = test::PeWithFileVersion(version);
  return std::string(bytes.begin(), bytes.end());
}

// The report's lines of a text: CR LF starts a new line.
Lines Split(const std::string& text) {
  Lines lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

std::string Content(const std::string& name) {
  return "contenu de " + name + " dans le paquet\r\n";
}

// An engine whose own executable lies where the test says (a CD-ROM drive, a fixed one).
class TestEngine : public TdmUpdateCommon {
 public:
  std::string modulePath = "C:\\Temp\\KorvaneUpdate.exe";

 protected:
  std::string UpdaterModulePath() const override { return modulePath; }
};

class ProductUpdaters : public ::testing::Test {
 protected:
  ProductUpdaters() {
    engine_.SetReportControl(&report_);
    SetCurrentPackage(&package_);
  }
  ~ProductUpdaters() override { SetCurrentPackage(nullptr); }

  static void SetHkcu(const std::string& key, const std::string& name, const std::string& value) {
    win::RegKey k;
    ASSERT_EQ(win::RegKey::Create(win::HKEY_CURRENT_USER, kSuite + key, win::KEY_ALL_ACCESS, k),
              win::ERROR_SUCCESS);
    k.SetValue(name, win::RegValue::String(value));
  }
  static std::string ReadHkcu(const std::string& key, const std::string& name) {
    return ReadRegistryString(win::HKEY_CURRENT_USER, kSuite + key, name);
  }
  void Add(const std::string& name, const std::string& content) { package_.Add(name, content, kPackageTime); }
  void AddFile(const std::string& name) { Add(name, Content(name)); }
  void AddList(const Lines& names) {
    std::string text;
    for (const std::string& name : names) text += name + "\r\n";
    Add("FileNames.txt", text);
  }
  void Install(const std::string& path, const FileVersionNumbers& version) {
    test::WriteVersionedPe(prefix_, path, version);
  }
  // The main product registered in the suite root C:\WKorvane\, with its executable.
  void InstallMainProduct(const FileVersionNumbers& version) {
    SetHkcu("WinTessivo\\Program", "Filename", std::string(kTsv) + "WinTessivo.exe");
    Install(std::string(kTsv) + "WinTessivo.exe", version);
  }
  Lines Report() const {
    Lines texts;
    for (const auto& line : report_.Lines()) texts.push_back(line.text);
    return texts;
  }
  bool Exists(const std::string& path) const { return IsExistingFile(path); }
  std::string Read(const std::string& path) const { return prefix_.ReadFile(path); }
  FileVersionNumbers Version(const std::string& path) const { return test::VersionOf(path); }
  // The "Copie de"/"vers" lines of one copy, whatever the temporary file's name.
  Lines TargetsOfCopies() const {
    Lines targets;
    for (const std::string& line : Report()) {
      if (line.starts_with("vers ")) targets.push_back(line.substr(5));
    }
    return targets;
  }

  TempPrefix prefix_;
  ScriptedUi ui_;
  MemoryPackage package_;
  TestEngine engine_;
  MemoryRichText report_;
};

// ---------------------------------------------------------------------------------------------
// The main product

class MainProduct : public ProductUpdaters {
 protected:
  MainProduct() { engine_.ProductCode = pcWinTessivo; }
  // A package of the main product with its companion files.
  void MainPackage(const FileVersionNumbers& version) {
    Add("WinTessivo.exe", Pe(version));
    AddFile("TSV_DB_INTF.dll");
    AddFile("Korvane.dll");
    AddFile("WinTessivo.chm");
    AddFile("wPDF300A.dll");
  }
};

TEST_F(MainProduct, ReplacesTheExecutableThenTheInstalledInterfaceLibraryTheCompanionsAndThePdfLibrary) {
  InstallMainProduct({5, 2, 0, 117});
  prefix_.WriteFile(std::string(kTsv) + "TSV_DB_INTF.dll", "ancienne interface");
  MainPackage({5, 3, 0, 4});

  EXPECT_EQ(UpdateMainProduct(engine_), UpdateOutcome::Completed);
  EXPECT_EQ(TargetsOfCopies(),
            (Lines{std::string(kTsv) + "WinTessivo.exe", std::string(kTsv) + "TSV_DB_INTF.dll",
                   std::string(kTsv) + "Korvane.dll", std::string(kTsv) + "WinTessivo.chm",
                   "C:\\WKorvane\\Common\\Programs\\wPDF300A.dll"}));
  EXPECT_EQ(Version(std::string(kTsv) + "WinTessivo.exe"), (FileVersionNumbers{5, 3, 0, 4}));
  for (const char* name : {"TSV_DB_INTF.dll", "Korvane.dll", "WinTessivo.chm"}) {
    EXPECT_EQ(Read(std::string(kTsv) + name), Content(name)) << name;
  }
  EXPECT_EQ(Read("C:\\WKorvane\\Common\\Programs\\wPDF300A.dll"), Content("wPDF300A.dll"));
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(MainProduct, TheEngineeringEditionLivesInTsiAndAnUninstalledInterfaceLibraryIsNotInstalled) {
  engine_.ProductCode = pcWinTessivoIngenieur;
  SetHkcu("WinTessivo Ingenieur\\Program", "Filename", "C:\\WKorvane\\TSI\\Programs\\WinTessivo.exe");
  Install("C:\\WKorvane\\TSI\\Programs\\WinTessivo.exe", {5, 2, 0, 117});
  Add("WinTessivo.exe", Pe({5, 3, 0, 4}));
  AddFile("TSV_DB_INTF.dll");

  EXPECT_EQ(UpdateMainProduct(engine_), UpdateOutcome::Completed);
  EXPECT_EQ(TargetsOfCopies(), Lines{"C:\\WKorvane\\TSI\\Programs\\WinTessivo.exe"});
  EXPECT_FALSE(Exists("C:\\WKorvane\\TSI\\Programs\\TSV_DB_INTF.dll"));
  EXPECT_FALSE(Exists("C:\\WKorvane\\TSI\\Programs\\Korvane.dll"));
}

TEST_F(MainProduct, WithoutTheExecutableInThePackageTheRunIsToldCannotFind) {
  InstallMainProduct({5, 2, 0, 117});
  AddFile("Korvane.dll");
  try {
    UpdateMainProduct(engine_);
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_STREQ(error.what(), "Cannot find WinTessivo.exe");
  }
  EXPECT_TRUE(Report().empty());
}

struct MajorCase {
  const char* name;
  std::uint16_t installed;
  std::uint16_t packaged;
  bool fromCdRom;
  bool refused;
};

class MajorVersionGuard : public MainProduct, public ::testing::WithParamInterface<MajorCase> {};

TEST_P(MajorVersionGuard, AJumpFromVersionFourIsRefusedUnlessTheUpdaterRunsFromACdRom) {
  const MajorCase& c = GetParam();
  prefix_.AddDrive('D', "cdrom");
  engine_.modulePath = c.fromCdRom ? "D:\\KorvaneUpdate.exe" : "C:\\Temp\\KorvaneUpdate.exe";
  InstallMainProduct({c.installed, 0, 0, 1});
  Add("WinTessivo.exe", Pe({c.packaged, 9, 0, 1}));

  const UpdateOutcome outcome = UpdateMainProduct(engine_);
  if (c.refused) {
    EXPECT_EQ(outcome, UpdateOutcome::Failed);
    EXPECT_EQ(Report(), (Lines{"", kRefused}));
    ASSERT_EQ(ui_.Boxes().size(), 1u);
    EXPECT_EQ(ui_.Boxes()[0].text, kRefused);
    EXPECT_EQ(ui_.Boxes()[0].kind, MessageKind::Plain);
    EXPECT_EQ(ui_.Beeps(), std::vector<std::uint32_t>{MB_ICONEXCLAMATION});
    EXPECT_EQ(Version(std::string(kTsv) + "WinTessivo.exe")[0], c.installed);
  } else {
    EXPECT_EQ(outcome, UpdateOutcome::Completed);
    EXPECT_EQ(Version(std::string(kTsv) + "WinTessivo.exe")[0], c.packaged);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, MajorVersionGuard,
                         ::testing::Values(MajorCase{"Four_to_five", 4, 5, false, true},
                                           MajorCase{"Four_to_five_from_cdrom", 4, 5, true, false},
                                           MajorCase{"Five_to_six", 5, 6, false, false},
                                           MajorCase{"Three_to_five", 3, 5, false, false},
                                           MajorCase{"Four_to_four", 4, 4, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainProduct, AnExecutableHeldByAnotherProcessStopsTheUpdateBeforeAnythingIsCopied) {
  InstallMainProduct({5, 2, 0, 117});
  MainPackage({5, 3, 0, 4});
  test::HolderProcess holder(std::string(kTsv) + "WinTessivo.exe");
  ASSERT_TRUE(holder.Holding());

  EXPECT_EQ(UpdateMainProduct(engine_), UpdateOutcome::Failed);
  holder.Release();
  EXPECT_TRUE(Report().empty());
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].text, "Une erreur s'est produite lors de la mise à jour du " + std::string(kTsv) +
                                     "WinTessivo.exe\r\n" + SystemErrorText(32) + " (32)");
  EXPECT_EQ(Version(std::string(kTsv) + "WinTessivo.exe"), (FileVersionNumbers{5, 2, 0, 117}));
  EXPECT_FALSE(Exists(std::string(kTsv) + "Korvane.dll"));
}

TEST_F(MainProduct, AnInterfaceLibraryInUseStopsTheUpdateToo) {
  InstallMainProduct({5, 2, 0, 117});
  prefix_.WriteFile(std::string(kTsv) + "TSV_DB_INTF.dll", "ancienne interface");
  MainPackage({5, 3, 0, 4});
  test::HolderProcess holder(std::string(kTsv) + "TSV_DB_INTF.dll");
  ASSERT_TRUE(holder.Holding());

  EXPECT_EQ(UpdateMainProduct(engine_), UpdateOutcome::Failed);
  holder.Release();
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_TRUE(ui_.Boxes()[0].text.starts_with("Une erreur s'est produite lors de la mise à jour du " +
                                              std::string(kTsv) + "TSV_DB_INTF.dll\r\n"));
  EXPECT_EQ(Version(std::string(kTsv) + "WinTessivo.exe"), (FileVersionNumbers{5, 2, 0, 117}));
}

TEST_F(MainProduct, NoToTheReplacementQuestionLeavesEverythingElseUntouched) {
  InstallMainProduct({5, 2, 0, 117});
  prefix_.WriteFile(std::string(kTsv) + "TSV_DB_INTF.dll", "ancienne interface");
  MainPackage({5, 2, 0, 117});
  Add("PrintLists.txt", "Factures.lst\r\n");
  Add("Factures.lst", "DES:X:Factures\r\n");
  ui_.Answer(mrNo);

  EXPECT_EQ(UpdateMainProduct(engine_), UpdateOutcome::NotPerformed);
  EXPECT_EQ(Report(), (Lines{"Le fichier " + std::string(kTsv) + "WinTessivo.exe",
                             "est à jour : il n'est pas remplacé.", ""}));
  EXPECT_EQ(Read(std::string(kTsv) + "TSV_DB_INTF.dll"), "ancienne interface");
  EXPECT_FALSE(Exists(std::string(kTsv) + "Korvane.dll"));
  EXPECT_FALSE(Exists(std::string(kTsv) + "WinTessivo.chm"));
  EXPECT_FALSE(Exists("C:\\WKorvane\\Common\\Programs\\wPDF300A.dll"));
  EXPECT_TRUE(ui_.AllAnswersUsed());
}

TEST_F(MainProduct, AMissingExecutableIsAskedForAndACancelledDialogEndsWithoutReport) {
  SetHkcu("WinTessivo\\Program", "Filename", std::string(kTsv) + "WinTessivo.exe");
  fs::create_directories(prefix_.Host(kTsv));
  MainPackage({5, 3, 0, 4});
  ui_.AnswerFile(false);

  EXPECT_EQ(UpdateMainProduct(engine_), UpdateOutcome::Failed);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].text, "Programme " + std::string(kTsv) +
                                     "WinTessivo.exe pas trouvé. Veuillez indiquer son emplacement.");
  EXPECT_EQ(ui_.Boxes()[0].kind, MessageKind::Error);
  EXPECT_TRUE(Report().empty());
}

TEST_F(MainProduct, TheFileTheUserPointsToIsUpdatedWithItsCompanionsBesideIt) {
  SetHkcu("WinTessivo\\Program", "Filename", std::string(kTsv) + "WinTessivo.exe");
  fs::create_directories(prefix_.Host(kTsv));
  Install("C:\\Ailleurs\\WinTessivo.exe", {5, 2, 0, 117});
  MainPackage({5, 3, 0, 4});
  ui_.AnswerFile(true, "C:\\Ailleurs\\WinTessivo.exe");

  EXPECT_EQ(UpdateMainProduct(engine_), UpdateOutcome::Completed);
  EXPECT_EQ(Version("C:\\Ailleurs\\WinTessivo.exe"), (FileVersionNumbers{5, 3, 0, 4}));
  EXPECT_EQ(Read("C:\\Ailleurs\\Korvane.dll"), Content("Korvane.dll"));
}

TEST_F(MainProduct, WithoutSuiteRootTheDrivesAreSearchedAndAGivingUpUserEndsSilently) {
  MainPackage({5, 3, 0, 4});
  ui_.AnswerFolder(false);

  EXPECT_EQ(UpdateMainProduct(engine_), UpdateOutcome::Failed);
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].text, "Répertoire WKorvane pas trouvé. Veuillez indiquer son emplacement.");
  EXPECT_TRUE(Report().empty());
}

TEST_F(MainProduct, AnUnreadableVersionIsReportedUnderTheExecutablesName) {
  SetHkcu("WinTessivo\\Program", "Filename", std::string(kTsv) + "WinTessivo.exe");
  test::WriteUnversionedPe(prefix_, std::string(kTsv) + "WinTessivo.exe");
  MainPackage({5, 3, 0, 4});

  EXPECT_EQ(UpdateMainProduct(engine_), UpdateOutcome::Failed);
  EXPECT_EQ(Report(),
            Split("Une erreur s'est produite lors de la mise à jour du WinTessivo.exe\r\n" +
                  std::string(kTsv) + "WinTessivo.exe\r\nVersion du fichier inconnue ou incompatible."));
}

TEST_F(MainProduct, AFailedCompanionCopyIsReportedUnderThatFilesName) {
  InstallMainProduct({5, 2, 0, 117});
  MainPackage({5, 3, 0, 4});
  // A folder where the help file goes: the copy cannot be made.
  fs::create_directories(prefix_.Host(std::string(kTsv) + "WinTessivo.chm"));

  EXPECT_EQ(UpdateMainProduct(engine_), UpdateOutcome::Failed);
  const Lines report = Report();
  const auto error = std::find(report.begin(), report.end(),
                               "Une erreur s'est produite lors de la mise à jour du WinTessivo.chm");
  ASSERT_NE(error, report.end()) << ::testing::PrintToString(report);
  ASSERT_NE(error + 1, report.end());
  EXPECT_TRUE(error[1].starts_with("Source: ")) << error[1];
  EXPECT_EQ(Read(std::string(kTsv) + "Korvane.dll"), Content("Korvane.dll"));
  EXPECT_FALSE(Exists("C:\\WKorvane\\Common\\Programs\\wPDF300A.dll"));
}

// ---------------------------------------------------------------------------------------------
// Brisklane

class Brisklane : public ProductUpdaters {
 protected:
  static constexpr const char* kFolder = "C:\\Brisklane\\";
  Brisklane() {
    engine_.ProductCode = pcBrisklane;
    SetHkcu("Brisklane\\Program", "Filename", std::string(kFolder) + "Brisklane.exe");
  }
  void InstallBrisklane(const FileVersionNumbers& version) {
    Install(std::string(kFolder) + "Brisklane.exe", version);
    prefix_.WriteFile(std::string(kFolder) + "BLE_INTF.dll", "ancienne interface");
  }
  void BrisklanePackage(const FileVersionNumbers& version) {
    Add("Brisklane.exe", Pe(version));
    for (const char* name : {"BLE_INTF.dll", "BLTOOLA.exe", "BLTOOLC.exe", "Brisklane.chm"}) AddFile(name);
  }
};

TEST_F(Brisklane, OnlyInstalledSiblingToolsAreReplacedAndTheInterfaceAndHelpAreCopied) {
  InstallBrisklane({5, 1, 0, 0});
  prefix_.WriteFile(std::string(kFolder) + "BLTOOLA.exe", "ancien outil");
  BrisklanePackage({5, 2, 0, 0});

  EXPECT_EQ(UpdateBrisklane(engine_), UpdateOutcome::Completed);
  EXPECT_EQ(TargetsOfCopies(),
            (Lines{std::string(kFolder) + "Brisklane.exe", std::string(kFolder) + "BLE_INTF.dll",
                   std::string(kFolder) + "BLTOOLA.exe", std::string(kFolder) + "Brisklane.chm"}));
  EXPECT_EQ(Read(std::string(kFolder) + "BLTOOLA.exe"), Content("BLTOOLA.exe"));
  EXPECT_FALSE(Exists(std::string(kFolder) + "BLTOOLC.exe"))
      << "a tool the installation lacks is not installed";
  EXPECT_EQ(Read(std::string(kFolder) + "BLE_INTF.dll"), Content("BLE_INTF.dll"));
}

TEST_F(Brisklane, WithoutItsInterfaceLibraryTheInstallationIsDeclaredIncompleteAndNothingIsCopied) {
  Install(std::string(kFolder) + "Brisklane.exe", {5, 1, 0, 0});
  BrisklanePackage({5, 2, 0, 0});

  EXPECT_EQ(UpdateBrisklane(engine_), UpdateOutcome::Failed);
  EXPECT_EQ(Report(), Split("Une erreur s'est produite lors de la mise à jour du \r\nL'installation de " +
                            std::string(kFolder) + "BLE_INTF.dll n'a certainement pas été effectuée !!!"));
  EXPECT_EQ(Version(std::string(kFolder) + "Brisklane.exe"), (FileVersionNumbers{5, 1, 0, 0}));
}

TEST_F(Brisklane, AJumpFromVersionFiveIsRefused) {
  InstallBrisklane({5, 1, 0, 0});
  BrisklanePackage({6, 0, 0, 0});
  EXPECT_EQ(UpdateBrisklane(engine_), UpdateOutcome::Failed);
  EXPECT_EQ(Report(), (Lines{"", kRefused}));
  EXPECT_EQ(Version(std::string(kFolder) + "Brisklane.exe"), (FileVersionNumbers{5, 1, 0, 0}));
}

TEST_F(Brisklane, AMissingMainFileInThePackageIsReportedByTheUpdaterItself) {
  InstallBrisklane({5, 1, 0, 0});
  AddFile("BLE_INTF.dll");
  EXPECT_EQ(UpdateBrisklane(engine_), UpdateOutcome::Failed);
  EXPECT_EQ(Report(), Split("Une erreur s'est produite lors de la mise à jour du Brisklane.exe\r\n"
                            "Cannot find Brisklane.exe"));
}

TEST_F(Brisklane, AnInterfaceLibraryInUseStopsTheUpdate) {
  InstallBrisklane({5, 1, 0, 0});
  BrisklanePackage({5, 2, 0, 0});
  test::HolderProcess holder(std::string(kFolder) + "BLE_INTF.dll");
  ASSERT_TRUE(holder.Holding());
  EXPECT_EQ(UpdateBrisklane(engine_), UpdateOutcome::Failed);
  holder.Release();
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_TRUE(ui_.Boxes()[0].text.ends_with(" (32)"));
  EXPECT_EQ(Version(std::string(kFolder) + "Brisklane.exe"), (FileVersionNumbers{5, 1, 0, 0}));
}

// ---------------------------------------------------------------------------------------------
// Zorbalt

class Zorbalt : public ProductUpdaters {
 protected:
  static constexpr const char* kBase = "C:\\Zorbalt\\";
  Zorbalt() {
    engine_.ProductCode = pcZorbalt;
    SetHkcu("Zorbalt", "BaseFolder", "C:\\Zorbalt");
    fs::create_directories(prefix_.Host("C:\\Zorbalt\\Data"));
  }
  void ZorbaltPackage() {
    Add("Zorbalt.exe", Pe({3, 5, 0, 0}));
    AddFile("Zorbalt.etf");
    AddFile("Taux.dat");
    AddFile("Pays.dat");
    AddList({"Zorbalt.ETF", "Taux.dat", "Pays.dat"});
  }
};

TEST_F(Zorbalt, TheTemplateGoesToTheBaseFolderAndTheOtherListedFilesToDataWithoutLinesOfTheirOwn) {
  Install(std::string(kBase) + "Zorbalt.exe", {3, 4, 0, 0});
  ZorbaltPackage();

  EXPECT_EQ(UpdateZorbalt(engine_), UpdateOutcome::Completed);
  EXPECT_EQ(TargetsOfCopies(),
            (Lines{std::string(kBase) + "Zorbalt.exe", std::string(kBase) + "Zorbalt.etf"}));
  EXPECT_EQ(Report().back(), "Copie de fichiers de données...");
  EXPECT_EQ(Read("C:\\Zorbalt\\Data\\Taux.dat"), Content("Taux.dat"));
  EXPECT_EQ(Read("C:\\Zorbalt\\Data\\Pays.dat"), Content("Pays.dat"));
  EXPECT_FALSE(Exists("C:\\Zorbalt\\Data\\Zorbalt.ETF"));
  EXPECT_EQ(Read("C:\\Zorbalt\\Zorbalt.etf"), Content("Zorbalt.etf"));
}

TEST_F(Zorbalt, AnInstalledVersionFourIsRefusedAsIncompatible) {
  Install(std::string(kBase) + "Zorbalt.exe", {4, 0, 0, 0});
  ZorbaltPackage();
  try {
    UpdateZorbalt(engine_);
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()),
              std::string(kBase) + "Zorbalt.exe\r\nVersion du fichier inconnue ou incompatible.");
  }
  EXPECT_EQ(Version(std::string(kBase) + "Zorbalt.exe"), (FileVersionNumbers{4, 0, 0, 0}));
}

TEST_F(Zorbalt, AnUnregisteredBaseFolderIsRaisedToTheRun) {
  win::RegKey::DeleteKey(win::HKEY_CURRENT_USER, std::string(kSuite) + "Zorbalt");
  ZorbaltPackage();
  try {
    UpdateZorbalt(engine_);
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_STREQ(error.what(), "Programme Zorbalt pas trouvé.");
  }
}

TEST_F(Zorbalt, AListedFileMissingFromThePackageFailsTheUpdate) {
  Install(std::string(kBase) + "Zorbalt.exe", {3, 4, 0, 0});
  ZorbaltPackage();
  AddList({"Taux.dat", "Absent.dat"});
  EXPECT_EQ(UpdateZorbalt(engine_), UpdateOutcome::Failed);
  EXPECT_EQ(Read("C:\\Zorbalt\\Data\\Taux.dat"), Content("Taux.dat"));
}

// ---------------------------------------------------------------------------------------------
// The trading product

class Quaymart : public ProductUpdaters {
 protected:
  static constexpr const char* kFolder = "C:\\WKorvane\\Quaymart\\Programs\\";
  Quaymart() {
    engine_.ProductCode = pcTsvQuaymart;
    InstallMainProduct({5, 2, 0, 0});
    Install(std::string(kFolder) + "TSVQuaymart.exe", {2, 0, 0, 0});
    Add("TSVQuaymart.exe", Pe({2, 1, 0, 0}));
  }
};

TEST_F(Quaymart, TheListedFilesAndEveryNamedPrintListComeFirstThenTheProgram) {
  AddFile("Quai.dll");
  AddList({"Quai.dll"});
  AddFile("Bons.lst");
  AddFile("Etiquettes.rpt");
  Add("PrintLists.txt", "Bons.lst\r\nEtiquettes.rpt\r\nAbsente.lst\r\n");

  EXPECT_EQ(UpdateQuaymart(engine_), UpdateOutcome::Completed);
  const Lines report = Report();
  ASSERT_EQ(report.size(), 3u + 4u + 3u) << ::testing::PrintToString(report);
  EXPECT_EQ(report[1], std::string("vers ") + kFolder + "Quai.dll");
  EXPECT_EQ(report[3], "Les paramètres pour l'impression : \"Bons.lst\" ont été mise à jour.");
  EXPECT_EQ(report[4], "Les paramètres pour l'impression : \"Etiquettes.rpt\" ont été mise à jour.");
  EXPECT_EQ(report[5], "Les paramètres pour l'impression : \"Absente.lst\" ont été mise à jour.");
  EXPECT_EQ(report[6], "");
  EXPECT_EQ(report[8], std::string("vers ") + kFolder + "TSVQuaymart.exe");
  EXPECT_EQ(Read(std::string(kFolder) + "Bons.lst"), Content("Bons.lst"));
  EXPECT_EQ(Read(std::string(kFolder) + "Etiquettes.rpt"), Content("Etiquettes.rpt"));
  EXPECT_FALSE(Exists(std::string(kFolder) + "Absente.lst"));
  win::FileTime time = 0;
  ASSERT_TRUE(win::GetFileLastWriteTime(std::string(kFolder) + "Bons.lst", time));
  EXPECT_EQ(time, kPackageTime);
  EXPECT_EQ(Version(std::string(kFolder) + "TSVQuaymart.exe"), (FileVersionNumbers{2, 1, 0, 0}));
}

TEST_F(Quaymart, AListedFileMissingFromThePackageKeepsTheOldProgramWithWarnings) {
  AddFile("Quai.dll");
  AddList({"Quai.dll", "Absent.dll"});
  EXPECT_EQ(UpdateQuaymart(engine_), UpdateOutcome::CompletedWithWarnings);
  EXPECT_EQ(Version(std::string(kFolder) + "TSVQuaymart.exe"), (FileVersionNumbers{2, 0, 0, 0}));
}

TEST_F(Quaymart, PrintListNamesLeavingTheFolderAreRefusedAndNothingIsWrittenOutside) {
  const std::string tooLong = std::string(250, 'a') + ".lst";
  const Lines hostile = {
      "..\\..\\Evil.lst", "C:\\Evil.lst", "D:Evil.lst", "\\\\serveur\\partage\\Evil.lst", "CON.lst",
      "Evil.lst.",        "Evil.lst ",    tooLong,      "sous\\..\\..\\Evil.lst"};
  std::string list = "Bons.lst\r\n";
  for (const std::string& name : hostile) {
    list += name + "\r\n";
    Add(name, "hostile");
  }
  AddFile("Bons.lst");
  Add("PrintLists.txt", list);
  const auto before = test::FilesBelow(prefix_.Root());

  // The program itself is updated; the refused lists are not in its folder: warnings, not success.
  EXPECT_EQ(UpdateQuaymart(engine_), UpdateOutcome::CompletedWithWarnings);
  EXPECT_EQ(Version(std::string(kFolder) + "TSVQuaymart.exe"), (FileVersionNumbers{2, 1, 0, 0}));
  const Lines report = Report();
  for (const std::string& name : hostile) {
    EXPECT_NE(std::find(report.begin(), report.end(), "Nom de fichier refusé dans le paquet : " + name),
              report.end())
        << name;
  }
  std::vector<std::string> added;
  for (const std::string& file : test::FilesBelow(prefix_.Root())) {
    if (std::find(before.begin(), before.end(), file) == before.end()) added.push_back(file);
  }
  for (const std::string& file : added) {
    const bool allowed =
        file.starts_with("drives/c/WKorvane/Quaymart/Programs/") || file.find("/Temp/") != std::string::npos;
    EXPECT_TRUE(allowed) << file;
  }
  EXPECT_EQ(Read(std::string(kFolder) + "Bons.lst"), Content("Bons.lst"));
}

// The same check as the listed files': a printing list whose name goes through a link below the
// program folder is refused with the link's two lines, and nothing is written through it.
TEST_F(Quaymart, APrintListGoingThroughALinkIsRefusedAndNothingIsWrittenThrough) {
  test::TempDir outside;
  fs::create_directory_symlink(outside.Path(), prefix_.Host(kFolder) / "sub");
  AddFile("Bons.lst");
  Add("sub\\Evil.lst", "hostile");
  Add("PrintLists.txt", "sub\\Evil.lst\r\nBons.lst\r\n");

  EXPECT_EQ(UpdateQuaymart(engine_), UpdateOutcome::CompletedWithWarnings);
  const Lines report = Report();
  const auto link =
      std::find(report.begin(), report.end(), std::string("Le fichier ") + kFolder + "sub\\Evil.lst");
  ASSERT_NE(link, report.end());
  ASSERT_NE(link + 1, report.end());
  EXPECT_EQ(*(link + 1), "n'est pas installé : son chemin passe par un lien.");
  EXPECT_TRUE(test::FilesBelow(outside.Path()).empty());
  EXPECT_EQ(Read(std::string(kFolder) + "Bons.lst"), Content("Bons.lst"));
}

TEST_F(Quaymart, WithoutTheMainProductThePathIsBuiltFromNothingAndReportedNotFound) {
  win::RegKey::DeleteKey(win::HKEY_CURRENT_USER, std::string(kSuite) + "WinTessivo\\Program");
  EXPECT_EQ(UpdateQuaymart(engine_), UpdateOutcome::Failed);
  EXPECT_EQ(Report(), Split("Une erreur s'est produite lors de la mise à jour du TSVQuaymart.exe\r\n"
                            "Programme Quaymart\\Programs\\TSVQuaymart.exe pas trouvé."));
}

// ---------------------------------------------------------------------------------------------
// Korvane5 data (Pelmora, Korvane Finance)

class Korvane5 : public ProductUpdaters {};

TEST_F(Korvane5, FoundOnExactlyOneFixedDriveItIsUsedWithoutAskingAndRegistered) {
  prefix_.AddDrive('E', "fixed");
  prefix_.AddDrive('D', "cdrom");
  fs::create_directories(prefix_.Host("D:\\Korvane5"));  // never searched
  Install("E:\\Korvane5\\gs\\GS-00.int", {1, 0, 0, 0});
  engine_.ProductCode = pcKorvaneFinance;
  Add("gs\\GS-00.int", Pe({1, 1, 0, 0}));
  AddFile("Plan.dat");
  AddList({"Plan.dat"});

  EXPECT_EQ(UpdateKorvane5Data(engine_, pcKorvaneFinance), UpdateOutcome::Completed);
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_EQ(ReadHkcu("Korvane Finance\\Program", "Filename"), "E:\\Korvane5\\gs\\GS-00.int");
  EXPECT_TRUE(IsExistingFolder("E:\\Korvane5\\Images07"));
  EXPECT_EQ(Read("E:\\Korvane5\\Plan.dat"), Content("Plan.dat"));
  EXPECT_EQ(Version("E:\\Korvane5\\gs\\GS-00.int"), (FileVersionNumbers{1, 1, 0, 0}));
  EXPECT_EQ(TargetsOfCopies(), (Lines{"E:\\Korvane5\\Plan.dat", "E:\\Korvane5\\gs\\GS-00.int"}));
}

TEST_F(Korvane5, AListedFileMissingFromThePackageKeepsTheOldDataWithWarnings) {
  SetHkcu("Pelmora\\Program", "Filename", "C:\\Korvane5\\pls\\SA-00.int");
  Install("C:\\Korvane5\\pls\\SA-00.int", {1, 0, 0, 0});
  Add("pls\\SA-00.int", Pe({1, 1, 0, 0}));
  AddList({"Absent.dat"});

  EXPECT_EQ(UpdateKorvane5Data(engine_, pcPelmora), UpdateOutcome::CompletedWithWarnings);
  EXPECT_EQ(Version("C:\\Korvane5\\pls\\SA-00.int"), (FileVersionNumbers{1, 0, 0, 0}));
}

// A folder without the data is never registered: a registered folder is not searched again, and
// every later run would fail there.
TEST_F(Korvane5, AFolderWithoutTheMainFileIsNotRegisteredAndTheNextRunSearchesAgain) {
  prefix_.AddDrive('E', "fixed");
  fs::create_directories(prefix_.Host("E:\\Korvane5"));
  Add("pls\\SA-00.int", Pe({1, 1, 0, 0}));

  EXPECT_EQ(UpdateKorvane5Data(engine_, pcPelmora), UpdateOutcome::Failed);
  EXPECT_EQ(Report(), Split("Une erreur s'est produite lors de la mise à jour du pls\\SA-00.int\r\n"
                            "Fichier pas trouvé : E:\\Korvane5\\pls\\SA-00.int"));
  EXPECT_EQ(ReadHkcu("Pelmora\\Program", "Filename"), "");

  Install("E:\\Korvane5\\pls\\SA-00.int", {1, 0, 0, 0});
  EXPECT_EQ(UpdateKorvane5Data(engine_, pcPelmora), UpdateOutcome::Completed);
  EXPECT_EQ(ReadHkcu("Pelmora\\Program", "Filename"), "E:\\Korvane5\\pls\\SA-00.int");
}

TEST_F(Korvane5, NoFolderAnywhereIsRaisedToTheRun) {
  Add("pls\\SA-00.int", Pe({1, 1, 0, 0}));
  ui_.AnswerFolder(false);
  try {
    UpdateKorvane5Data(engine_, pcPelmora);
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_STREQ(error.what(), "Répertoire Korvane5 pas trouvé.");
  }
}

// ---------------------------------------------------------------------------------------------
// ZRQ, Optaris, the address module

TEST_F(ProductUpdaters, ZrqCopiesItsDocumentationBesideTheProgram) {
  engine_.ProductCode = pcZrq;
  SetHkcu("ZRQ\\Program", "Filename", "C:\\ZRQ\\ZRQ.exe");
  Install("C:\\ZRQ\\ZRQ.exe", {1, 0, 0, 0});
  Add("ZRQ.exe", Pe({1, 2, 0, 0}));
  AddFile("ZRQDOC.pdf");
  AddFile("ZRQHELP.rtf");

  EXPECT_EQ(UpdateZrq(engine_), UpdateOutcome::Completed);
  EXPECT_EQ(TargetsOfCopies(), (Lines{"C:\\ZRQ\\ZRQ.exe", "C:\\ZRQ\\ZRQDOC.pdf", "C:\\ZRQ\\ZRQHELP.rtf"}));
}

TEST_F(ProductUpdaters, ZrqNotFoundAndTheDialogCancelledEndsSilently) {
  engine_.ProductCode = pcZrq;
  Add("ZRQ.exe", Pe({1, 2, 0, 0}));
  ui_.AnswerFile(false);
  EXPECT_EQ(UpdateZrq(engine_), UpdateOutcome::Failed);
  EXPECT_TRUE(Report().empty());
  EXPECT_EQ(ui_.Boxes().size(), 1u);
}

TEST_F(ProductUpdaters, OptarisFailsWhenAListedFileIsMissingAfterTheProgramWasReplaced) {
  engine_.ProductCode = pcOptaris;
  InstallMainProduct({5, 2, 0, 0});
  Install("C:\\WKorvane\\Common\\Programs\\Optaris.exe", {1, 0, 0, 0});
  Add("Optaris.exe", Pe({1, 1, 0, 0}));
  AddFile("Opt.dll");
  AddList({"Opt.dll", "Absent.dll"});

  EXPECT_EQ(UpdateOptaris(engine_), UpdateOutcome::Failed);
  EXPECT_EQ(Version("C:\\WKorvane\\Common\\Programs\\Optaris.exe"), (FileVersionNumbers{1, 1, 0, 0}));
  EXPECT_EQ(Read("C:\\WKorvane\\Common\\Programs\\Opt.dll"), Content("Opt.dll"));
}

TEST_F(ProductUpdaters, OptarisWithoutSuiteRootFailsSilently) {
  Add("Optaris.exe", Pe({1, 1, 0, 0}));
  EXPECT_EQ(UpdateOptaris(engine_), UpdateOutcome::Failed);
  EXPECT_TRUE(Report().empty());
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(ProductUpdaters, OptarisNotInstalledIsReported) {
  InstallMainProduct({5, 2, 0, 0});
  Add("Optaris.exe", Pe({1, 1, 0, 0}));
  EXPECT_EQ(UpdateOptaris(engine_), UpdateOutcome::Failed);
  EXPECT_EQ(Report(), Split("Une erreur s'est produite lors de la mise à jour du Optaris.exe\r\n"
                            "Programme C:\\WKorvane\\Common\\Programs\\Optaris.exe pas trouvé."));
}

TEST_F(ProductUpdaters, TheAddressModuleIsReplacedRegisteredAndGetsItsCompanions) {
  engine_.ProductCode = pcAdresses;
  InstallMainProduct({5, 2, 0, 0});
  Install("C:\\WKorvane\\Adresses\\Programs\\TSAdresses2.dll", {2, 4, 0, 12});
  Add("TSAdresses2.dll", Pe({2, 5, 0, 1}));
  AddFile("AcctCore.dll");

  EXPECT_EQ(UpdateAddressModule(engine_), UpdateOutcome::Completed);
  EXPECT_EQ(ReadHkcu("Adresses\\Program", "Filename"), "C:\\WKorvane\\Adresses\\Programs\\TSAdresses2.dll");
  EXPECT_EQ(Read("C:\\WKorvane\\Adresses\\Programs\\AcctCore.dll"), Content("AcctCore.dll"));
  EXPECT_FALSE(Exists("C:\\WKorvane\\Adresses\\Programs\\Adresses.chm"));
}

TEST_F(ProductUpdaters, AMissingAddressModuleIsReportedAsNotFound) {
  engine_.ProductCode = pcAdresses;
  InstallMainProduct({5, 2, 0, 0});
  Add("TSAdresses2.dll", Pe({2, 5, 0, 1}));
  EXPECT_EQ(UpdateAddressModule(engine_), UpdateOutcome::Failed);
  EXPECT_EQ(Report(), Split("Une erreur s'est produite lors de la mise à jour du TSAdresses2.dll\r\n"
                            "Fichier pas trouvé : C:\\WKorvane\\Adresses\\Programs\\TSAdresses2.dll"));
  EXPECT_TRUE(ReadHkcu("Adresses\\Program", "Filename").empty());
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// A machine without a database client runs every package that needs no database: the engine with
// its company list and print structure store, and a main-product update without printing lists,
// load no client library. Run in a process of its own, where nothing has loaded the client before.
TEST(EngineParts, AMainProductUpdateWithoutPrintingListsLoadsNoDatabaseClient) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        TempPrefix prefix;
        InstallEngineParts();
        prefix.WriteFile("C:\\WKorvane\\multiste.txt", "Nord\r\nSud\r\n");
        win::RegKey key;
        win::RegKey::Create(win::HKEY_CURRENT_USER, std::string(kSuite) + "WinTessivo\\Program",
                            win::KEY_ALL_ACCESS, key);
        key.SetValue("Filename", win::RegValue::String(std::string(kTsv) + "WinTessivo.exe"));
        test::WriteVersionedPe(prefix, std::string(kTsv) + "WinTessivo.exe", {5, 2, 0, 0});
        MemoryPackage package;
        package.Add("WinTessivo.exe", Pe({5, 3, 0, 0}), kPackageTime);
        const CurrentPackageScope scope(package);
        int code = 0;
        {
          TdmUpdateCommon engine;
          engine.ProductCode = pcWinTessivo;
          if (!engine.CompanyList || engine.CompanyList->ComboBoxCompanies.Items.size() != 2) code = 2;
          if (!engine.StructurePrinting) code = 3;
          if (UpdateMainProduct(engine) != UpdateOutcome::Completed) code = 4;
        }
        if (test::IsLibraryMapped("libfbclient")) code = 5;
        std::exit(code);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kv
