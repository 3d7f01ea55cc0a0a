// The shared files: the package's listed files copied into Common\Programs\ below the suite root,
// whatever is installed there, each copy in the report.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/Package.h"
#include "engine/UpdateCommon.h"
#include "platform/FileUtils.h"
#include "platform/InstallTools2.h"
#include "platform/RichTextControl.h"
#include "platform/Win32.h"
#include "products/CommonFiles.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::ScriptedUi;
using test::TempPrefix;

constexpr const char* kCommon = "C:\\WKorvane\\Common\\Programs\\";
constexpr win::FileTime kPackageTime = 133'500'000'000'000'000ULL;  // March 2024
constexpr std::uint32_t kFirstTempNumber = 101;

const std::vector<std::string> kSharedFiles = {
    "wPDFViewPlus01.dll", "wPDF200A.dll",     "american.adm",     "french.adm",
    "german-gt3.adm",     "italian.adm",      "wPDF300A.dll",     "wPDFViewPlus02.dll",
    "English_Dico.aff",   "English_Dico.dic", "French_Dico.aff",  "French_Dico.dic",
    "German_Dico.aff",    "German_Dico.dic",  "Italien_Dico.aff", "Italien_Dico.dic",
};

std::string Content(const std::string& name) {
  return "contenu de " + name + " dans le paquet\r\n";
}

std::string JoinLines(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += name + "\r\n";
  return text;
}

class CommonFiles : public ::testing::Test {
 protected:
  CommonFiles() {
    win::RegKey key;
    EXPECT_EQ(win::RegKey::Create(win::HKEY_CURRENT_USER, "SOFTWARE\\KORVANE S.A.\\WinTessivo\\Program",
                                  win::KEY_ALL_ACCESS, key),
              win::ERROR_SUCCESS);
    key.SetValue("Filename", win::RegValue::String("C:\\WKorvane\\TSV\\Programs\\WinTessivo.exe"));
    fs::create_directories(prefix_.Host("C:\\WKorvane\\TSV\\Programs"));
    engine_.SetReportControl(&report_);
    engine_.SetRandomSource([this](std::uint32_t) { return nextNumber_++; });
    SetCurrentPackage(&package_);
  }
  ~CommonFiles() override { SetCurrentPackage(nullptr); }

  // The package's list and a file of each listed name.
  void Package(const std::vector<std::string>& names) {
    package_.Add("FILENAMES.TXT", JoinLines(names), kPackageTime);
    for (const std::string& name : names) package_.Add(name, Content(name), kPackageTime + 10'000'000);
  }
  std::string Temp(std::uint32_t number) const {
    return engine_.Installer->GetTempPath() + "Update" + std::to_string(number) + ".tmp";
  }
  std::vector<std::string> Report() const {
    std::vector<std::string> texts;
    for (const auto& line : report_.Lines()) texts.push_back(line.text);
    return texts;
  }
  bool Exists(const std::string& path) const {
    return win::GetFileAttributes(path) != win::INVALID_FILE_ATTRIBUTES;
  }

  TempPrefix prefix_;
  ScriptedUi ui_;
  MemoryPackage package_;
  TdmUpdateCommon engine_;
  MemoryRichText report_;
  std::uint32_t nextNumber_ = kFirstTempNumber;
};

