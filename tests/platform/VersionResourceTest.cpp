// The version resource: round trips through the PE writer and reader, damage, the Windows-like
// query, GetFileVersionInfo through the prefix, and a Windows DLL that Debian ships.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/MappedFile.h"
#include "platform/PeImage.h"
#include "platform/PeWriter.h"
#include "platform/Text.h"
#include "platform/VersionResource.h"
#include "platform/Win32.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using win::VersionResource;
using win::VersionStrings;

void ExpectSameVersion(const VersionResource& actual, const VersionResource& expected) {
  EXPECT_EQ(actual.hasFixedInfo, expected.hasFixedInfo);
  EXPECT_EQ(actual.fileVersionMS, expected.fileVersionMS);
  EXPECT_EQ(actual.fileVersionLS, expected.fileVersionLS);
  EXPECT_EQ(actual.productVersionMS, expected.productVersionMS);
  EXPECT_EQ(actual.productVersionLS, expected.productVersionLS);
  EXPECT_EQ(actual.translations, expected.translations);
  ASSERT_EQ(actual.stringTables.size(), expected.stringTables.size());
  for (std::size_t i = 0; i < expected.stringTables.size(); ++i) {
    EXPECT_EQ(actual.stringTables[i].translation, expected.stringTables[i].translation);
    EXPECT_EQ(actual.stringTables[i].values, expected.stringTables[i].values);
  }
}

struct RoundTrip {
  const char* name;
  VersionResource version;
};

VersionResource Fixed(std::uint32_t fileMS, std::uint32_t fileLS, std::uint32_t productMS,
                      std::uint32_t productLS) {
  VersionResource v;
  v.hasFixedInfo = true;
  v.fileVersionMS = fileMS;
  v.fileVersionLS = fileLS;
  v.productVersionMS = productMS;
  v.productVersionLS = productLS;
  return v;
}

VersionResource With(VersionResource v, std::vector<std::uint32_t> translations,
                     std::vector<VersionStrings> tables) {
  v.translations = std::move(translations);
  v.stringTables = std::move(tables);
  return v;
}

const RoundTrip kRoundTrips[] = {
    {"EveryFieldInFrench", With(Fixed(0x00010002, 0x001A0000, 0x00010002, 0), {0x04E4040C},
                                {{"040C04E4",
                                  {{"CompanyName", "Société Générale é"},
                                   {"FileDescription", "Assistant de mise à jour Korvane"},
                                   {"FileVersion", "1.2.26.0"},
                                   {"InternalName", "korvane-update"},
                                   {"LegalCopyRight", "© KORVANE S.A."},
                                   {"LegalTradeMark", "Korvane™"},
                                   {"OriginalFileName", "korvane-update.exe"},
                                   {"ProductName", "Korvane"},
                                   {"ProductVersion", "1.2"},
                                   {"Comments", "Ligne 1\r\nLigne 2"}}}})},
    {"WithoutFixedInfo",
     With(VersionResource{}, {0x04B00409}, {{"040904B0", {{"FileVersion", "WI-V6.3.0.4290"}}}})},
    {"FixedInfoOnly", Fixed(0xFFFFFFFF, 0xFFFFFFFF, 0x00050000, 0x00000001)},
    {"Nothing", VersionResource{}},
    {"TranslationWithoutStrings", With(Fixed(0x00020000, 0, 0, 0), {0x04E4040C}, {})},
    {"TwoTablesKeepTheirOrderAndSpelling",
     With(Fixed(0x00030000, 0x00000001, 0x00030000, 0), {0x04B00409, 0x04E4040C},
          {{"040904b0", {{"FileVersion", "3.0 en"}}},
           {"040C04E4", {{"FileVersion", "3.0 fr"}, {"Extra", "x"}}}})},
    // Keys and values of every length modulo 4, so that each padding case is met.
    {"EveryPaddingCase",
     With(Fixed(0x00010000, 0, 0, 0), {0x04E4040C},
          {{"040C04E4", {{"A", ""}, {"AB", "x"}, {"ABC", "xy"}, {"ABCD", "xyz"}, {"ABCDE", "wxyz"}}}})},
    {"EmptyTable", With(VersionResource{}, {}, {{"040C04E4", {}}})},
    {"BeyondTheBasicPlane", With(VersionResource{}, {0x04E4040C}, {{"040C04E4", {{"Comments", "😀 ok"}}}})},
};

void PrintTo(const RoundTrip& c, std::ostream* out) {
  *out << c.name;
}

class VersionRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(VersionRoundTrip, ThroughTheWriterAndTheReader) {
  const VersionResource& original = GetParam().version;
  PeWriter writer;
  writer.Add(win::RT_RCDATA, "OTHER", 0, {1, 2, 3});
  writer.Add(win::RT_VERSION, win::VS_VERSION_INFO, 0x040C, win::BuildVersionResource(original));
  const auto bytes = writer.Build();
  const PeImage image(bytes);
  const auto read = win::ReadVersionResource(image);
  ASSERT_TRUE(read);
  ExpectSameVersion(*read, original);
  // Every value answers its query, the key and the table key in another case.
  for (const VersionStrings& table : original.stringTables) {
    for (const auto& [key, value] : table.values) {
      EXPECT_EQ(read->QueryString(text::ToLower(table.translation), text::ToUpper(key)), value) << key;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, VersionRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VersionQuery, KeysAndTablesCompareWithoutCaseAndMissingOnesAnswerNothing) {
  VersionResource v;
  v.stringTables = {{"040904B0", {{"FileVersion", "en"}}}, {"040C04E4", {{"LegalCopyright", "fr"}}}};
  EXPECT_EQ(v.QueryString("040C04E4", "LegalCopyRight"), "fr");
  EXPECT_EQ(v.QueryString("040904b0", "FILEVERSION"), "en");
  EXPECT_EQ(v.QueryString("040C04E4", "FileVersion"), std::nullopt) << "only the named table is searched";
  EXPECT_EQ(v.QueryString("", "FileVersion"), std::nullopt);
  EXPECT_EQ(v.QueryString("040904B0", "FileVersio"), std::nullopt);
}

TEST(VersionText, TranslationKeysAndVersionNumbers) {
  EXPECT_EQ(win::TranslationKey(0x04E4040C), "040C04E4");
  EXPECT_EQ(win::ParseTranslationKey("040c04e4"), 0x04E4040Cu);
  EXPECT_EQ(win::ParseTranslationKey("040904B0"), 0x04B00409u);
  for (const char* bad : {"", "040C04E", "040C04E4F", "040C04G4"})
    EXPECT_FALSE(win::ParseTranslationKey(bad)) << bad;

  EXPECT_EQ(win::ParseVersionNumbers("1.2.26.65535"), std::make_pair(0x00010002u, 0x001AFFFFu));
  EXPECT_EQ(win::ParseVersionNumbers("6"), std::make_pair(0x00060000u, 0u));
  for (const char* bad : {"", "1.2.3.4.5", "1..2", "1.2.x", "65536", "-1", "1.2 "}) {
    EXPECT_FALSE(win::ParseVersionNumbers(bad)) << bad;
  }
  EXPECT_EQ(win::FormatVersionNumbers(0x00010002, 0x001AFFFF), "1.2.26.65535");
}

TEST(VersionBuild, ATextTooLongForTheFormatIsRefused) {
  VersionResource v;
  v.translations = {0x04E4040C};
  v.stringTables = {{"040C04E4", {{"Comments", std::string(40000, 'x')}}}};
  EXPECT_THROW(win::BuildVersionResource(v), Error);
}

// ---------------------------------------------------------------------------------------------
// Damage

VersionResource DamageSample() {
  return With(Fixed(0x00050002, 0x001A0007, 0x00050000, 0), {0x04E4040C},
              {{"040C04E4", {{"FileVersion", "5.2.26.7"}, {"CompanyName", "KORVANE S.A."}}}});
}

// Offset of the block whose key is `key` (its header is six bytes before the key).
std::size_t BlockOf(const std::vector<std::uint8_t>& b, std::u16string_view key) {
  std::vector<std::uint8_t> pattern;
  for (char16_t c : key) {
    pattern.push_back(static_cast<std::uint8_t>(c));
    pattern.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  const auto it = std::search(b.begin(), b.end(), pattern.begin(), pattern.end());
  EXPECT_NE(it, b.end());
  return static_cast<std::size_t>(it - b.begin()) - 6;
}

void Set16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
std::uint32_t Get16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8;
}

struct VersionDamage {
  const char* name;
  void (*apply)(std::vector<std::uint8_t>& b);
  const char* message;                                // part of the error, or nullptr when it reads
  void (*check)(const VersionResource& v) = nullptr;  // what it reads then
};

const VersionDamage kVersionDamages[] = {
    {"Truncated", [](auto& b) { b.resize(4); }, "bloc tronqué"},
    {"Empty", [](auto& b) { b.clear(); }, "bloc tronqué"},
    {"RootLongerThanTheData", [](auto& b) { Set16(b, 0, static_cast<std::uint32_t>(b.size() + 100)); },
     "bloc plus long que son parent"},
    {"RootLengthBelowItsHeader", [](auto& b) { Set16(b, 0, 3); }, "longueur de bloc invalide (3)"},
    {"KeyWithoutEnd", [](auto& b) { b = {12, 0, 0, 0, 0, 0, 'V', 0, 'S', 0, '_', 0}; },
     "clé de bloc sans fin"},
    {"AnotherRootKey", [](auto& b) { b[BlockOf(b, u"VS_VERSION_INFO") + 6 + 2 * 13] = 'X'; },
     "en-tête VS_VERSION_INFO absent"},
    {"FixedInfoPastItsBlock", [](auto& b) { Set16(b, 2, 0xFFF0); },
     "valeur du bloc VS_VERSION_INFO hors de son bloc"},
    {"TranslationPastItsBlock", [](auto& b) { Set16(b, BlockOf(b, u"Translation") + 2, 0x100); },
     "valeur du bloc Translation hors de son bloc"},
    {"TableLongerThanItsParent", [](auto& b) { Set16(b, BlockOf(b, u"040C04E4"), 0xFFF0); },
     "bloc plus long que son parent"},
    {"StringLengthBelowItsHeader", [](auto& b) { Set16(b, BlockOf(b, u"CompanyName"), 2); },
     "longueur de bloc invalide (2)"},
    {"StringKeyRunsPastItsBlock", [](auto& b) { Set16(b, BlockOf(b, u"CompanyName"), 6 + 4); },
     "clé de bloc sans fin"},
    // Tolerated as Windows tolerates them.
    {"TextLengthCountedInBytes",
     [](auto& b) {
       const std::size_t at = BlockOf(b, u"FileVersion");
       Set16(b, at + 2, Get16(b, at + 2) * 2);
     },
     nullptr,
     [](const VersionResource& v) { EXPECT_EQ(v.QueryString("040C04E4", "FileVersion"), "5.2.26.7"); }},
    {"TrailingZeroPadding",
     [](auto& b) {
       b.resize(b.size() + 8, 0);
       Set16(b, 0, static_cast<std::uint32_t>(b.size()));
     },
     nullptr, [](const VersionResource& v) { ExpectSameVersion(v, DamageSample()); }},
    {"FixedInfoWithoutSignature", [](auto& b) { b[BlockOf(b, u"VS_VERSION_INFO") + 40] ^= 0xFF; }, nullptr,
     [](const VersionResource& v) {
       EXPECT_FALSE(v.hasFixedInfo);
       EXPECT_EQ(v.QueryString("040C04E4", "CompanyName"), "KORVANE S.A.");
     }},
};

void PrintTo(const VersionDamage& c, std::ostream* out) {
  *out << c.name;
}

class VersionDamageTest : public ::testing::TestWithParam<VersionDamage> {};

TEST_P(VersionDamageTest, GivesAClearErrorOrReadsWhatIsSound) {
  auto bytes = win::BuildVersionResource(DamageSample());
  GetParam().apply(bytes);
  if (GetParam().message == nullptr) {
    GetParam().check(win::ParseVersionResource(bytes));
    return;
  }
  try {
    win::ParseVersionResource(bytes);
    FAIL() << "read without error";
  } catch (const PeFormatError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Table, VersionDamageTest, ::testing::ValuesIn(kVersionDamages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VersionFuzz, RandomDamageGivesAResultOrPeFormatError) {
  const auto sound = win::BuildVersionResource(DamageSample());
  std::mt19937 random(7);
  int read = 0, refused = 0;
  for (int round = 0; round < 20000; ++round) {
    auto bytes = sound;
    const int flips = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < flips; ++i) bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
    if (round % 4 == 0) bytes.resize(random() % bytes.size());
    try {
      const VersionResource v = win::ParseVersionResource(bytes);
      ++read;
      std::size_t values = 0;
      for (const auto& t : v.stringTables) values += t.values.size();
      // Each value needs a block of at least eight bytes.
      ASSERT_LE(values * 8, bytes.size());
    } catch (const PeFormatError&) {
      ++refused;
    }
  }
  EXPECT_GT(read, 1000);
  EXPECT_GT(refused, 1000);
}

// ---------------------------------------------------------------------------------------------
// GetFileVersionInfo through the prefix

class FileVersionInfo : public ::testing::Test {
 protected:
  void Place(const std::string& windowsPath, const PeWriter& writer) {
    const fs::path host = prefix_.Host(windowsPath);
    fs::create_directories(host.parent_path());
    writer.WriteFile(host);
  }
  void PlaceVersion(const std::string& windowsPath, const std::string& fileVersion) {
    VersionResource v = With(Fixed(0x00060003, 0x00001092, 0x00060003, 0), {0x04E4040C},
                             {{"040C04E4", {{"FileVersion", fileVersion}}}});
    PeWriter w;
    w.Add(win::RT_VERSION, win::VS_VERSION_INFO, 0x040C, win::BuildVersionResource(v));
    Place(windowsPath, w);
  }
  test::TempPrefix prefix_;
};

TEST_F(FileVersionInfo, BareNamesAreFoundByTheLibrarySearch) {
  PlaceVersion("C:\\Windows\\System32\\gds32.dll", "WI-V6.3.0.4290");
  for (const char* name : {"gds32.dll", "GDS32.DLL"}) {
    const auto v = win::GetFileVersionInfo(name);
    ASSERT_TRUE(v) << name;
    EXPECT_EQ(v->QueryString("040C04E4", "FileVersion"), "WI-V6.3.0.4290");
    EXPECT_EQ(win::FormatVersionNumbers(v->fileVersionMS, v->fileVersionLS), "6.3.0.4242");
  }
}

TEST_F(FileVersionInfo, WindowsPathsAreMappedWithoutRegardToCase) {
  PlaceVersion("C:\\WKorvane\\Adresses\\Programs\\TSAdresses2.dll", "2.1.0.5");
  const auto v = win::GetFileVersionInfo("c:\\wkorvane\\ADRESSES\\programs\\tsadresses2.DLL");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->QueryString("040c04e4", "fileversion"), "2.1.0.5");
}

TEST_F(FileVersionInfo, FailuresSetTheLastErrorAsWindowsDoes) {
  prefix_.WriteFile("C:\\Data\\notes.txt", "not an image at all");
  PeWriter noVersion;
  noVersion.Add(win::RT_RCDATA, "UPDATES.TXT", 0, {'x'});
  Place("C:\\Data\\plain.dll", noVersion);
  PeWriter damaged;
  damaged.Add(win::RT_VERSION, 1u, 0, {0xFF, 0xFF, 0, 0, 0, 0});
  Place("C:\\Data\\damaged.dll", damaged);
  prefix_.WriteFile("C:\\Data\\empty.dll", "");

  const std::pair<const char*, win::DWORD> cases[] = {
      {"C:\\Data\\missing.dll", win::ERROR_FILE_NOT_FOUND},
      {"C:\\Nowhere\\missing.dll", win::ERROR_FILE_NOT_FOUND},
      {"missing-library.dll", win::ERROR_FILE_NOT_FOUND},
      {"C:\\Data\\notes.txt", win::ERROR_RESOURCE_DATA_NOT_FOUND},
      {"C:\\Data\\empty.dll", win::ERROR_RESOURCE_DATA_NOT_FOUND},
      {"C:\\Data\\damaged.dll", win::ERROR_RESOURCE_DATA_NOT_FOUND},
      {"C:\\Data\\plain.dll", win::ERROR_RESOURCE_TYPE_NOT_FOUND},
  };
  for (const auto& [path, error] : cases) {
    win::SetLastError(0);
    EXPECT_FALSE(win::GetFileVersionInfo(path)) << path;
    EXPECT_EQ(win::GetLastError(), error) << path;
  }
}

// The version of this project, as CMake has it.
std::string ProjectVersion() {
  std::ifstream in(KV_SOURCE_DIR "/CMakeLists.txt");
  std::stringstream s;
  s << in.rdbuf();
  std::smatch m;
  const std::string text = s.str();
  if (!std::regex_search(text, m, std::regex(R"(project\([^)]*VERSION ([0-9.]+))"))) return "?";
  std::string version = m[1];
  for (auto dots = std::count(version.begin(), version.end(), '.'); dots < 3; ++dots) version += ".0";
  return version;
}

TEST_F(FileVersionInfo, TheProgramItselfAnswersTheVersionItWasBuiltWith) {
  const std::string self = win::GetModuleFileName();
  ASSERT_FALSE(self.empty());
  for (const std::string& path : {std::string(), self, text::ToUpper(self)}) {
    const auto v = win::GetFileVersionInfo(path);
    ASSERT_TRUE(v) << path;
    ASSERT_TRUE(v->hasFixedInfo);
    const std::string version = ProjectVersion();
    EXPECT_EQ(win::FormatVersionNumbers(v->fileVersionMS, v->fileVersionLS), version);
    EXPECT_EQ(win::FormatVersionNumbers(v->productVersionMS, v->productVersionLS), version);
    EXPECT_EQ(v->translations, std::vector<std::uint32_t>{0x04E4040C});
    const std::pair<const char*, std::string> expected[] = {
        {"CompanyName", "KORVANE S.A."},
        {"FileDescription", "Assistant de mise à jour Korvane"},
        {"FileVersion", version},
        {"InternalName", "korvane-update"},
        {"OriginalFileName", "korvane-update.exe"},
        {"ProductName", "Korvane"},
        {"ProductVersion", version},
        {"LegalCopyRight", "© KORVANE S.A."},
    };
    for (const auto& [key, value] : expected) EXPECT_EQ(v->QueryString("040C04E4", key), value) << key;
    EXPECT_EQ(v->QueryString("040C04E4", "Comments"), std::nullopt);
    // Built this way, it can be written into a fixture and read back unchanged.
    ExpectSameVersion(win::ParseVersionResource(win::BuildVersionResource(*v)), *v);
  }
}

// ---------------------------------------------------------------------------------------------
// A PE file this project did not write: zlib1.dll of Debian's libz-mingw-w64, compared with what
// binutils' windres and dpkg say of it.

class DebianZlibDll : public ::testing::TestWithParam<const char*> {};

TEST_P(DebianZlibDll, ReadsAsWindresAndDpkgSay) {
  const fs::path dll = GetParam();
  ASSERT_TRUE(fs::exists(dll)) << dll
                               << " is missing: install Debian's libz-mingw-w64 (scripts/install-deps)";
  if (!test::FindOnPath("x86_64-w64-mingw32-windres"))
    GTEST_SKIP() << "binutils-mingw-w64-x86-64 is not installed (scripts/install-deps installs it)";

  const MappedFile file(dll);
  const PeImage image(file.Bytes());
  EXPECT_EQ(image.Is64(), dll.string().find("x86_64") != std::string::npos);
  const auto version = win::ReadVersionResource(image);
  ASSERT_TRUE(version);
  ASSERT_FALSE(version->translations.empty());
  const std::string translation = win::TranslationKey(version->translations.front());

  const test::CommandResult windres =
      test::RunProgram({"x86_64-w64-mingw32-windres", "-i", dll.string(), "-O", "rc"});
  ASSERT_EQ(windres.exitCode, 0);
  const std::string& rc = windres.out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(rc, m, std::regex(R"(FILEVERSION (\d+), (\d+), (\d+), (\d+))"))) << rc;
  EXPECT_TRUE(version->hasFixedInfo);
  EXPECT_EQ(win::FormatVersionNumbers(version->fileVersionMS, version->fileVersionLS),
            m[1].str() + "." + m[2].str() + "." + m[3].str() + "." + m[4].str());
  ASSERT_TRUE(std::regex_search(rc, m, std::regex(R"x(BLOCK "([0-9A-Fa-f]{8})")x")));
  EXPECT_TRUE(text::IEquals(m[1].str(), translation));
  ASSERT_TRUE(std::regex_search(rc, m, std::regex(R"(VALUE "Translation", 0x([0-9a-f]+), (\d+))")));
  EXPECT_EQ(version->translations.front(), std::stoul(m[1].str(), nullptr, 16) | std::stoul(m[2].str())
                                                                                     << 16);
  // Every string value windres lists, with the same text.
  const std::regex value(R"x(VALUE "(\w+)", "([^"\\]*)")x");
  int values = 0;
  for (auto it = std::sregex_iterator(rc.begin(), rc.end(), value); it != std::sregex_iterator();
       ++it, ++values) {
    EXPECT_EQ(version->QueryString(translation, (*it)[1].str()), (*it)[2].str()) << (*it)[1].str();
  }
  EXPECT_GE(values, 5);

  // The package's own version begins with the library's FileVersion text (1.2.13 in Debian 12).
  const std::string package = test::RunProgram({"dpkg-query", "-W", "-f=${Version}", "libz-mingw-w64"}).out;
  const auto fileVersion = version->QueryString(translation, "FileVersion");
  ASSERT_TRUE(fileVersion);
  EXPECT_FALSE(fileVersion->empty());
  EXPECT_EQ(package.rfind(*fileVersion, 0), 0u) << package << " / " << *fileVersion;

  // What the builder makes of it reads back the same.
  ExpectSameVersion(win::ParseVersionResource(win::BuildVersionResource(*version)), *version);
}

INSTANTIATE_TEST_SUITE_P(BothFormats, DebianZlibDll,
                         ::testing::Values("/usr/x86_64-w64-mingw32/lib/zlib1.dll",
                                           "/usr/i686-w64-mingw32/lib/zlib1.dll"),
                         [](const auto& info) {
                           return std::string(info.param).find("x86_64") != std::string::npos ? "Pe32Plus"
                                                                                              : "Pe32";
                         });

}  // namespace
}  // namespace kv
