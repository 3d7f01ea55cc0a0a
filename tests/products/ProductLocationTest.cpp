// Where the installed products are: program paths and company databases in the registry, the
// suite root, the loopback rule for local databases, and the search of the drives.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/UpdateCommon.h"
#include "platform/Errors.h"
#include "platform/Win32.h"
#include "products/ProductLocation.h"
#include "products/ProductTable.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::ScriptedUi;
using test::TempPrefix;

void SetValue(win::HKEY root, const std::string& key, const std::string& name, const win::RegValue& value) {
  win::RegKey k;
  ASSERT_EQ(win::RegKey::Create(root, key, win::KEY_ALL_ACCESS, k), win::ERROR_SUCCESS) << key;
  ASSERT_EQ(k.SetValue(name, value), win::ERROR_SUCCESS) << key << " " << name;
}

void SetString(win::HKEY root, const std::string& key, const std::string& name, const std::string& value) {
  SetValue(root, key, name, win::RegValue::String(value));
}

std::optional<win::RegValue> GetValue(win::HKEY root, const std::string& key, const std::string& name) {
  win::RegKey k;
  if (win::RegKey::Open(root, key, win::KEY_READ, k) != win::ERROR_SUCCESS) return std::nullopt;
  win::RegValue value;
  if (k.QueryValue(name, value) != win::ERROR_SUCCESS) return std::nullopt;
  return value;
}

void RegisterProgram(const std::string& product, const std::string& path) {
  SetString(win::HKEY_CURRENT_USER, "SOFTWARE\\KORVANE S.A.\\" + product + "\\Program", "Filename", path);
}

void MakeFolder(const TempPrefix& prefix, const std::string& windowsPath) {
  fs::create_directories(prefix.Host(windowsPath));
}

// ---------------------------------------------------------------------------------------------
// Program paths

TEST(ProductProgramPath, EachProductReadsItsOwnRegistryPlaceAndTheFolderPartEndsAtTheLastSeparator) {
  TempPrefix prefix;
  struct Case {
    const char* name;
    std::string whole;
    std::string folder;
  };
  // Every product of the table; those without a registered program answer empty whatever the
  // registry holds under their name.
  const Case cases[] = {
      {"WinTessivo", "C:\\WKorvane\\TSV\\Programs\\WinTessivo.exe", "C:\\WKorvane\\TSV\\Programs\\"},
      {"WinTessivo Ingenieur", "C:\\WKorvane\\TSI\\Programs\\WinTessivo.exe",
       "C:\\WKorvane\\TSI\\Programs\\"},
      {"Adresses", "C:\\WKorvane\\Adresses\\Programs\\Adresses.exe", "C:\\WKorvane\\Adresses\\Programs\\"},
      {"Zorbalt", "E:\\Zorbalt\\Base\\", "E:\\Zorbalt\\Base\\"},
      {"PDFDLL", "", ""},
      {"Brisklane", "N:\\Suite\\Brisklane\\Programs\\Brisk.exe", "N:\\Suite\\Brisklane\\Programs\\"},
      {"TSVQuaymart", "", ""},
      {"Pelmora", "D:pelmora.exe", "D:"},
      {"Korvane Finance", "finance.exe", ""},
      {"ZRQ", "C:\\ZRQ\\zrq.exe", "C:\\ZRQ\\"},
      {"Calderix", "C:\\Calderix\\Programs\\Calderix.exe", "C:\\Calderix\\Programs\\"},
      {"VLX", "C:\\VLX\\Programs\\VLX.exe", "C:\\VLX\\Programs\\"},
  };
  for (const Case& c : cases) {
    const std::string program = c.whole.empty() ? "C:\\Ailleurs\\ignore.exe" : c.whole;
    RegisterProgram(c.name, program);
  }
  // Zorbalt keeps a base folder under its own key, not a program under Program.
  RegisterProgram("Zorbalt", "C:\\Zorbalt\\Programs\\Zorbalt.exe");
  SetString(win::HKEY_CURRENT_USER, "SOFTWARE\\KORVANE S.A.\\Zorbalt", "BaseFolder", "E:\\Zorbalt\\Base\\");
  SetString(win::HKEY_CURRENT_USER, "SOFTWARE\\KORVANE S.A.\\PDFDLL", "BaseFolder", "C:\\PDF\\");

  for (const Case& c : cases) {
    EXPECT_EQ(GetProductProgramPath(c.name, true), c.whole) << c.name;
    EXPECT_EQ(GetProductProgramPath(c.name, false), c.folder) << c.name;
  }
}

