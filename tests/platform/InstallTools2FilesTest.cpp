// TWindowsInstaller's file half: existence, versions, comparisons, newer-wins copies with backups,
// unique names, shared-use counts, fonts and the folder library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/Errors.h"
#include "platform/InstallTools2.h"
#include "platform/Win32.h"
#include "platform/Win32Shell.h"
#include "platform/host/Prefix.h"
#include "tests/support/ErrorText.h"
#include "tests/support/InstallerTestAccess.h"
#include "tests/support/PeFixtures.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using Access = TWindowsInstallerTestAccess;
using test::FileVersionNumbers;
using test::TempPrefix;

using test::RaisedText;

using test::VersionOf;

// ---------------------------------------------------------------------------------------------

TEST(InstallerPaths, AddBackslashAddsExactlyOne) {
  EXPECT_EQ(TWindowsInstaller::AddBackslash(""), "");
  EXPECT_EQ(TWindowsInstaller::AddBackslash("C:\\Temp"), "C:\\Temp\\");
  EXPECT_EQ(TWindowsInstaller::AddBackslash("C:\\Temp\\"), "C:\\Temp\\");
  EXPECT_EQ(TWindowsInstaller::AddBackslash("C:"), "C:\\");
}

TEST(InstallerPaths, StripTrailingBackslashKeepsDriveRoots) {
  EXPECT_EQ(Access::StripTrailingBackslash("C:\\Temp\\"), "C:\\Temp");
  EXPECT_EQ(Access::StripTrailingBackslash("C:\\"), "C:\\");
  EXPECT_EQ(Access::StripTrailingBackslash("\\"), "\\");
  EXPECT_EQ(Access::StripTrailingBackslash("C:\\Temp"), "C:\\Temp");
  EXPECT_EQ(Access::StripTrailingBackslash("Temp\\\\"), "Temp\\");
}

TEST(InstallerPaths, FileAndFolderExistence) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\Temp\\a.txt", "x");
  struct Case {
    const char* path;
    bool file;
    bool fileOrDir;
  };
  const Case cases[] = {
      {"C:\\Temp\\a.txt", true, true},   {"c:\\TEMP\\A.TXT", true, true}, {"C:\\Temp", false, true},
      {"C:\\Temp\\", false, true},       {"C:\\", false, true},           {"C:\\Temp\\b.txt", false, false},
      {"C:\\Temp\\a.txt\\", true, true}, {"Q:\\Temp", false, false},      {"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TWindowsInstaller::FileExists(c.path), c.file) << c.path;
    EXPECT_EQ(TWindowsInstaller::FileOrDirExists(c.path), c.fileOrDir) << c.path;
  }
}

TEST(InstallerPaths, TheErrorModeComesBackAfterATest) {
  TempPrefix prefix;
  const unsigned original = win::SetErrorMode(win::SEM_NOOPENFILEERRORBOX);
  TWindowsInstaller::FileExists("Q:\\nothing");
  TWindowsInstaller::FileOrDirExists("C:\\");
  EXPECT_EQ(win::SetErrorMode(original), win::SEM_NOOPENFILEERRORBOX);
}

// ---------------------------------------------------------------------------------------------

TEST(InstallerVersions, TheFileVersionIsReadNotTheProductVersion) {
  TempPrefix prefix;
  test::WriteVersionedPe(prefix, "C:\\App\\main.dll", {5, 2, 0, 117});
  std::uint16_t v1 = 0, v2 = 0, v3 = 0, v4 = 0;
  ASSERT_TRUE(TWindowsInstaller::GetFileVersion("C:\\App\\main.dll", v1, v2, v3, v4));
  EXPECT_EQ((FileVersionNumbers{v1, v2, v3, v4}), (FileVersionNumbers{5, 2, 0, 117}));
  EXPECT_EQ(TWindowsInstaller::GetFileVersion("C:\\App\\main.dll"), "5.2.0.117");
  test::WriteVersionedPe(prefix, "C:\\App\\big.dll", {65535, 10, 65535, 0});
  EXPECT_EQ(TWindowsInstaller::GetFileVersion("C:\\App\\big.dll"), "65535.10.65535.0");
}

TEST(InstallerVersions, AFileWithoutVersionLeavesTheNumbersAlone) {
  TempPrefix prefix;
  test::WriteUnversionedPe(prefix, "C:\\App\\plain.dll");
  prefix.WriteFile("C:\\App\\dict.txt", "words");
  for (const char* file : {"C:\\App\\plain.dll", "C:\\App\\dict.txt", "C:\\App\\missing.dll"}) {
    std::uint16_t v1 = 7, v2 = 7, v3 = 7, v4 = 7;
    EXPECT_FALSE(TWindowsInstaller::GetFileVersion(file, v1, v2, v3, v4)) << file;
    EXPECT_EQ((FileVersionNumbers{v1, v2, v3, v4}), (FileVersionNumbers{7, 7, 7, 7})) << file;
    EXPECT_EQ(TWindowsInstaller::GetFileVersion(file), "?") << file;
  }
}

TEST(InstallerVersions, ABareNameIsFoundByTheLibrarySearch) {
  TempPrefix prefix;
  test::WriteVersionedPe(prefix, "C:\\Windows\\System32\\msvbvm60.dll", {6, 0, 97, 82});
  EXPECT_EQ(TWindowsInstaller::GetFileVersion("msvbvm60.dll"), "6.0.97.82");
}

