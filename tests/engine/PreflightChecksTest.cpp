// Which update keys a package brings, and the version check of the database client and the address
// module that an update of the main product needs before anything is changed.
#include <gtest/gtest.h>

#include <optional>

#include "engine/Package.h"
#include "engine/PreflightChecks.h"
#include "engine/UpdateCommon.h"
#include "formats/Text.h"
#include "formats/VersionResource.h"
#include "platform/Win32.h"
#include "tests/support/PeFixtures.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

using test::ScriptedUi;
using test::TempPrefix;

constexpr const char* kClientLibrary = "C:\\Windows\\System32\\gds32.dll";
constexpr const char* kAddressLibrary = "C:\\WKorvane\\Adresses\\Programs\\TSAdresses2.dll";

// The suite as the checks see it: the product names of the installed suite, in code order.
class FakeCatalog : public ProductCatalog {
 public:
  std::uint8_t KeyToCode(const std::string& key) const override {
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
      if (text::IEquals(key, kNames[i])) return static_cast<std::uint8_t>(i + 1);
    }
    return 0;
  }
  std::string KnownKeyText() const override {
    std::string text;
    for (const char* name : kNames) text += std::string(name) + "\r\n";
    return text;
  }
  std::string AddressLibraryPath() const override { return kAddressLibrary; }

 private:
  static constexpr const char* kNames[] = {
      "WinTessivo", "WinTessivo Ingenieur", "Adresses", "Zorbalt",  "PDFDLL", "Brisklane", "TSVQuaymart",
      "Pelmora",    "Korvane Finance",      "ZRQ",      "Calderix", "Common", "Optaris",   "VLX",
  };
};

// A library whose version resource carries the given FileVersion text (nullopt: no translation
// table, which reads as no version at all).
void WriteLibrary(const TempPrefix& prefix, const std::string& path,
                  const std::optional<std::string>& fileVersion) {
  win::VersionResource version;
  version.hasFixedInfo = true;
  version.fileVersionMS = version.productVersionMS = 0x00020001;
  if (fileVersion) {
    version.translations = {0x04E4040C};
    version.stringTables = {{win::TranslationKey(0x04E4040C), {{"FileVersion", *fileVersion}}}};
  }
  test::WritePeWithVersion(prefix, path, version);
}

std::string Warning(const std::string& components, const std::string& version) {
  return std::string("ATTENTION !!!\r\n\r\nCette mise à jour a détecté une version incompatible ") +
         components +
         ".\r\n\r\nVeuillez contacter la société Korvane.\r\n\r\nL'application va se terminer.\r\n\r\n" +
         "Path=\"C:\\WKorvane\\Adresses\\Programs\\TSAdresses2.dll\" Ver=\"" + version + "\"";
}

class PreflightChecks : public ::testing::Test {
 protected:
  ~PreflightChecks() override { SetCurrentPackage(nullptr); }

  void SetUpdates(const std::string& content) {
    package_.Add("UPDATES.TXT", content, 0);
    SetCurrentPackage(&package_);
  }
  void InstallCompatibleComponents() {
    WriteLibrary(prefix_, kClientLibrary, "WI-V6.3.0.4290");
    WriteLibrary(prefix_, kAddressLibrary, "2.4.0.12");
  }

  TempPrefix prefix_;
  ScriptedUi ui_;
  MemoryPackage package_;
  TdmUpdateCommon engine_;
  FakeCatalog catalog_;
};

TEST_F(PreflightChecks, KeysAreFilteredByTheKnownNamesAndKeptOnceWithoutAnyCheckOutsideTheMainProduct) {
  // No client library and no address module: only the main product's key would look at them.
  struct Case {
    const char* label;
    std::string updates;
    std::vector<std::string> keys;
  };
  const Case cases[] = {
      {"the shared-files package", "Common\r\n", {"Common"}},
      {"the engineering edition is not checked", "WinTessivo Ingenieur", {"WinTessivo Ingenieur"}},
      {"a repeated key", "Common\r\nZRQ\r\nCommon\r\n", {"Common", "ZRQ"}},
      {"another letter case after an accepted line", "X\r\nx\r\nV\nv", {"X", "V"}},
      {"a trailing space", "Common \r\nVLX", {"VLX"}},
      {"another letter case than the table", "common\r\nzrq", {}},
      {"a fragment of a name", "Tessivo\r\nPelmora", {"Tessivo", "Pelmora"}},
      {"empty lines and unknown names", "\r\n\r\nInconnu\r\nOptaris\r\n", {"Optaris"}},
  };
  for (const Case& c : cases) {
    SetUpdates(c.updates);
    std::vector<std::string> keys = {"left over"};
    EXPECT_TRUE(LoadUpdateKeys(engine_, catalog_, keys)) << c.label;
    EXPECT_EQ(keys, c.keys) << c.label;
  }
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_FALSE(ui_.TerminationRequested());
}

TEST_F(PreflightChecks, AMissingOrEmptyKeyListAnswersFalseSilentlyAndLeavesTheKeysAlone) {
  std::vector<std::string> keys = {"Avant"};
  EXPECT_FALSE(LoadUpdateKeys(engine_, catalog_, keys));  // no package at all
  SetCurrentPackage(&package_);
  EXPECT_FALSE(LoadUpdateKeys(engine_, catalog_, keys));  // a package without Updates.txt
  SetUpdates("");
  EXPECT_FALSE(LoadUpdateKeys(engine_, catalog_, keys));
  EXPECT_EQ(keys, std::vector<std::string>{"Avant"});
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_FALSE(ui_.TerminationRequested());
}