TEST(ProductProgramPath, TheNameIsUsedAsPassedAndAnIntegerReadsAsItsDecimalText) {
  TempPrefix prefix;
  RegisterProgram("WinTessivo", "C:\\WKorvane\\TSV\\Programs\\WinTessivo.exe");
  // The alias reads its own key, not the one of the key name it stands for.
  EXPECT_EQ(GetProductProgramPath("TSV_PRO", true), "");
  RegisterProgram("TSV_PRO", "C:\\Pro\\Programs\\Pro.exe");
  EXPECT_EQ(GetProductProgramPath("TSV_PRO", true), "C:\\Pro\\Programs\\Pro.exe");
  EXPECT_EQ(GetProductProgramPath("wintessivo", false), "C:\\WKorvane\\TSV\\Programs\\");

  SetValue(win::HKEY_CURRENT_USER, "SOFTWARE\\KORVANE S.A.\\ZRQ\\Program", "Filename",
           win::RegValue::Dword(42));
  EXPECT_EQ(GetProductProgramPath("ZRQ", true), "42");
  EXPECT_EQ(GetProductProgramPath("Inconnu", true), "");
  EXPECT_EQ(GetProductProgramPath("", true), "");
}

TEST(ProductProgramPath, AValueOfAnotherTypeRaisesTheRegistrysMessage) {
  TempPrefix prefix;
  SetValue(win::HKEY_CURRENT_USER, "SOFTWARE\\KORVANE S.A.\\Calderix\\Program", "Filename",
           win::RegValue::Binary({1, 2, 3}));
  EXPECT_THROW(GetProductProgramPath("Calderix", true), Error);
}

TEST(ProductProgramPath, OnlyTheCurrentUsersRegistrationCounts) {
  TempPrefix prefix;
  SetString(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\KORVANE S.A.\\WinTessivo\\Program", "Filename",
            "C:\\X\\a.exe");
  EXPECT_EQ(GetProductProgramPath("WinTessivo", true), "");
  EXPECT_EQ(GetSuiteRootFolder(), "");
}

TEST(ProductProgramPath, SettingWritesTheProductsPlaceCreatingTheKeyAndRefusesOtherProducts) {
  TempPrefix prefix;
  for (const char* name : {"WinTessivo", "WinTessivo Ingenieur", "Adresses", "Brisklane", "Pelmora",
                           "Korvane Finance", "ZRQ", "Calderix", "VLX", "TS_Adresses"}) {
    const std::string path = std::string("C:\\Suite\\") + name + "\\Programs\\main.exe";
    EXPECT_TRUE(SetProductProgramPath(name, path)) << name;
    const auto value = GetValue(win::HKEY_CURRENT_USER,
                                std::string("SOFTWARE\\KORVANE S.A.\\") + name + "\\Program", "Filename");
    ASSERT_TRUE(value) << name;
    EXPECT_EQ(value->type, win::REG_SZ) << name;
    EXPECT_EQ(value->AsString(), path) << name;
    EXPECT_EQ(GetProductProgramPath(name, true), path) << name;
  }
  EXPECT_TRUE(SetProductProgramPath("Zorbalt", "E:\\Zorbalt\\"));
  const auto base = GetValue(win::HKEY_CURRENT_USER, "SOFTWARE\\KORVANE S.A.\\Zorbalt", "BaseFolder");
  ASSERT_TRUE(base);
  EXPECT_EQ(base->AsString(), "E:\\Zorbalt\\");
  EXPECT_FALSE(GetValue(win::HKEY_CURRENT_USER, "SOFTWARE\\KORVANE S.A.\\Zorbalt\\Program", "Filename"));

  for (const char* name : {"PDFDLL", "TSVQuaymart", "Common", "Optaris", "Inconnu", ""}) {
    EXPECT_FALSE(SetProductProgramPath(name, "C:\\X\\x.exe")) << name;
    EXPECT_FALSE(win::RegKey::Exists(win::HKEY_CURRENT_USER,
                                     std::string("SOFTWARE\\KORVANE S.A.\\") + name + "\\Program"))
        << name;
  }
}