struct VersionCase {
  FileVersionNumbers current;
  FileVersionNumbers candidate;
  int expected;
};

TEST(InstallerCompare, VersionsAreComparedNumberByNumber) {
  TempPrefix prefix;
  TWindowsInstaller installer("");
  const VersionCase cases[] = {
      {{1, 2, 3, 4}, {1, 2, 3, 10}, 1},     {{2, 0, 0, 0}, {1, 99, 0, 0}, -1},
      {{1, 9, 0, 0}, {1, 10, 0, 0}, 1},     {{1, 10, 0, 0}, {1, 9, 0, 0}, -1},
      {{3, 1, 4, 1}, {3, 1, 4, 1}, 0},      {{1, 0, 65535, 0}, {1, 1, 0, 0}, 1},
      {{32768, 0, 0, 0}, {1, 0, 0, 0}, -1},  // unsigned halves: the top bit is no sign
      {{1, 0, 0, 65535}, {1, 0, 1, 0}, 1},
  };
  for (const VersionCase& c : cases) {
    test::WriteVersionedPe(prefix, "C:\\App\\main.dll", c.current);
    test::WriteVersionedPe(prefix, "C:\\New\\main.dll", c.candidate);
    // Times that would say the opposite: versions decide alone.
    ASSERT_TRUE(win::SetFileLastWriteTime("C:\\App\\main.dll", 133500000000000000ULL));
    ASSERT_TRUE(win::SetFileLastWriteTime("C:\\New\\main.dll", 133000000000000000ULL));
    EXPECT_EQ(installer.CompareFileVersion("C:\\App\\main.dll", "C:\\New\\main.dll"), c.expected)
        << c.current[1] << " vs " << c.candidate[1];
    EXPECT_EQ(installer.IsFileNewer("C:\\App\\main.dll", "C:\\New\\main.dll"), c.expected == 1);
  }
}

TEST(InstallerCompare, WithoutTwoVersionsTheLastWriteTimesDecide) {
  TempPrefix prefix;
  TWindowsInstaller installer("");
  const win::FileTime base = 133000000000000000ULL;
  struct Case {
    bool currentVersioned;
    bool newVersioned;
    win::FileTime currentTime;
    win::FileTime newTime;
    int expected;
  };
  const Case cases[] = {
      {false, false, base, base + 10'000'000, 1},
      {false, false, base + 1, base, -1},
      {false, false, base, base, 0},
      {true, false, base, base + 1, 1},
      {true, false, base, base, 0},
      {false, true, base + 5, base, -1},
      {false, true, base, base, 0},
  };
  for (const Case& c : cases) {
    if (c.currentVersioned) {
      test::WriteVersionedPe(prefix, "C:\\App\\dict.dat", {9, 0, 0, 0});
    } else {
      prefix.WriteFile("C:\\App\\dict.dat", "old words");
    }
    if (c.newVersioned) {
      test::WriteVersionedPe(prefix, "C:\\New\\dict.dat", {1, 0, 0, 0});
    } else {
      prefix.WriteFile("C:\\New\\dict.dat", "new words");
    }
    ASSERT_TRUE(win::SetFileLastWriteTime("C:\\App\\dict.dat", c.currentTime));
    ASSERT_TRUE(win::SetFileLastWriteTime("C:\\New\\dict.dat", c.newTime));
    EXPECT_EQ(installer.CompareFileVersion("C:\\App\\dict.dat", "C:\\New\\dict.dat"), c.expected)
        << c.currentVersioned << c.newVersioned << " " << c.currentTime - base << " " << c.newTime - base;
  }
}

TEST(InstallerCompare, AMissingNewFileIsAnErrorEvenWithoutTheCurrentOne) {
  TempPrefix prefix;
  TWindowsInstaller installer("");
  prefix.WriteFile("C:\\App\\main.dll", "x");
  EXPECT_EQ(RaisedText([&] { installer.CompareFileVersion("C:\\App\\main.dll", "C:\\New\\main.dll"); }),
            "File not found : C:\\New\\main.dll");
  EXPECT_EQ(RaisedText([&] { installer.CompareFileVersion("C:\\App\\none.dll", "C:\\New\\none.dll"); }),
            "File not found : C:\\New\\none.dll");
  // A folder is no file.
  std::filesystem::create_directories(prefix.Host("C:\\New\\folder.dll"));
  EXPECT_EQ(RaisedText([&] { installer.IsFileNewer("C:\\App\\main.dll", "C:\\New\\folder.dll"); }),
            "File not found : C:\\New\\folder.dll");
}

TEST(InstallerCompare, AMissingOrFolderCurrentFileTakesTheNewOne) {
  TempPrefix prefix;
  TWindowsInstaller installer("");
  test::WriteVersionedPe(prefix, "C:\\New\\main.dll", {1, 0, 0, 0});
  std::filesystem::create_directories(prefix.Host("C:\\App\\folder.dll"));
  EXPECT_EQ(installer.CompareFileVersion("C:\\App\\main.dll", "C:\\New\\main.dll"), 1);
  EXPECT_EQ(installer.CompareFileVersion("C:\\App\\folder.dll", "C:\\New\\main.dll"), 1);
}

