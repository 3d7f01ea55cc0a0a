// GetFileVersionInfo through the prefix: the library search, the drive map, the last error of each
// failure, and the running program's own version.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "formats/PeWriter.h"
#include "formats/Text.h"
#include "formats/VersionResource.h"
#include "platform/Win32.h"
#include "tests/support/PeFixtures.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

class FileVersionInfo : public ::testing::Test {
 protected:
  void Place(const std::string& windowsPath, const PeWriter& writer) {
    const std::vector<std::uint8_t> image = writer.Build();
    prefix_.WriteFile(windowsPath, std::string(image.begin(), image.end()));
  }
  // Fixed version 6.3.0.4242, and the given FileVersion text in a French string table.
  void PlaceVersion(const std::string& windowsPath, const std::string& fileVersion) {
    win::VersionResource v;
    v.hasFixedInfo = true;
    v.fileVersionMS = v.productVersionMS = 0x00060003;
    v.fileVersionLS = 0x00001092;
    v.translations = {0x04E4040C};
    v.stringTables = {{"040C04E4", {{"FileVersion", fileVersion}}}};
    test::WritePeWithVersion(prefix_, windowsPath, v);
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
    test::ExpectSameVersion(win::ParseVersionResource(win::BuildVersionResource(*v)), *v);
  }
}

}  // namespace
}  // namespace kv