// ---------------------------------------------------------------------------------------------
// Suite root and common folder

TEST(SuiteRootFolder, TheFirstRegisteredProductInSearchOrderGivesTheRootTwoLevelsAboveItsPrograms) {
  struct Case {
    const char* label;
    std::vector<std::pair<const char*, const char*>> registered;  // product, program
    std::string root;
  };
  const Case cases[] = {
      {"nothing registered", {}, ""},
      {"the main product", {{"WinTessivo", "C:\\WKorvane\\TSV\\Programs\\WinTessivo.exe"}}, "C:\\WKorvane\\"},
      {"the main product before its engineering edition",
       {{"WinTessivo Ingenieur", "D:\\Ing\\TSI\\Programs\\x.exe"},
        {"WinTessivo", "C:\\WKorvane\\TSV\\Programs\\x.exe"}},
       "C:\\WKorvane\\"},
      {"Brisklane before Adresses",
       {{"Adresses", "D:\\Ing\\Adresses\\Programs\\x.exe"},
        {"Brisklane", "N:\\Suite\\Brisklane\\Programs\\x.exe"}},
       "N:\\Suite\\"},
      {"Adresses before ZRQ",
       {{"ZRQ", "D:\\Ing\\ZRQ\\Programs\\x.exe"}, {"Adresses", "C:\\WKorvane\\Adresses\\Programs\\x.exe"}},
       "C:\\WKorvane\\"},
      {"ZRQ before Calderix",
       {{"Calderix", "D:\\Ing\\Calderix\\Programs\\x.exe"}, {"ZRQ", "C:\\WKorvane\\ZRQ\\Programs\\x.exe"}},
       "C:\\WKorvane\\"},
      {"Calderix alone", {{"Calderix", "D:\\Ing\\Calderix\\Programs\\x.exe"}}, "D:\\Ing\\"},
      {"products outside the search",
       {{"Pelmora", "C:\\WKorvane\\Pelmora\\Programs\\x.exe"}, {"VLX", "C:\\WKorvane\\VLX\\Programs\\x.exe"}},
       ""},
      {"a program folder that is gone",
       {{"WinTessivo", "C:\\Ancien\\TSV\\Programs\\WinTessivo.exe"}},
       "C:\\Ancien\\TSV\\Programs\\"},
  };
  for (const Case& c : cases) {
    TempPrefix prefix;
    prefix.AddDrive('D', "fixed");
    prefix.AddDrive('N', "remote");
    for (const char* folder :
         {"C:\\WKorvane\\TSV\\Programs", "C:\\WKorvane\\Adresses\\Programs", "C:\\WKorvane\\ZRQ\\Programs",
          "D:\\Ing\\TSI\\Programs", "D:\\Ing\\Adresses\\Programs", "D:\\Ing\\ZRQ\\Programs",
          "D:\\Ing\\Calderix\\Programs", "N:\\Suite\\Brisklane\\Programs",
          "C:\\WKorvane\\Pelmora\\Programs"}) {
      MakeFolder(prefix, folder);
    }
    for (const auto& [product, program] : c.registered) RegisterProgram(product, program);
    EXPECT_EQ(GetSuiteRootFolder(), c.root) << c.label;
    const std::string common = c.root.empty() ? "" : c.root + "Common\\Programs\\";
    EXPECT_EQ(GetProductProgramPath("Common", true), common) << c.label;
    EXPECT_EQ(GetProductProgramPath("Optaris", false), common) << c.label;
  }
}

// ---------------------------------------------------------------------------------------------
// Company databases