// ---------------------------------------------------------------------------------------------

class InstallerCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteVersionedPe(prefix_, "C:\\App\\main.dll", {1, 0, 0, 0});
    std::filesystem::create_directories(prefix_.Host("C:\\Backup"));
    std::filesystem::create_directories(prefix_.Host("C:\\Lib"));
  }
  // A new main.dll of the given version in its own folder.
  std::string Package(const FileVersionNumbers& version) {
    const std::string path = "C:\\Pkg" + std::to_string(++packages_) + "\\main.dll";
    test::WriteVersionedPe(prefix_, path, version);
    return path;
  }
  std::vector<std::string> BackupFolder() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(prefix_.Host("C:\\Backup")))
      names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempPrefix prefix_;
  TWindowsInstaller installer_{""};
  int packages_ = 0;
};

TEST_F(InstallerCopy, ANewerFileIsBackedUpAndReplaced) {
  bool mustReboot = true;
  const std::string source = Package({1, 0, 0, 1});
  EXPECT_TRUE(installer_.CopyOrReplaceFileIfNewer(source, "C:\\App\\", "C:\\Backup", mustReboot));
  EXPECT_FALSE(mustReboot);
  EXPECT_EQ(VersionOf("C:\\App\\main.dll"), (FileVersionNumbers{1, 0, 0, 1}));
  EXPECT_EQ(BackupFolder(), std::vector<std::string>{"main.dll"});
  EXPECT_EQ(VersionOf("C:\\Backup\\main.dll"), (FileVersionNumbers{1, 0, 0, 0}));
  EXPECT_FALSE(TWindowsInstaller::FileExists("C:\\App\\main000.dll"));
}

TEST_F(InstallerCopy, SuccessiveBackupsAreNumbered) {
  bool mustReboot = false;
  for (std::uint16_t minor = 1; minor <= 3; ++minor) {
    ASSERT_TRUE(
        installer_.CopyOrReplaceFileIfNewer(Package({1, minor, 0, 0}), "C:\\App", "C:\\Backup", mustReboot));
  }
  EXPECT_EQ(BackupFolder(), (std::vector<std::string>{"main.dll", "main.dll_0", "main.dll_1"}));
  EXPECT_EQ(VersionOf("C:\\Backup\\main.dll"), (FileVersionNumbers{1, 0, 0, 0}));
  EXPECT_EQ(VersionOf("C:\\Backup\\main.dll_0"), (FileVersionNumbers{1, 1, 0, 0}));
  EXPECT_EQ(VersionOf("C:\\Backup\\main.dll_1"), (FileVersionNumbers{1, 2, 0, 0}));
  EXPECT_EQ(VersionOf("C:\\App\\main.dll"), (FileVersionNumbers{1, 3, 0, 0}));
}

TEST_F(InstallerCopy, WithoutBackupFolderTheBackupsLieBesideTheTarget) {
  bool mustReboot = false;
  ASSERT_TRUE(installer_.CopyOrReplaceFileIfNewer(Package({2, 0, 0, 0}), "C:\\App", "", mustReboot));
  ASSERT_TRUE(installer_.CopyOrReplaceFileIfNewer(Package({3, 0, 0, 0}), "C:\\App", "", mustReboot));
  EXPECT_EQ(VersionOf("C:\\App\\main.dll_0"), (FileVersionNumbers{1, 0, 0, 0}));
  EXPECT_EQ(VersionOf("C:\\App\\main.dll_1"), (FileVersionNumbers{2, 0, 0, 0}));
  EXPECT_EQ(VersionOf("C:\\App\\main.dll"), (FileVersionNumbers{3, 0, 0, 0}));
  EXPECT_TRUE(BackupFolder().empty());
}

TEST_F(InstallerCopy, AnOlderOrEqualFileTouchesNothing) {
  const std::string before = prefix_.ReadFile("C:\\App\\main.dll");
  for (const FileVersionNumbers& v : {FileVersionNumbers{1, 0, 0, 0}, FileVersionNumbers{0, 9, 9, 9}}) {
    bool mustReboot = true;
    EXPECT_FALSE(installer_.CopyOrReplaceFileIfNewer(Package(v), "C:\\App", "C:\\Backup", mustReboot));
    EXPECT_FALSE(mustReboot);
  }
  EXPECT_EQ(prefix_.ReadFile("C:\\App\\main.dll"), before);
  EXPECT_TRUE(BackupFolder().empty());
}

