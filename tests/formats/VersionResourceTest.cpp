// The version resource: round trips through the PE writer and reader, damage, the Windows-like
// query, and a Windows DLL that Debian ships.
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

#include "formats/PeImage.h"
#include "formats/PeWriter.h"
#include "formats/Text.h"
#include "formats/VersionResource.h"
#include "platform/MappedFile.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/PeFixtures.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using win::VersionResource;
using win::VersionStrings;

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
  test::ExpectSameVersion(*read, original);
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
     nullptr, [](const VersionResource& v) { test::ExpectSameVersion(v, DamageSample()); }},
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
  test::ExpectSameVersion(win::ParseVersionResource(win::BuildVersionResource(*version)), *version);
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
