// The checks before an update, answered from the installed suite: the product table, the suite
// root of the registry and the address module's folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/Package.h"
#include "engine/UpdateCommon.h"
#include "formats/VersionResource.h"
#include "platform/Win32.h"
#include "products/ProductCatalog.h"
#include "tests/support/PeFixtures.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::ScriptedUi;
using test::TempPrefix;

void WriteLibrary(const TempPrefix& prefix, const std::string& path, const std::string& fileVersion) {
  win::VersionResource version;
  version.hasFixedInfo = true;
  version.translations = {0x04E4040C};
  version.stringTables = {{win::TranslationKey(0x04E4040C), {{"FileVersion", fileVersion}}}};
  test::WritePeWithVersion(prefix, path, version);
}

class SuiteCatalog : public ::testing::Test {
 protected:
  SuiteCatalog() { SetCurrentPackage(&package_); }
  ~SuiteCatalog() override { SetCurrentPackage(nullptr); }

  void InstallSuite(const std::string& addressVersion) {
    win::RegKey key;
    ASSERT_EQ(win::RegKey::Create(win::HKEY_CURRENT_USER, "SOFTWARE\\KORVANE S.A.\\WinTessivo\\Program",
                                  win::KEY_ALL_ACCESS, key),
              win::ERROR_SUCCESS);
    key.SetValue("Filename", win::RegValue::String("C:\\WKorvane\\TSV\\Programs\\WinTessivo.exe"));
    fs::create_directories(prefix_.Host("C:\\WKorvane\\TSV\\Programs"));
    WriteLibrary(prefix_, "C:\\WKorvane\\Adresses\\Programs\\TSAdresses2.dll", addressVersion);
    WriteLibrary(prefix_, "C:\\Windows\\System32\\gds32.dll", "WI-V6.3.0.4290");
  }

  TempPrefix prefix_;
  ScriptedUi ui_;
  MemoryPackage package_;
  TdmUpdateCommon engine_;
  SuiteProductCatalog catalog_;
};

TEST_F(SuiteCatalog, TheAddressLibraryIsLookedForInTheSuitesAddressModule) {
  // The tests run from the build folder, where no address library lies beside the program.
  EXPECT_EQ(catalog_.AddressLibraryPath(), "Adresses\\Programs\\TSAdresses2.dll");
  InstallSuite("2.4.0.12");
  EXPECT_EQ(catalog_.AddressLibraryPath(), "C:\\WKorvane\\Adresses\\Programs\\TSAdresses2.dll");
}

TEST_F(SuiteCatalog, KeysAreThoseOfTheProductTable) {
  EXPECT_EQ(catalog_.KeyToCode("winTESSIVO"), 1);
  EXPECT_EQ(catalog_.KeyToCode("TSV_ING"), 2);
  EXPECT_EQ(catalog_.KeyToCode("Common"), 12);
  EXPECT_EQ(catalog_.KeyToCode(""), 0);
  EXPECT_TRUE(catalog_.KnownKeyText().starts_with("WinTessivo\r\nWinTessivo Ingenieur\r\nAdresses\r\n"));
  EXPECT_TRUE(catalog_.KnownKeyText().ends_with("Common\r\nOptaris\r\nVLX\r\n"));
}

TEST_F(SuiteCatalog, AnInstalledSuiteOfTheRightVersionsLetsTheMainProductsUpdateGoOn) {
  InstallSuite("2.4.0.12");
  package_.Add("Updates.txt", "WinTessivo\r\nCommon\r\n", 0);
  std::vector<std::string> keys;
  EXPECT_TRUE(LoadUpdateKeys(engine_, catalog_, keys));
  EXPECT_EQ(keys, (std::vector<std::string>{"WinTessivo", "Common"}));
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(SuiteCatalog, AnOldAddressModuleOfTheInstalledSuiteIsNamedInTheWarning) {
  InstallSuite("1.8.3.0");
  package_.Add("Updates.txt", "WinTessivo\r\n", 0);
  std::vector<std::string> keys;
  EXPECT_FALSE(LoadUpdateKeys(engine_, catalog_, keys));
  EXPECT_TRUE(ui_.TerminationRequested());
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_TRUE(ui_.Boxes()[0].text.ends_with(
      "incompatible du module d'adresses.\r\n\r\nVeuillez contacter la société Korvane.\r\n\r\n"
      "L'application va se terminer.\r\n\r\n"
      "Path=\"C:\\WKorvane\\Adresses\\Programs\\TSAdresses2.dll\" Ver=\"1.8.3.0\""))
      << ui_.Boxes()[0].text;
}

TEST_F(SuiteCatalog, TheSharedFilesPackageNeedsNoInstalledComponent) {
  package_.Add("Updates.txt", "Common\r\n", 0);
  std::vector<std::string> keys;
  EXPECT_TRUE(LoadUpdateKeys(engine_, catalog_, keys));
  EXPECT_EQ(keys, std::vector<std::string>{"Common"});
  EXPECT_TRUE(ui_.Boxes().empty());
}

}  // namespace
}  // namespace kv