TEST_F(InstallerCopy, AMissingTargetIsCopiedWithNormalAttributes) {
  const std::string source = Package({1, 0, 0, 0});
  ASSERT_TRUE(win::SetFileAttributes(source, win::FILE_ATTRIBUTE_READONLY));
  bool mustReboot = true;
  EXPECT_TRUE(installer_.CopyOrReplaceFileIfNewer(source, "C:\\Lib", "", mustReboot));
  EXPECT_FALSE(mustReboot);
  EXPECT_EQ(win::GetFileAttributes("C:\\Lib\\main.dll"), win::FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(prefix_.ReadFile("C:\\Lib\\main.dll"), prefix_.ReadFile(source));
}

TEST_F(InstallerCopy, AReadOnlyTargetIsReplaced) {
  ASSERT_TRUE(win::SetFileAttributes("C:\\App\\main.dll", win::FILE_ATTRIBUTE_READONLY));
  bool mustReboot = false;
  ASSERT_TRUE(
      installer_.CopyOrReplaceFileIfNewer(Package({1, 5, 0, 0}), "C:\\App", "C:\\Backup", mustReboot));
  EXPECT_EQ(VersionOf("C:\\App\\main.dll"), (FileVersionNumbers{1, 5, 0, 0}));
  EXPECT_EQ(win::GetFileAttributes("C:\\App\\main.dll"), win::FILE_ATTRIBUTE_NORMAL);
}

TEST_F(InstallerCopy, AMissingBackupFolderIsAnError) {
  const std::string source = Package({2, 0, 0, 0});
  prefix_.WriteFile("C:\\NotAFolder", "x");
  for (const char* backup : {"C:\\NoBackup", "C:\\NotAFolder"}) {
    bool mustReboot = true;
    EXPECT_EQ(RaisedText([&] { installer_.CopyOrReplaceFileIfNewer(source, "C:\\App", backup, mustReboot); }),
              std::string("Backup directry does not exist :\r\n") + backup);
    EXPECT_FALSE(mustReboot);
  }
  EXPECT_EQ(VersionOf("C:\\App\\main.dll"), (FileVersionNumbers{1, 0, 0, 0}));
}

TEST_F(InstallerCopy, AFailedCopyRaisesTheCopyError) {
  bool mustReboot = false;
  const std::string source = Package({2, 0, 0, 0});
  EXPECT_EQ(RaisedText([&] { installer_.CopyOrReplaceFileIfNewer(source, "C:\\Nowhere", "", mustReboot); }),
            "Ne peut pas copier le fichier :\r\n" + source +
                "\r\nDestination :\r\nC:\\Nowhere\\main.dll\r\nLe chemin d’accès spécifié est introuvable.");
}

TEST_F(InstallerCopy, TheSimpleFormCopiesWhenAbsentOrNewerOnly) {
  // Absent: copied.
  installer_.CopyOrReplaceFileIfNewer(Package({1, 0, 0, 0}), "C:\\Lib");
  EXPECT_EQ(VersionOf("C:\\Lib\\main.dll"), (FileVersionNumbers{1, 0, 0, 0}));
  // Older: left alone.
  installer_.CopyOrReplaceFileIfNewer(Package({0, 5, 0, 0}), "C:\\Lib\\");
  EXPECT_EQ(VersionOf("C:\\Lib\\main.dll"), (FileVersionNumbers{1, 0, 0, 0}));
  // Newer over a read-only target: replaced, without any backup or numbered copy.
  ASSERT_TRUE(win::SetFileAttributes("C:\\Lib\\main.dll", win::FILE_ATTRIBUTE_READONLY));
  installer_.CopyOrReplaceFileIfNewer(Package({1, 1, 0, 0}), "C:\\Lib");
  EXPECT_EQ(VersionOf("C:\\Lib\\main.dll"), (FileVersionNumbers{1, 1, 0, 0}));
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(prefix_.Host("C:\\Lib"))) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"main.dll"});
  // A missing folder: the copy error.
  const std::string source = Package({3, 0, 0, 0});
  EXPECT_EQ(RaisedText([&] { installer_.CopyOrReplaceFileIfNewer(source, "C:\\Nowhere"); }),
            "Ne peut pas copier le fichier :\r\n" + source +
                "\r\nDestination :\r\nC:\\Nowhere\\main.dll\r\nLe chemin d’accès spécifié est introuvable.");
}

TEST_F(InstallerCopy, CopyToSystemUsesTheSystemFolderAndItsRules) {
  installer_.CopyToSystem(Package({4, 0, 0, 0}));
  EXPECT_EQ(VersionOf("C:\\Windows\\System32\\main.dll"), (FileVersionNumbers{4, 0, 0, 0}));
  installer_.CopyToSystem(Package({3, 0, 0, 0}));
  EXPECT_EQ(VersionOf("C:\\Windows\\System32\\main.dll"), (FileVersionNumbers{4, 0, 0, 0}));
  installer_.CopyToSystem(Package({5, 0, 0, 0}));
  EXPECT_EQ(VersionOf("C:\\Windows\\System32\\main.dll"), (FileVersionNumbers{5, 0, 0, 0}));
  EXPECT_EQ(VersionOf("C:\\Windows\\System32\\main.dll_0"), (FileVersionNumbers{4, 0, 0, 0}));
}

// ---------------------------------------------------------------------------------------------

TEST(InstallerNames, Base32DigitsEncodeTheLow25Bits) {
  EXPECT_EQ(Access::EncodeBase32Digits(0), "00000");
  EXPECT_EQ(Access::EncodeBase32Digits(31), "0000V");
  EXPECT_EQ(Access::EncodeBase32Digits(32), "00010");
  EXPECT_EQ(Access::EncodeBase32Digits(0x1FFFFFF), "VVVVV");
  EXPECT_EQ(Access::EncodeBase32Digits((1u << 25) | 10), "0000A");
  EXPECT_EQ(Access::EncodeBase32Digits((1u << 20) * 3 + 1), "30001");
}