TEST_F(CommonFiles, TheSixteenSharedFilesAreCopiedIntoTheCommonFolderEachWithItsReportLines) {
  Package(kSharedFiles);
  ASSERT_FALSE(Exists("C:\\WKorvane\\Common"));
  EXPECT_EQ(InstallCommonFiles(engine_), UpdateOutcome::Completed);

  std::vector<std::string> expected;
  for (std::size_t i = 0; i < kSharedFiles.size(); ++i) {
    expected.push_back("Copie de " + Temp(kFirstTempNumber + static_cast<std::uint32_t>(i)));
    expected.push_back("vers " + std::string(kCommon) + kSharedFiles[i]);
    expected.push_back("");
  }
  EXPECT_EQ(Report(), expected);
  for (const std::string& name : kSharedFiles) {
    EXPECT_EQ(prefix_.ReadFile(kCommon + name), Content(name)) << name;
    win::FileTime time = 0;
    ASSERT_TRUE(win::GetFileLastWriteTime(kCommon + name, time)) << name;
    EXPECT_EQ(time, kPackageTime + 10'000'000) << name;  // the package's time, not the copy's
  }
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(CommonFiles, InstalledFilesAreOverwrittenWhateverTheirVersionOrReadOnlyMarkAndOthersAreLeftAlone) {
  Package({"wPDF300A.dll", "french.adm"});
  prefix_.WriteFile(std::string(kCommon) + "wPDF300A.dll", "une version plus récente, protégée");
  ASSERT_TRUE(win::SetFileAttributes(std::string(kCommon) + "wPDF300A.dll", win::FILE_ATTRIBUTE_READONLY));
  prefix_.WriteFile(std::string(kCommon) + "french.adm", "ancien");
  prefix_.WriteFile(std::string(kCommon) + "Autre.dll", "pas dans la liste");

  EXPECT_EQ(InstallCommonFiles(engine_), UpdateOutcome::Completed);
  EXPECT_EQ(prefix_.ReadFile(std::string(kCommon) + "wPDF300A.dll"), Content("wPDF300A.dll"));
  EXPECT_EQ(win::GetFileAttributes(std::string(kCommon) + "wPDF300A.dll") & win::FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(prefix_.ReadFile(std::string(kCommon) + "french.adm"), Content("french.adm"));
  EXPECT_EQ(prefix_.ReadFile(std::string(kCommon) + "Autre.dll"), "pas dans la liste");
  EXPECT_TRUE(ui_.Boxes().empty());  // nothing is compared, nobody is asked
}

TEST_F(CommonFiles, ANameMissingFromThePackageFailsThatFileOnly) {
  Package({"a.dll", "b.dll"});
  package_.Add("FILENAMES.TXT", "a.dll\r\nabsent.dll\r\nb.dll\r\n", kPackageTime);
  prefix_.WriteFile(std::string(kCommon) + "absent.dll", "installé");

  EXPECT_EQ(InstallCommonFiles(engine_), UpdateOutcome::Failed);
  EXPECT_EQ(Report(), (std::vector<std::string>{
                          "Copie de " + Temp(101),
                          std::string("vers ") + kCommon + "a.dll",
                          "",
                          "Copie de ",
                          std::string("vers ") + kCommon + "absent.dll",
                          "",
                          "Copie de " + Temp(103),
                          std::string("vers ") + kCommon + "b.dll",
                          "",
                      }));
  EXPECT_EQ(prefix_.ReadFile(std::string(kCommon) + "a.dll"), Content("a.dll"));
  EXPECT_EQ(prefix_.ReadFile(std::string(kCommon) + "absent.dll"), "installé");
  EXPECT_EQ(prefix_.ReadFile(std::string(kCommon) + "b.dll"), Content("b.dll"));
}

TEST_F(CommonFiles, ANameLeadingOutsideTheCommonFolderIsRefusedAndNothingIsWrittenForIt) {
  const std::vector<std::string> unsafe = {"..\\evil.dll",
                                           "C:\\Windows\\evil.dll",
                                           "C:evil.dll",
                                           "\\racine.dll",
                                           "sous\\..\\..\\x.dll",
                                           "../y.dll",
                                           ".."};
  std::vector<std::string> names = unsafe;
  names.push_back("ok.dll");
  Package(names);

  EXPECT_EQ(InstallCommonFiles(engine_), UpdateOutcome::Failed);
  std::vector<std::string> expected;
  for (const std::string& name : unsafe) {
    expected.push_back("Le fichier " + name);
    expected.push_back("n'est pas installé : son nom n'est pas autorisé.");
    expected.push_back("");
  }
  // Nothing was extracted for the refused names: the one copy takes the first temporary name.
  for (const std::string& line :
       {"Copie de " + Temp(101), std::string("vers ") + kCommon + "ok.dll", std::string()}) {
    expected.push_back(line);
  }
  EXPECT_EQ(Report(), expected);
  EXPECT_EQ(prefix_.ReadFile(std::string(kCommon) + "ok.dll"), Content("ok.dll"));
  for (const char* outside :
       {"C:\\WKorvane\\Common\\evil.dll", "C:\\Windows\\evil.dll", "C:\\evil.dll", "C:\\racine.dll",
        "C:\\WKorvane\\Common\\x.dll", "C:\\WKorvane\\Common\\y.dll"}) {
    EXPECT_FALSE(Exists(outside)) << outside;
  }
}

// A link below the common folder is not written through: a folder of a listed name that is a link
// (to anywhere), or a listed file that is one, fails that file with its two lines, and what the
// link leads to stays as it was. The common folder itself may be a link an administrator made.
TEST_F(CommonFiles, ANameGoingThroughALinkBelowTheFolderIsRefusedAndNothingIsWrittenThrough) {
  test::TempDir outside;
  fs::create_directories(prefix_.Host(kCommon));
  fs::create_directory_symlink(outside.Path(), prefix_.Host(kCommon) / "sub");
  fs::create_directories(prefix_.Host(std::string(kCommon) + "reel"));
  test::WriteHostFile(outside.Path() / "cible.dll", "hors de l'installation");
  fs::create_symlink(outside.Path() / "cible.dll", prefix_.Host(kCommon) / "lien.dll");
  Package({"sub\\x.dll", "sub/y.dll", "lien.dll", "reel\\z.dll", "ok.dll"});

  EXPECT_EQ(InstallCommonFiles(engine_), UpdateOutcome::Failed);
  EXPECT_EQ(Report(), (std::vector<std::string>{
                          std::string("Le fichier ") + kCommon + "sub\\x.dll",
                          "n'est pas installé : son chemin passe par un lien.",
                          "",
                          std::string("Le fichier ") + kCommon + "sub/y.dll",
                          "n'est pas installé : son chemin passe par un lien.",
                          "",
                          std::string("Le fichier ") + kCommon + "lien.dll",
                          "n'est pas installé : son chemin passe par un lien.",
                          "",
                          "Copie de " + Temp(101),
                          std::string("vers ") + kCommon + "reel\\z.dll",
                          "",
                          "Copie de " + Temp(102),
                          std::string("vers ") + kCommon + "ok.dll",
                          "",
                      }));
  EXPECT_EQ(test::FilesBelow(outside.Path()), std::vector<std::string>{"cible.dll"});
  EXPECT_EQ(test::ReadHostFile(outside.Path() / "cible.dll"), "hors de l'installation");
  EXPECT_TRUE(fs::is_symlink(prefix_.Host(kCommon) / "lien.dll"));
  EXPECT_EQ(prefix_.ReadFile(std::string(kCommon) + "reel\\z.dll"), Content("reel\\z.dll"));
}

// The same check as the printing lists': a name fine by itself whose whole path below the folder
// is longer than Windows opens is refused with the name's two lines, nothing written.
TEST_F(CommonFiles, ANameWhoseWholePathIsTooLongIsRefused) {
  const std::string longName = std::string(250, 'a') + ".dll";  // 254 units: fine alone
  Package({longName, "ok.dll"});

  EXPECT_EQ(InstallCommonFiles(engine_), UpdateOutcome::Failed);
  EXPECT_EQ(Report(), (std::vector<std::string>{
                          "Le fichier " + longName, "n'est pas installé : son nom n'est pas autorisé.", "",
                          "Copie de " + Temp(101), std::string("vers ") + kCommon + "ok.dll", ""}));
  EXPECT_EQ(test::FilesBelow(prefix_.Host(kCommon)), std::vector<std::string>{"ok.dll"});
}

// The longest whole path Windows opens is 259 UTF-16 units: installed; one unit more is refused.
TEST_F(CommonFiles, AWholePathOf259UnitsIsInstalledAndOneOf260Refused) {
  const std::size_t folder = std::string(kCommon).size();
  const std::string longest = std::string(259 - folder - 4, 'a') + ".dll";
  const std::string tooLong = std::string(260 - folder - 4, 'b') + ".dll";
  Package({longest, tooLong});

  EXPECT_EQ(InstallCommonFiles(engine_), UpdateOutcome::Failed);
  EXPECT_EQ(Report(), (std::vector<std::string>{
                          "Copie de " + Temp(101), std::string("vers ") + kCommon + longest, "",
                          "Le fichier " + tooLong, "n'est pas installé : son nom n'est pas autorisé.", ""}));
  EXPECT_EQ(test::FilesBelow(prefix_.Host(kCommon)), std::vector<std::string>{longest});
}

TEST_F(CommonFiles, ACommonFolderThatIsItselfALinkIsWrittenThrough) {
  test::TempDir elsewhere;
  fs::create_directories(prefix_.Host("C:\\WKorvane\\Common"));
  fs::create_directory_symlink(elsewhere.Path(), prefix_.Host("C:\\WKorvane\\Common") / "Programs");
  Package({"a.dll"});
  EXPECT_EQ(InstallCommonFiles(engine_), UpdateOutcome::Completed);
  EXPECT_EQ(test::ReadHostFile(elsewhere.Path() / "a.dll"), Content("a.dll"));
}

TEST_F(CommonFiles, AnEmptyOrMissingListCreatesTheFolderAndCompletes) {
  EXPECT_EQ(InstallCommonFiles(engine_), UpdateOutcome::Completed);  // no FileNames.txt
  EXPECT_TRUE(IsExistingFolder(kCommon));
  package_.Add("FileNames.txt", "", kPackageTime);
  EXPECT_EQ(InstallCommonFiles(engine_), UpdateOutcome::Completed);
  EXPECT_TRUE(Report().empty());
}

TEST_F(CommonFiles, WithoutAnInstalledSuiteTheStepFailsSilently) {
  TempPrefix empty;  // no product registered
  Package(kSharedFiles);
  EXPECT_EQ(InstallCommonFiles(engine_), UpdateOutcome::Failed);
  EXPECT_EQ(UpdateCommonPdfLibrary(engine_), UpdateOutcome::NotPerformed);
  EXPECT_TRUE(Report().empty());
  EXPECT_FALSE(Exists("C:\\WKorvane"));
  EXPECT_TRUE(ui_.Boxes().empty());
}

TEST_F(CommonFiles, AFolderThatCannotBeMadeIsReportedUnderTheCommonFilesName) {
  Package({"a.dll"});
  prefix_.WriteFile("C:\\WKorvane\\Common", "un fichier à la place du dossier");
  EXPECT_EQ(InstallCommonFiles(engine_), UpdateOutcome::Failed);
  const auto report = Report();
  ASSERT_GE(report.size(), 2u);
  EXPECT_EQ(report[0], "Une erreur s'est produite lors de la mise à jour du Common_Programs");
  EXPECT_TRUE(report[1].starts_with("Erreur système.  Code : ")) << report[1];
}

TEST_F(CommonFiles, ADamagedListIsReportedUnderTheCommonFilesName) {
  package_.AddRecord("FileNames.txt", {0x78, 0xDA, 0x01, 0x02, 0x03});
  EXPECT_EQ(InstallCommonFiles(engine_), UpdateOutcome::Failed);
  const auto report = Report();
  ASSERT_GE(report.size(), 2u);
  EXPECT_EQ(report[0], "Une erreur s'est produite lors de la mise à jour du Common_Programs");
  EXPECT_FALSE(report[1].empty());
}

TEST_F(CommonFiles, ListedFilesGoIntoAnyFolderSilentlyWhenNotReported) {
  Package({"x.dic", "y.aff"});
  engine_.LoadResourceLines("FileNames.txt", *engine_.FileNames);
  fs::create_directories(prefix_.Host("C:\\Cible"));
  EXPECT_TRUE(InstallListedFiles(engine_, "C:\\Cible", false));
  EXPECT_EQ(prefix_.ReadFile("C:\\Cible\\x.dic"), Content("x.dic"));
  EXPECT_EQ(prefix_.ReadFile("C:\\Cible\\y.aff"), Content("y.aff"));
  EXPECT_TRUE(Report().empty());

  engine_.FileNames->push_back("absent.dll");
  EXPECT_FALSE(InstallListedFiles(engine_, "C:\\Cible\\", false));
  EXPECT_TRUE(Report().empty());  // a failure is not reported here either
  engine_.FileNames->clear();
  EXPECT_TRUE(InstallListedFiles(engine_, "C:\\Cible", true));
}

TEST_F(CommonFiles, ThePdfLibraryIsCopiedAfterAnEmptyLine) {
  Package({"wPDF300A.dll"});
  prefix_.WriteFile(std::string(kCommon) + "wPDF300A.dll", "ancien");
  EXPECT_EQ(UpdateCommonPdfLibrary(engine_), UpdateOutcome::Completed);
  EXPECT_EQ(Report(), (std::vector<std::string>{"", "Copie de " + Temp(101),
                                                std::string("vers ") + kCommon + "wPDF300A.dll", ""}));
  EXPECT_EQ(prefix_.ReadFile(std::string(kCommon) + "wPDF300A.dll"), Content("wPDF300A.dll"));
}

TEST_F(CommonFiles, WithoutThePdfLibraryInThePackageNothingIsReportedOrDone) {
  Package({"french.adm"});
  EXPECT_EQ(UpdateCommonPdfLibrary(engine_), UpdateOutcome::NotPerformed);
  EXPECT_TRUE(Report().empty());
  EXPECT_TRUE(IsExistingFolder(kCommon));  // the folder is made first
}

}  // namespace
}  // namespace kv