class ProductDatabaseName : public ::testing::Test {
 protected:
  void SetDatabase(const std::string& key, const std::string& name, const std::string& value) {
    SetString(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\KORVANE S.A.\\" + key, name, value);
  }
  TempPrefix prefix_;
};

TEST_F(ProductDatabaseName, EachProductReadsItsCompanyKeyAndOnlyTheDefaultCompanyFallsBackToPaths) {
  SetDatabase("WinTessivo\\Soc1\\TSV_DatabaseName", "Path", "C:\\Data\\SOC1.FDB");
  SetDatabase("WinTessivo\\Paths\\TSV_DatabaseName", "Path", "C:\\Data\\DEFAUT.FDB");
  SetDatabase("TSV_ING\\Default\\TSV_DatabaseName", "Path", "serveur:D:\\Ing\\DEF.FDB");
  SetDatabase("TSV_ING\\Paths\\TSV_DatabaseName", "Path", "C:\\Ing\\PATHS.FDB");
  SetDatabase("Adresses\\Soc1", "DatabaseName", "C:\\Adr\\SOC1.FDB");
  SetDatabase("Adresses\\Paths", "DatabaseName", "C:\\Adr\\DEFAUT.FDB");
  SetDatabase("Brisklane\\Soc1", "ConnectionString", "srv:/data/brisk.fdb");
  SetDatabase("Brisklane\\Paths", "ConnectionString", "C:\\Brisk\\PATHS.FDB");
  SetDatabase("ZRQ\\Default", "ConnectionString", "C:\\ZRQ\\ZRQ.FDB");
  SetDatabase("VLX\\Default", "ConnectionString", "C:\\VLX\\VLX.FDB");
  SetDatabase("Pelmora\\Soc1", "ConnectionString", "C:\\Pel\\P.FDB");
  SetDatabase("Calderix\\Soc1", "ConnectionString", "C:\\Cal\\C.FDB");
  SetDatabase("Zorbalt\\Default", "ConnectionString", "C:\\Zor\\Z.FDB");
  SetDatabase("Korvane Finance\\Default", "ConnectionString", "C:\\Fin\\F.FDB");
  SetDatabase("Common\\Default", "DatabaseName", "C:\\Com\\C.FDB");

  struct Case {
    const char* product;
    const char* company;
    std::string whole;
    std::string folder;
  };
  const Case cases[] = {
      {"WinTessivo", "Soc1", "C:\\Data\\SOC1.FDB", "C:\\Data\\"},
      {"WinTessivo", "Default", "C:\\Data\\DEFAUT.FDB", "C:\\Data\\"},
      {"WinTessivo", "default", "C:\\Data\\DEFAUT.FDB", "C:\\Data\\"},
      {"WinTessivo", "Soc2", "", ""},  // no fallback for a named company
      {"TSV_ING", "Default", "serveur:D:\\Ing\\DEF.FDB", "serveur:D:\\Ing\\"},
      {"WinTessivo Ingenieur", "Default", "", ""},  // the registry name is the one passed
      {"Adresses", "Soc1", "C:\\Adr\\SOC1.FDB", "C:\\Adr\\"},
      {"Adresses", "DEFAULT", "C:\\Adr\\DEFAUT.FDB", "C:\\Adr\\"},
      {"Adresses", "Soc2", "", ""},
      {"Brisklane", "Soc1", "srv:/data/brisk.fdb", "srv:"},
      {"Brisklane", "Default", "", ""},  // these products have no fallback at all
      {"ZRQ", "Default", "C:\\ZRQ\\ZRQ.FDB", "C:\\ZRQ\\"},
      {"VLX", "Default", "C:\\VLX\\VLX.FDB", "C:\\VLX\\"},
      {"Pelmora", "Soc1", "C:\\Pel\\P.FDB", "C:\\Pel\\"},
      {"Calderix", "Soc1", "C:\\Cal\\C.FDB", "C:\\Cal\\"},
      {"Zorbalt", "Default", "", ""},
      {"Korvane Finance", "Default", "", ""},
      {"Common", "Default", "", ""},
      {"Inconnu", "Default", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetProductDatabaseName(c.product, c.company, true), c.whole) << c.product << " / " << c.company;
    EXPECT_EQ(GetProductDatabaseName(c.product, c.company, false), c.folder)
        << c.product << " / " << c.company;
  }
  // Nothing is created by reading.
  EXPECT_FALSE(win::RegKey::Exists(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\KORVANE S.A.\\WinTessivo\\Soc2"));
}

TEST_F(ProductDatabaseName, OnWindowsSevenALocalDatabaseIsNamedThroughTheLoopbackBeforeTheFolderIsTaken) {
  prefix_.SetSystem("version", "6.1");
  SetDatabase("WinTessivo\\Default\\TSV_DatabaseName", "Path", "C:\\Data\\SOC.FDB");
  SetDatabase("ZRQ\\Soc1", "ConnectionString", "serveur:C:\\ZRQ\\ZRQ.FDB");
  EXPECT_EQ(GetProductDatabaseName("WinTessivo", "Default", true), "127.0.0.1:C:\\Data\\SOC.FDB");
  EXPECT_EQ(GetProductDatabaseName("WinTessivo", "Default", false), "127.0.0.1:C:\\Data\\");
  EXPECT_EQ(GetProductDatabaseName("ZRQ", "Soc1", true), "serveur:C:\\ZRQ\\ZRQ.FDB");
  // An empty name stays empty: no address without a database.
  EXPECT_EQ(GetProductDatabaseName("WinTessivo", "Soc9", true), "");
}

TEST(LocalDatabaseAddress, OnlyVistaAndSevenPrefixALocalFileName) {
  struct Case {
    const char* version;
    const char* name;
    std::string expected;
  };
  const Case cases[] = {
      {"6.1", "C:\\Data\\SOC.FDB", "127.0.0.1:C:\\Data\\SOC.FDB"},
      {"6.0", "z:base.fdb", "127.0.0.1:z:base.fdb"},
      {"6.1", "C:", "127.0.0.1:C:"},
      {"6.1", "serveur:C:\\Data\\SOC.FDB", "serveur:C:\\Data\\SOC.FDB"},
      {"6.1", "\\\\serveur\\partage\\SOC.FDB", "\\\\serveur\\partage\\SOC.FDB"},
      {"6.1", "1:\\SOC.FDB", "1:\\SOC.FDB"},
      {"6.1", "C", "C"},
      {"6.1", "", ""},
      {"6.2", "C:\\Data\\SOC.FDB", "C:\\Data\\SOC.FDB"},
      {"10.0", "C:\\Data\\SOC.FDB", "C:\\Data\\SOC.FDB"},
      {"5.1", "C:\\Data\\SOC.FDB", "C:\\Data\\SOC.FDB"},
  };
  for (const Case& c : cases) {
    TempPrefix prefix;
    prefix.SetSystem("version", c.version);
    EXPECT_EQ(LocalDatabaseAddress(c.name), c.expected) << c.version << " " << c.name;
  }
}

// ---------------------------------------------------------------------------------------------
// The search of the drives

constexpr const char* kFolder = "WKorvane";
const std::string kNotFound = "Répertoire WKorvane pas trouvé. Veuillez indiquer son emplacement.";
const std::string kBrowseTitle = "Séléctionner le répertoire \"WKorvane\"";

// C: and F: fixed, D: a CD-ROM, E: removable, N: remote, R: a RAM disk.
class LocateProductFolderTest : public ::testing::Test {
 protected:
  LocateProductFolderTest() {
    prefix_.AddDrive('D', "cdrom");
    prefix_.AddDrive('E', "removable");
    prefix_.AddDrive('F', "fixed");
    prefix_.AddDrive('N', "remote");
    prefix_.AddDrive('R', "ramdisk");
  }
  void MakeFolder(const std::string& path) { kv::MakeFolder(prefix_, path); }
  std::string Locate() { return LocateProductFolder(engine_, kFolder); }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : ui_.Boxes()) {
      EXPECT_EQ(box.kind, MessageKind::Error);
      EXPECT_EQ(box.buttons, unsigned{mbOK});
      texts.push_back(box.text);
    }
    return texts;
  }

  TempPrefix prefix_;
  ScriptedUi ui_;
  TdmUpdateCommon engine_;
};

TEST_F(LocateProductFolderTest, OneFindOnAFixedOrNetworkDriveIsAnsweredWithoutAnyDialog) {
  MakeFolder("D:\\WKorvane");  // a CD-ROM, a removable disk and a RAM disk are never searched
  MakeFolder("E:\\WKorvane");
  MakeFolder("R:\\WKorvane");
  MakeFolder("N:\\WKorvane");
  EXPECT_EQ(Locate(), "N:\\WKorvane");

  MakeFolder("F:\\wkorvane");  // a second find: now the user is asked
  ui_.AnswerFolder(false);
  EXPECT_EQ(Locate(), "F:\\WKorvane");
  EXPECT_EQ(BoxTexts(),
            std::vector<std::string>{
                "2 répertoires WKorvane ont été trouvés, veuillez choisir l'emplacement correct."});
}

TEST_F(LocateProductFolderTest, AFileOfThatNameIsNoFind) {
  prefix_.WriteFile("C:\\WKorvane", "pas un dossier");
  MakeFolder("F:\\WKorvane");
  EXPECT_EQ(Locate(), "F:\\WKorvane");
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(LocateProductFolderTest, SeveralFindsAskTheUserAndCancellingKeepsTheFirst) {
  MakeFolder("C:\\WKorvane");
  MakeFolder("F:\\WKorvane");
  MakeFolder("N:\\WKorvane");
  ui_.AnswerFolder(false);
  EXPECT_EQ(Locate(), "C:\\WKorvane");
  EXPECT_EQ(BoxTexts(),
            std::vector<std::string>{
                "3 répertoires WKorvane ont été trouvés, veuillez choisir l'emplacement correct."});
  EXPECT_EQ(ui_.BrowseTitles(), std::vector<std::string>{kBrowseTitle});
  EXPECT_EQ(ui_.Beeps(), std::vector<std::uint32_t>{MB_ICONEXCLAMATION});
}

TEST_F(LocateProductFolderTest, SeveralFindsTakeTheUsersChoice) {
  MakeFolder("C:\\WKorvane");
  MakeFolder("N:\\WKorvane\\TSV");
  ui_.AnswerFolder(true, "N:\\WKorvane");
  EXPECT_EQ(Locate(), "N:\\WKorvane");
  EXPECT_EQ(ui_.Boxes().size(), 1u);
}

TEST_F(LocateProductFolderTest, NoFindAsksUntilTheChoiceLeadsToAnExistingFolder) {
  MakeFolder("C:\\Autre\\Ailleurs");
  MakeFolder("F:\\Suite\\WKorvane");
  MakeFolder("F:\\Suite\\Voisin");
  // A wrong folder, then a folder beside the wanted one: its name is replaced by the wanted name.
  ui_.AnswerFolder(true, "C:\\Autre\\Ailleurs");
  ui_.AnswerFolder(true, "F:\\Suite\\Voisin\\");
  EXPECT_EQ(Locate(), "F:\\Suite\\WKorvane");
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kNotFound, kNotFound}));
  EXPECT_EQ(ui_.BrowseTitles(), (std::vector<std::string>{kBrowseTitle, kBrowseTitle}));
}

TEST_F(LocateProductFolderTest, CancellingAnswersEmptyWithoutFindAndTheWrongPathAfterAWrongChoice) {
  ui_.AnswerFolder(false);
  EXPECT_EQ(Locate(), "");
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kNotFound});

  MakeFolder("C:\\Autre\\Ailleurs");
  ui_.AnswerFolder(true, "C:\\Autre\\Ailleurs");
  ui_.AnswerFolder(false);
  EXPECT_EQ(Locate(), "C:\\Autre\\WKorvane");
}

TEST_F(LocateProductFolderTest, AfterSeveralFindsAWrongChoiceAsksAgainWithTheNotFoundText) {
  MakeFolder("C:\\WKorvane");
  MakeFolder("F:\\WKorvane");
  ui_.AnswerFolder(true, "N:\\Rien");
  ui_.AnswerFolder(true, "F:\\");  // a drive root leads to the folder at that root
  EXPECT_EQ(Locate(), "F:\\WKorvane");
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                            "2 répertoires WKorvane ont été trouvés, veuillez choisir l'emplacement correct.",
                            kNotFound}));
}

}  // namespace
}  // namespace kv