TEST(InstallerNames, TempNamesStartAfterTheRandomNumberAndSkipTakenOnes) {
  TempPrefix prefix;
  Access::Seams seams;
  seams.RandomStart([] { return 5u; });
  std::filesystem::create_directories(prefix.Host("C:\\Work"));
  EXPECT_EQ(Access::MakeTempNameInDir("C:\\Work", ".tmp"), "C:\\Work\\is-00006.tmp");
  prefix.WriteFile("C:\\Work\\is-00006.tmp", "");
  std::filesystem::create_directories(prefix.Host("C:\\Work\\IS-00007.TMP"));  // a folder takes the name too
  EXPECT_EQ(Access::MakeTempNameInDir("C:\\Work\\", ".tmp"), "C:\\Work\\is-00008.tmp");
  seams.RandomStart([] { return 0x1FFFFFFu; });
  EXPECT_EQ(Access::MakeTempNameInDir("C:\\Work", ""), "C:\\Work\\is-00000");
}

TEST(InstallerNames, TempNamesRunOutAfterEveryOtherNumber) {
  Access::Seams seams;
  seams.RandomStart([] { return 100u; });
  std::uint32_t asked = 0;
  std::string first, last;
  seams.NameTaken([&](const std::string& name) {
    if (asked++ == 0) first = name;
    last = name;
    return true;
  });
  EXPECT_EQ(RaisedText([] { Access::MakeTempNameInDir("C:\\Work", ".tmp"); }), "Error Too many files in dir");
  EXPECT_EQ(asked, (1u << 25) - 1);  // every number but the start
  EXPECT_EQ(first, "C:\\Work\\is-00035.tmp");
  EXPECT_EQ(last, "C:\\Work\\is-00033.tmp");
}

TEST(InstallerNames, NumberedNamesGoBeforeTheExtension) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\App\\main.exe", "x");
  EXPECT_EQ(Access::MakeNumberedFileName("C:\\App\\main.exe"), "C:\\App\\main000.exe");
  prefix.WriteFile("C:\\App\\main000.exe", "x");
  EXPECT_EQ(Access::MakeNumberedFileName("C:\\App\\main.exe"), "C:\\App\\main001.exe");
  EXPECT_EQ(Access::MakeNumberedFileName("C:\\App.v2\\README"), "C:\\App.v2\\README000");
  EXPECT_EQ(Access::MakeNumberedFileName("C:\\App\\lib.tar.gz"), "C:\\App\\lib.tar000.gz");
  // A folder of that name does not take it.
  std::filesystem::create_directories(prefix.Host("C:\\App\\data000.bin"));
  EXPECT_EQ(Access::MakeNumberedFileName("C:\\App\\data.bin"), "C:\\App\\data000.bin");
}

// With 000 to n-1 taken: the last free number, then none.
TEST(InstallerNames, NumberedNamesRunOutAfter999) {
  struct Case {
    int taken;
    const char* expected;  // nullptr: no name left
  };
  for (const Case& c : {Case{999, "C:\\App\\main999.exe"}, Case{1000, nullptr}}) {
    TempPrefix prefix;
    const fs::path folder = prefix.Host("C:\\App");
    fs::create_directories(folder);
    for (int i = 0; i < c.taken; ++i) {
      char digits[8];
      std::snprintf(digits, sizeof digits, "%03d", i % 1000);
      std::ofstream(folder / ("main" + std::string(digits) + ".exe")) << "";
    }
    if (c.expected != nullptr) {
      EXPECT_EQ(Access::MakeNumberedFileName("C:\\App\\main.exe"), c.expected) << c.taken;
    } else {
      EXPECT_EQ(RaisedText([] { Access::MakeNumberedFileName("C:\\App\\main.exe"); }),
                "Cannot find unique filename for\r\nC:\\App\\main.exe")
          << c.taken;
    }
  }
}

TEST(InstallerNames, UniqueFoldersAreNumbered) {
  TempPrefix prefix;
  std::filesystem::create_directories(prefix.Host("C:\\Temp"));
  EXPECT_EQ(TWindowsInstaller::CreateUniqueDir("C:\\Temp", "upd"), "C:\\Temp\\upd000");
  EXPECT_TRUE(fs::is_directory(prefix.Host("C:\\Temp\\upd000")));
  EXPECT_EQ(TWindowsInstaller::CreateUniqueDir("C:\\Temp\\", "upd"), "C:\\Temp\\upd001");
  EXPECT_TRUE(fs::is_directory(prefix.Host("C:\\Temp\\upd001")));
}

TEST(InstallerNames, UniqueFolderErrors) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\File", "x");
  for (const char* path : {"C:\\Nowhere", "C:\\File"}) {
    EXPECT_EQ(RaisedText([&] { TWindowsInstaller::CreateUniqueDir(path, "upd"); }),
              std::string("Directory does not exist :\r\n") + path);
  }
  const fs::path temp = prefix.Host("C:\\Temp");
  for (int i = 0; i < 1000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "upd%03d", i);
    fs::create_directories(temp / name);
  }
  EXPECT_EQ(RaisedText([] { TWindowsInstaller::CreateUniqueDir("C:\\Temp", "upd"); }),
            "Cannot create unique directory in\r\nC:\\Temp");
}