TEST_F(PreflightChecks, TheMainProductGoesOnWithEitherAcceptedClientBuildAndAnAddressModuleOfVersionTwo) {
  for (const char* client : {"WI-V6.3.0.4290", "WI-V6.3.2.4731"}) {
    WriteLibrary(prefix_, kClientLibrary, client);
    WriteLibrary(prefix_, kAddressLibrary, "2.0");
    SetUpdates("WinTessivo\r\nCommon\r\n");
    std::vector<std::string> keys;
    EXPECT_TRUE(LoadUpdateKeys(engine_, catalog_, keys)) << client;
    EXPECT_EQ(keys, (std::vector<std::string>{"WinTessivo", "Common"})) << client;
    EXPECT_TRUE(CheckCompatibility(catalog_)) << client;
  }
  EXPECT_TRUE(ui_.Boxes().empty());
  EXPECT_FALSE(ui_.TerminationRequested());
}

TEST_F(PreflightChecks, AnIncompatibleComponentIsNamedWithTheAddressModulesPathAndVersion) {
  struct Case {
    const char* label;
    std::optional<std::optional<std::string>> client;   // outer nullopt: no library installed
    std::optional<std::optional<std::string>> address;  // inner nullopt: no translation table
    std::string components;
    std::string addressVersion;
  };
  const Case cases[] = {
      {"another build of the client", std::optional<std::string>("WI-V6.3.0.4291"),
       std::optional<std::string>("2.4.0.12"), "de Firebird", "2.4.0.12"},
      {"another release of the client", std::optional<std::string>("WI-V2.5.9.27139"),
       std::optional<std::string>("2.4.0.12"), "de Firebird", "2.4.0.12"},
      {"no client library", std::nullopt, std::optional<std::string>("2.4.0.12"), "de Firebird", "2.4.0.12"},
      {"an old address module", std::optional<std::string>("WI-V6.3.0.4290"),
       std::optional<std::string>("1.9.0.3"), "du module d'adresses", "1.9.0.3"},
      {"no address module", std::optional<std::string>("WI-V6.3.2.4731"), std::nullopt,
       "du module d'adresses", "?"},
      {"an address module without version text", std::optional<std::string>("WI-V6.3.0.4290"),
       std::optional<std::string>(""), "du module d'adresses", ""},
      {"an address module without translation table", std::optional<std::string>("WI-V6.3.0.4290"),
       std::optional<std::optional<std::string>>(std::nullopt), "du module d'adresses", "?"},
      {"both wrong", std::optional<std::string>("WI-V6.3.0.4291"), std::optional<std::string>("3.0.0.1"),
       "de Firebird et du module d'adresses", "3.0.0.1"},
  };
  for (const Case& c : cases) {
    TempPrefix prefix;  // a fresh installation for each case
    if (c.client) WriteLibrary(prefix, kClientLibrary, *c.client);
    if (c.address) WriteLibrary(prefix, kAddressLibrary, *c.address);
    const std::size_t before = ui_.Boxes().size();
    EXPECT_FALSE(CheckCompatibility(catalog_)) << c.label;
    ASSERT_EQ(ui_.Boxes().size(), before + 1) << c.label;
    const auto& box = ui_.Boxes().back();
    EXPECT_EQ(box.kind, MessageKind::Warning) << c.label;
    EXPECT_EQ(box.buttons, unsigned{mbOK}) << c.label;
    EXPECT_EQ(box.text, Warning(c.components, c.addressVersion)) << c.label;
    EXPECT_EQ(ui_.Beeps().size(), before + 1) << c.label;
  }
  // The check itself only warns; ending the program is the key loader's decision.
  EXPECT_FALSE(ui_.TerminationRequested());
}

TEST_F(PreflightChecks, AFailedCheckEndsTheProgramAndStopsAtTheMainProductsKey) {
  WriteLibrary(prefix_, kAddressLibrary, "2.4.0.12");  // no client library
  SetUpdates("Common\r\nWinTessivo\r\nZRQ\r\n");
  std::vector<std::string> keys;
  EXPECT_FALSE(LoadUpdateKeys(engine_, catalog_, keys));
  EXPECT_TRUE(ui_.TerminationRequested());
  ASSERT_EQ(ui_.Boxes().size(), 1u);
  EXPECT_EQ(ui_.Boxes()[0].text, Warning("de Firebird", "2.4.0.12"));
  EXPECT_EQ(keys, std::vector<std::string>{"Common"});  // the lines after the main product are not read
}

TEST_F(PreflightChecks, ARepeatedMainProductKeyIsKeptOnce) {
  InstallCompatibleComponents();
  SetUpdates("WinTessivo\r\nZRQ\r\nWinTessivo\r\n");
  std::vector<std::string> keys;
  EXPECT_TRUE(LoadUpdateKeys(engine_, catalog_, keys));
  EXPECT_EQ(keys, (std::vector<std::string>{"WinTessivo", "ZRQ"}));
  EXPECT_TRUE(ui_.Boxes().empty());
}

}  // namespace
}  // namespace kv
