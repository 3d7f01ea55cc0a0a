// kvhost mkpe and kvhost version, run as programs: what one writes, the other and the readers read.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "formats/PeImage.h"
#include "formats/VersionResource.h"
#include "platform/MappedFile.h"
#include "platform/Win32.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

using Result = test::CommandResult;

// Runs kvhost with the test's environment (and so its KORVANE_PREFIX); out is its standard output.
Result Kvhost(const std::vector<std::string>& args) {
  std::vector<std::string> argv{KV_BIN_DIR "/kvhost"};
  argv.insert(argv.end(), args.begin(), args.end());
  return test::RunProgram(argv);
}

// What kvhost version prints, in its order.
std::string Record(const std::string& langId, const std::string& charSet,
                   const std::vector<std::pair<std::string, std::string>>& strings,
                   const std::string& fixed) {
  const char* keys[] = {"CompanyName",    "FileDescription", "FileVersion",      "InternalName",
                        "LegalCopyRight", "LegalTradeMark",  "OriginalFileName", "ProductName",
                        "ProductVersion", "Comments"};
  const std::uint16_t language =
      langId.empty() ? 0 : static_cast<std::uint16_t>(std::stoul(langId, nullptr, 16));
  std::string out =
      "LangId: " + langId + "\nLangName: " + win::VerLanguageName(language) + "\nCharSet: " + charSet + "\n";
  for (const char* key : keys) {
    std::string value;
    for (const auto& [k, v] : strings) {
      if (k == key) value = v;
    }
    out += std::string(key) + ": " + value + "\n";
  }
  return out + "Fixed file version: " + fixed + "\n";
}

class KvhostPe : public ::testing::Test {
 protected:
  test::TempPrefix prefix_;
  test::TempDir dir_;
};

TEST_F(KvhostPe, MkpeWritesWhatVersionPrintsAndTheReaderReads) {
  const std::string windowsPath = "C:\\WKorvane\\TSV\\Programs\\WinTessivo.exe";
  const fs::path target = prefix_.Host(windowsPath);
  fs::create_directories(target.parent_path());
  std::ofstream(dir_.Path() / "updates.txt") << "WinTessivo\r\n";
  std::ofstream(dir_.Path() / "notice.rtf") << "{\\rtf1 Notice}";

  const Result made = Kvhost({"mkpe",
                              target.string(),
                              "--file-version",
                              "5.2.26.7",
                              "--product-version",
                              "5.2.0.0",
                              "--translation",
                              "040904b0",
                              "--string",
                              "CompanyName=Société Générale é",
                              "--string",
                              "ProductVersion=5.2",
                              "--string",
                              "LegalCopyRight=© KORVANE S.A.",
                              "--string",
                              "Comments=a=b",
                              "--rcdata",
                              "Updates.txt=" + (dir_.Path() / "updates.txt").string(),
                              "--rcdata",
                              "NOTICE.RTF=" + (dir_.Path() / "notice.rtf").string()});
  ASSERT_EQ(made.exitCode, 0) << made.out;

  const std::string expected = Record("0409", "04B0",
                                      {{"CompanyName", "Société Générale é"},
                                       {"FileVersion", "5.2.26.7"},
                                       {"LegalCopyRight", "© KORVANE S.A."},
                                       {"ProductVersion", "5.2"},
                                       {"Comments", "a=b"}},
                                      "5.2.26.7");
  // By its Windows path in the prefix (another case), and by its host path.
  const Result byWindowsPath = Kvhost({"version", "c:\\wkorvane\\tsv\\programs\\WINTESSIVO.EXE"});
  EXPECT_EQ(byWindowsPath.exitCode, 0);
  EXPECT_EQ(byWindowsPath.out, expected);
  const Result byHostPath = Kvhost({"version", target.string()});
  EXPECT_EQ(byHostPath.exitCode, 0);
  EXPECT_EQ(byHostPath.out, expected);

  const MappedFile file(target);
  const PeImage image(file.Bytes());
  const auto updates = image.FindResource(win::RT_RCDATA, "UPDATES.TXT");
  ASSERT_TRUE(updates);
  EXPECT_EQ(std::string(updates->data.begin(), updates->data.end()), "WinTessivo\r\n");
  const auto notice = image.FindResource(win::RT_RCDATA, "Notice.rtf");
  ASSERT_TRUE(notice);
  EXPECT_EQ(std::string(notice->data.begin(), notice->data.end()), "{\\rtf1 Notice}");
  const auto version = win::ReadVersionResource(image);
  ASSERT_TRUE(version);
  EXPECT_EQ(version->translations, std::vector<std::uint32_t>{0x04B00409});
  EXPECT_EQ(win::FormatVersionNumbers(version->productVersionMS, version->productVersionLS), "5.2.0.0");
  EXPECT_EQ(image.FindFirstResource(win::RT_VERSION)->language, 0x0409);
}

TEST_F(KvhostPe, DefaultsAreFrenchAndTheFileVersionText) {
  const fs::path plain = dir_.Path() / "plain.dll";
  ASSERT_EQ(Kvhost({"mkpe", plain.string(), "--file-version", "1.2.3.4"}).exitCode, 0);
  EXPECT_EQ(Kvhost({"version", plain.string()}).out,
            Record("040C", "04E4", {{"FileVersion", "1.2.3.4"}}, "1.2.3.4"));

  // A FileVersion text of its own replaces the default one rather than adding a second.
  const fs::path gds = dir_.Path() / "gds32.dll";
  ASSERT_EQ(
      Kvhost({"mkpe", gds.string(), "--file-version", "6.3.0.4290", "--string", "FileVersion=WI-V6.3.0.4290"})
          .exitCode,
      0);
  EXPECT_EQ(Kvhost({"version", gds.string()}).out,
            Record("040C", "04E4", {{"FileVersion", "WI-V6.3.0.4290"}}, "6.3.0.4290"));
  const MappedFile file(gds);
  const auto version = win::ReadVersionResource(PeImage(file.Bytes()));
  ASSERT_TRUE(version);
  ASSERT_EQ(version->stringTables.size(), 1u);
  EXPECT_EQ(version->stringTables[0].values.size(), 1u);
  EXPECT_EQ(version->productVersionMS, 0x00060003u) << "the product version defaults to the file version";
}

TEST_F(KvhostPe, VersionOfFilesWithoutVersionAndMissingFiles) {
  prefix_.WriteFile("C:\\Data\\notes.txt", "plain text");
  const Result text = Kvhost({"version", "C:\\Data\\notes.txt"});
  EXPECT_EQ(text.exitCode, 0);
  EXPECT_EQ(text.out, Record("", "", {}, "?"));
  EXPECT_EQ(Kvhost({"version", "C:\\Data\\missing.dll"}).exitCode, 1);
}

TEST_F(KvhostPe, MkpeRefusesBadArguments) {
  const std::string out = (dir_.Path() / "x.dll").string();
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"mkpe", out}, 2},
      {{"mkpe", "--file-version", "1.0.0.0"}, 2},
      {{"mkpe", out, "--file-version", "1.2.x"}, 1},
      {{"mkpe", out, "--file-version", "1.0", "--translation", "040C"}, 1},
      {{"mkpe", out, "--file-version", "1.0", "--string", "NoValue"}, 1},
      {{"mkpe", out, "--file-version", "1.0", "--rcdata", "A=" + (dir_.Path() / "missing").string()}, 1},
      {{"mkpe", out, "--file-version", "1.0", "--unknown"}, 2},
  };
  for (const auto& [args, code] : cases) EXPECT_EQ(Kvhost(args).exitCode, code) << args.back();
}

}  // namespace
}  // namespace kv