TEST(InstallerNames, AFileInTheWayShowsTheErrorBoxAndAbortsSilently) {
  TempPrefix prefix;
  test::ScriptedUi ui;
  prefix.WriteFile("C:\\Temp\\upd000", "a file, not a folder");
  EXPECT_EQ(RaisedText([] { TWindowsInstaller::CreateUniqueDir("C:\\Temp", "upd"); }), "<silent abort>");
  ASSERT_EQ(ui.Boxes().size(), 1u);
  EXPECT_EQ(ui.Boxes()[0].kind, MessageKind::Error);
  EXPECT_EQ(ui.Boxes()[0].caption, "Erreur");
  EXPECT_EQ(ui.Boxes()[0].text,
            "Cannot create directory :\r\nC:\\Temp\\upd000\r\nImpossible de créer un fichier déjà existant.");
}

// ---------------------------------------------------------------------------------------------

constexpr const char* kSharedDlls = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr const char* kDll = "C:\\Program Files\\Common Files\\Korvane\\pdf.dll";

std::optional<win::RegValue> SharedValue(const std::string& name = kDll) {
  win::RegKey key;
  if (win::RegKey::Open(win::HKEY_LOCAL_MACHINE, kSharedDlls, win::KEY_READ, key) != win::ERROR_SUCCESS) {
    return std::nullopt;
  }
  win::RegValue value;
  if (key.QueryValue(name, value) != win::ERROR_SUCCESS) return std::nullopt;
  return value;
}

void StoreShared(const win::RegValue& value) {
  win::RegKey key;
  ASSERT_EQ(win::RegKey::Create(win::HKEY_LOCAL_MACHINE, kSharedDlls, win::KEY_ALL_ACCESS, key),
            win::ERROR_SUCCESS);
  ASSERT_EQ(key.SetValue(kDll, value), win::ERROR_SUCCESS);
}

struct CountCase {
  const char* label;
  std::optional<win::RegValue> stored;
  win::RegValue expected;
};

TEST(InstallerSharedCounts, IncrementKeepsTheStoredType) {
  using win::RegValue;
  const CountCase cases[] = {
      {"absent", std::nullopt, RegValue::Dword(1)},
      {"dword", RegValue::Dword(5), RegValue::Dword(6)},
      {"binary 1 byte", RegValue::Binary({3}), RegValue::Binary({4, 0, 0, 0})},
      {"binary 2 bytes", RegValue::Binary({0x01, 0x01}), RegValue::Binary({0x02, 0x01, 0, 0})},
      {"binary 4 bytes", RegValue::Binary({0xFF, 0, 0, 0}), RegValue::Binary({0, 1, 0, 0})},
      {"text", RegValue::String("3"), RegValue::String("4")},
      {"negative text", RegValue::String("-2"), RegValue::Dword(1)},
      {"non-numeric text", RegValue::String("trois"), RegValue::Dword(1)},
      {"empty binary", RegValue::Binary({}), RegValue::Dword(1)},
      {"binary 5 bytes", RegValue::Binary({1, 0, 0, 0, 0}), RegValue::Dword(1)},
      {"expandable text", RegValue{win::REG_EXPAND_SZ, RegValue::String("3").data}, RegValue::Dword(1)},
      {"negative dword", RegValue::Dword(0xFFFFFFFE), RegValue::Dword(1)},
      {"short dword", RegValue{win::REG_DWORD, {1, 0}}, RegValue::Dword(1)},
  };
  for (const CountCase& c : cases) {
    TempPrefix prefix;
    if (c.stored) StoreShared(*c.stored);
    TWindowsInstaller::IncrementSharedCount(kDll, true);
    const auto value = SharedValue();
    ASSERT_TRUE(value) << c.label;
    EXPECT_EQ(value->type, c.expected.type) << c.label;
    EXPECT_EQ(value->data, c.expected.data) << c.label;
  }
}

TEST(InstallerSharedCounts, DecrementKeepsTheTypeAndRemovesAtZero) {
  using win::RegValue;
  struct Case {
    const char* label;
    RegValue stored;
    std::optional<RegValue> expected;  // nullopt: removed
  };
  const Case cases[] = {
      {"dword 1", RegValue::Dword(1), std::nullopt},
      {"dword 3", RegValue::Dword(3), RegValue::Dword(2)},
      {"text 2", RegValue::String("2"), RegValue::String("1")},
      {"text 1", RegValue::String("1"), std::nullopt},
      {"binary 2", RegValue::Binary({2}), RegValue::Binary({1, 0, 0, 0})},
      {"unreadable", RegValue::String("x"), RegValue::Dword(1)},
      {"other type", RegValue::MultiString({"2"}), RegValue::Dword(1)},
      {"zero", RegValue::Dword(0), std::nullopt},
  };
  for (const Case& c : cases) {
    TempPrefix prefix;
    StoreShared(c.stored);
    EXPECT_EQ(TWindowsInstaller::DecrementSharedCount(kDll), !c.expected) << c.label;
    const auto value = SharedValue();
    ASSERT_EQ(value.has_value(), c.expected.has_value()) << c.label;
    if (value) {
      EXPECT_EQ(value->type, c.expected->type) << c.label;
      EXPECT_EQ(value->data, c.expected->data) << c.label;
    }
  }
}

TEST(InstallerSharedCounts, DecrementOfAnUnlistedFileWritesNothing) {
  TempPrefix prefix;
  StoreShared(win::RegValue::Dword(4));
  EXPECT_FALSE(TWindowsInstaller::DecrementSharedCount("C:\\Other.dll"));
  win::RegKey key;
  ASSERT_EQ(win::RegKey::Open(win::HKEY_LOCAL_MACHINE, kSharedDlls, win::KEY_READ, key), win::ERROR_SUCCESS);
  EXPECT_EQ(key.ValueNames(), std::vector<std::string>{kDll});
  EXPECT_EQ(SharedValue()->data, win::RegValue::Dword(4).data);
}

TEST(InstallerSharedCounts, IncrementThenDecrementRoundTrips) {
  TempPrefix prefix;
  TWindowsInstaller::IncrementSharedCount(kDll, false);
  TWindowsInstaller::IncrementSharedCount(kDll, false);
  EXPECT_EQ(SharedValue()->data, win::RegValue::Dword(2).data);
  EXPECT_FALSE(TWindowsInstaller::DecrementSharedCount(kDll));
  EXPECT_TRUE(TWindowsInstaller::DecrementSharedCount(kDll));
  EXPECT_FALSE(SharedValue());
  EXPECT_FALSE(TWindowsInstaller::DecrementSharedCount(kDll));
}

TEST(InstallerSharedCounts, RemoveDeletesTheValueWhenPresent) {
  TempPrefix prefix;
  StoreShared(win::RegValue::Dword(7));
  TWindowsInstaller::RemoveSharedCount(kDll);
  EXPECT_FALSE(SharedValue());
  EXPECT_NO_THROW(TWindowsInstaller::RemoveSharedCount(kDll));
}

TEST(InstallerSharedCounts, AKeyThatCannotBeOpenedIsARegistryAccessError) {
  TempPrefix prefix;
  host::Prefix::Current().SetIni("registry", "deny", std::string("HKLM\\") + kSharedDlls);
  const std::string expected =
      "Registry access error : \r\nSoftware\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
  EXPECT_EQ(RaisedText([] { TWindowsInstaller::IncrementSharedCount(kDll, false); }), expected);
  EXPECT_EQ(RaisedText([] { TWindowsInstaller::DecrementSharedCount(kDll); }), expected);
  EXPECT_EQ(RaisedText([] { TWindowsInstaller::RemoveSharedCount(kDll); }), expected);
}

// ---------------------------------------------------------------------------------------------

constexpr const char* kNtFonts = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

std::optional<std::string> RegisteredFont(const char* key, const std::string& name) {
  win::RegKey k;
  if (win::RegKey::Open(win::HKEY_LOCAL_MACHINE, key, win::KEY_READ, k) != win::ERROR_SUCCESS)
    return std::nullopt;
  win::RegValue value;
  if (k.QueryValue(name, value) != win::ERROR_SUCCESS) return std::nullopt;
  return value.AsString();
}

void MakeKey(const char* key) {
  win::RegKey k;
  ASSERT_EQ(win::RegKey::Create(win::HKEY_LOCAL_MACHINE, key, win::KEY_ALL_ACCESS, k), win::ERROR_SUCCESS);
}

TEST(InstallerFonts, AFontIsCopiedRegisteredAndAnnounced) {
  TempPrefix prefix;
  MakeKey(kNtFonts);
  prefix.WriteFile("C:\\Pkg\\Barcode39.ttf", "font bytes");
  const auto resources = host::SessionFontResources().size();
  const unsigned broadcasts = host::FontChangeBroadcasts();
  TWindowsInstaller installer("");
  installer.CopyAndInstallFont("C:\\Pkg\\Barcode39.ttf", "Code 39 (TrueType)");
  EXPECT_EQ(prefix.ReadFile("C:\\Windows\\Fonts\\Barcode39.ttf"), "font bytes");
  EXPECT_EQ(RegisteredFont(kNtFonts, "Code 39 (TrueType)"), "Barcode39.ttf");
  ASSERT_EQ(host::SessionFontResources().size(), resources + 1);
  EXPECT_EQ(host::SessionFontResources().back(), "C:\\Windows\\Fonts\\Barcode39.ttf");
  EXPECT_EQ(host::FontChangeBroadcasts(), broadcasts + 1);
}

TEST(InstallerFonts, AnInstalledFontIsLeftAlone) {
  TempPrefix prefix;
  MakeKey(kNtFonts);
  {
    win::RegKey k;
    ASSERT_EQ(win::RegKey::Open(win::HKEY_LOCAL_MACHINE, kNtFonts, win::KEY_ALL_ACCESS, k),
              win::ERROR_SUCCESS);
    k.SetValue("Code 39 (TrueType)", win::RegValue::String("c39.ttf"));
  }
  prefix.WriteFile("C:\\Pkg\\Barcode39.ttf", "font bytes");
  const unsigned broadcasts = host::FontChangeBroadcasts();
  TWindowsInstaller installer("");
  installer.CopyAndInstallFont("C:\\Pkg\\Barcode39.ttf", "CODE 39");
  EXPECT_FALSE(TWindowsInstaller::FileExists("C:\\Windows\\Fonts\\Barcode39.ttf"));
  EXPECT_EQ(host::FontChangeBroadcasts(), broadcasts);
}

TEST(InstallerFonts, AnExistingFileIsKeptAndAMissingKeyPassedOver) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\Pkg\\Barcode39.ttf", "new bytes");
  prefix.WriteFile("C:\\Windows\\Fonts\\Barcode39.ttf", "old bytes");
  TWindowsInstaller installer("");
  installer.CopyAndInstallFont("C:\\Pkg\\Barcode39.ttf", "Code 39");
  EXPECT_EQ(prefix.ReadFile("C:\\Windows\\Fonts\\Barcode39.ttf"), "old bytes");
  EXPECT_FALSE(win::RegKey::Exists(win::HKEY_LOCAL_MACHINE, kNtFonts));
  EXPECT_EQ(host::SessionFontResources().back(), "C:\\Windows\\Fonts\\Barcode39.ttf");
}

TEST(InstallerFonts, TheOlderPlatformRegistersElsewhereAndWithoutFontsFolderTheSystemFolderServes) {
  TempPrefix prefix;
  prefix.SetSystem("platform", "9x");
  prefix.SetSystem("version", "4.10");
  host::Prefix::Current().SetIni("shellfolders", "20", "");
  const char* key9x = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
  MakeKey(key9x);
  MakeKey(kNtFonts);
  prefix.WriteFile("C:\\Pkg\\Barcode39.ttf", "font bytes");
  TWindowsInstaller installer("");
  installer.CopyAndInstallFont("C:\\Pkg\\Barcode39.ttf", "Code 39");
  EXPECT_EQ(prefix.ReadFile("C:\\Windows\\System32\\Barcode39.ttf"), "font bytes");
  EXPECT_EQ(RegisteredFont(key9x, "Code 39"), "Barcode39.ttf");
  EXPECT_FALSE(RegisteredFont(kNtFonts, "Code 39"));
}

TEST(InstallerFonts, AFontThatCannotBeCopiedRaisesTheSystemError) {
  TempPrefix prefix;
  std::filesystem::create_directories(prefix.Host("C:\\Pkg"));
  TWindowsInstaller installer("");
  EXPECT_EQ(RaisedText([&] { installer.CopyAndInstallFont("C:\\Pkg\\none.ttf", "None"); }),
            "Erreur système.  Code : 2.\r\nLe fichier spécifié est introuvable.");
}

// ---------------------------------------------------------------------------------------------

TEST(InstallerFolderLibrary, LoadedOnFirstLookupAndReleasedByTheDestructor) {
  TempPrefix prefix;
  {
    TWindowsInstaller installer("");
    EXPECT_EQ(win::GetModuleHandle("shfolder.dll"), 0u);
    EXPECT_EQ(installer.GetDesktopPath(),
              "C:\\Users\\" + host::Prefix::Current().Ini("system", "user", "") + "\\Desktop\\");
    EXPECT_NE(win::GetModuleHandle("shfolder.dll"), 0u);
    EXPECT_NE(win::GetModuleHandle("shell32.dll"), 0u);
    installer.GetLocalAppDataPath();  // loaded once
  }
  EXPECT_EQ(win::GetModuleHandle("shfolder.dll"), 0u);
  EXPECT_EQ(win::GetModuleHandle("shell32.dll"), 0u);
}

TEST(InstallerFolderLibrary, TheToolsPathNamesTheFolderLibrary) {
  TempPrefix prefix;
  TWindowsInstaller missing("C:\\Tools\\");
  EXPECT_EQ(RaisedText([&] { missing.GetDesktopPath(); }),
            "Erreur système.  Code : 126.\r\nLe module spécifié est introuvable.\r\n\r\nshfolder.dll");
  // Nothing stays loaded after the failure, so the next lookup tries again.
  EXPECT_EQ(win::GetModuleHandle("shell32.dll"), 0u);
  prefix.WriteFile("C:\\Tools\\shfolder.dll", "library");
  EXPECT_EQ(missing.GetAllUsersAppDataPath(), "C:\\ProgramData\\");
  EXPECT_NE(win::GetModuleHandle("C:\\Tools\\shfolder.dll"), 0u);
}

TEST(InstallerFolderLibrary, MissingLibrariesAndEntries) {
  TempPrefix prefix;
  TWindowsInstaller installer("");
  host::Prefix::Current().SetIni("libraries", "shfolder.dll", "");
  EXPECT_EQ(RaisedText([&] { installer.GetDesktopPath(); }),
            "Failed to get address of SHGetFolderPathA function");
  host::Prefix::Current().SetIni("libraries", "shfolder.dll", "SHGetFolderPathA");
  host::Prefix::Current().SetIni("libraries", "shell32.dll", "missing");
  EXPECT_EQ(RaisedText([&] { installer.GetDesktopPath(); }),
            "Erreur système.  Code : 126.\r\nLe module spécifié est introuvable.");
  host::Prefix::Current().SetIni("libraries", "shell32.dll", "SHGetFolderPathA");
  EXPECT_EQ(installer.GetAllUsersAppDataPath(), "C:\\ProgramData\\");
}

}  // namespace
}  // namespace kv
