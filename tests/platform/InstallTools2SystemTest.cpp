// TWindowsInstaller's system half: folders, operating system, terminal services, rights, addresses,
// drives, restart, the runtime check, shell results, shortcuts and registry chores.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "platform/Errors.h"
#include "platform/InstallTools2.h"
#include "platform/Win32.h"
#include "platform/host/Prefix.h"
#include "tests/support/ErrorText.h"
#include "tests/support/InstallerTestAccess.h"
#include "tests/support/PeFixtures.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::TempPrefix;

using test::RaisedText;

void SetIni(const std::string& section, const std::string& key, const std::string& value) {
  host::Prefix::Current().SetIni(section, key, value);
}

std::string User() {
  return host::Prefix::Current().Ini("system", "user", "");
}

void SetValue(win::HKEY root, const std::string& key, const std::string& name, const win::RegValue& value) {
  win::RegKey k;
  ASSERT_EQ(win::RegKey::Create(root, key, win::KEY_ALL_ACCESS, k), win::ERROR_SUCCESS);
  ASSERT_EQ(k.SetValue(name, value), win::ERROR_SUCCESS);
}

// ---------------------------------------------------------------------------------------------

TEST(InstallerFolders, WindowsAndSystemFolders) {
  TempPrefix prefix;
  prefix.SetSystem("windows", "C:\\WINDOWS");
  prefix.SetSystem("system", "C:\\WINDOWS\\system32");
  TWindowsInstallerTestAccess::Seams seams;
  int probes = 0;
  seams.NameTaken([&](const std::string&) {
    ++probes;
    return false;
  });
  EXPECT_EQ(TWindowsInstaller::GetWinPath(), "C:\\WINDOWS\\");
  EXPECT_EQ(TWindowsInstaller::GetWinSystemPath(), "C:\\WINDOWS\\system32\\");
  EXPECT_EQ(probes, 0);  // inside the Windows folder: no write test
}

TEST(InstallerFolders, ASystemFolderElsewhereIsUsedOnlyWhenWritable) {
  TempPrefix prefix;
  prefix.AddDrive('D', "fixed");
  fs::create_directories(prefix.Host("D:\\Sys"));
  prefix.SetSystem("system", "D:\\Sys");
  EXPECT_EQ(TWindowsInstaller::GetWinSystemPath(), "D:\\Sys\\");
  EXPECT_TRUE(fs::is_empty(prefix.Host("D:\\Sys")));  // the probe file is gone again
  prefix.SetSystem("system", "D:\\Missing");
  EXPECT_EQ(TWindowsInstaller::GetWinSystemPath(), "C:\\Windows\\");
}

TEST(InstallerFolders, AnEmptyWindowsFolderStaysEmpty) {
  TempPrefix prefix;
  prefix.SetSystem("windows", "");
  EXPECT_EQ(TWindowsInstaller::GetWinPath(), "");
}

TEST(InstallerFolders, TheTemporaryFolderComesFromThePrefix) {
  TempPrefix prefix;
  prefix.SetSystem("temp", "C:\\Temp\\Korvane");
  TWindowsInstaller installer("");
  EXPECT_EQ(installer.GetTempPath(), "C:\\Temp\\Korvane\\");
  EXPECT_TRUE(fs::is_directory(prefix.Host("C:\\Temp\\Korvane")));
}

TEST(InstallerFolders, ShellFoldersAreTheUsualOnesAndAreCreated) {
  TempPrefix prefix;
  TWindowsInstaller installer("");
  const std::string profile = "C:\\Users\\" + User() + "\\";
  const std::pair<std::string (TWindowsInstaller::*)(), std::string> cases[] = {
      {&TWindowsInstaller::GetCurrentProfilePath, profile},
      {&TWindowsInstaller::GetMyDocumentsPath, profile + "Documents\\"},
      {&TWindowsInstaller::GetLocalAppDataPath, profile + "AppData\\Local\\"},
      {&TWindowsInstaller::GetUserAppDataPath, profile + "AppData\\Roaming\\"},
      {&TWindowsInstaller::GetAllUsersAppDataPath, "C:\\ProgramData\\"},
      {&TWindowsInstaller::GetCommonDesktopPath, "C:\\Users\\Public\\Desktop\\"},
      {&TWindowsInstaller::GetDesktopPath, profile + "Desktop\\"},
      {&TWindowsInstaller::GetProgramsPath, "C:\\Program Files\\"},
  };
  for (const auto& [getter, expected] : cases) {
    EXPECT_EQ((installer.*getter)(), expected);
    EXPECT_TRUE(fs::is_directory(prefix.Host(expected))) << expected;
  }
}

TEST(InstallerFolders, TheProfileOnNt4IsBelowTheWindowsFolder) {
  TempPrefix prefix;
  prefix.SetSystem("version", "4.0");
  prefix.SetSystem("windows", "C:\\WINNT");
  prefix.SetSystem("user", "jdupont");
  TWindowsInstaller installer("");
  EXPECT_EQ(installer.GetCurrentProfilePath(), "C:\\WINNT\\profiles\\jdupont\\");
  prefix.SetSystem("windows", "");
  EXPECT_EQ(installer.GetCurrentProfilePath(), "");
}

TEST(InstallerFolders, MyDocumentsFallsBackToTheDocumentsFolder) {
  TempPrefix prefix;
  fs::create_directories(prefix.Host("C:\\Docs"));
  SetIni("shellfolders", "5", "C:\\Docs\\");
  SetIni("shellfolders", "12", "C:\\Other");
  TWindowsInstaller installer("");
  EXPECT_EQ(installer.GetMyDocumentsPath(), "C:\\Docs\\");
  SetIni("shellfolders", "5", "");
  EXPECT_EQ(installer.GetMyDocumentsPath(), "C:\\Other\\");
  SetIni("shellfolders", "12", "");
  EXPECT_EQ(installer.GetMyDocumentsPath(), "");
}

TEST(InstallerFolders, ProgramsFolderFallbacks) {
  struct Case {
    const char* label;
    const char* registry;  // ProgramFilesDir, nullptr: missing
    const char* language;
    std::vector<const char*> folders;
    const char* expected;
  };
  const Case cases[] = {
      {"registry", "D:\\Programmes", "1036", {}, "D:\\Programmes\\"},
      {"german",
       nullptr,
       "1031",
       {"C:\\Windows\\Programme", "C:\\Windows\\Program files"},
       "C:\\Windows\\Programme\\"},
      {"swiss german on NT", nullptr, "2055", {"C:\\WinNT\\Programme"}, "C:\\WinNT\\Programme\\"},
      {"german without its folders",
       nullptr,
       "3079",
       {"C:\\WinNT\\Program files"},
       "C:\\WinNT\\Program files\\"},
      {"italian", nullptr, "1040", {"C:\\Windows\\programmi"}, "C:\\Windows\\programmi\\"},
      {"swiss italian on NT", nullptr, "2064", {"C:\\WinNT\\programmi"}, "C:\\WinNT\\programmi\\"},
      {"french",
       nullptr,
       "1036",
       {"C:\\Windows\\Programme", "C:\\Windows\\Program files"},
       "C:\\Windows\\Program files\\"},
      {"nothing", nullptr, "1036", {}, ""},
  };
  for (const Case& c : cases) {
    TempPrefix prefix;
    SetIni("shellfolders", "38", "");
    prefix.SetSystem("language", c.language);
    prefix.AddDrive('D', "fixed");
    if (c.registry) {
      SetValue(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
               win::RegValue::String(c.registry));
    }
    for (const char* folder : c.folders) fs::create_directories(prefix.Host(folder));
    TWindowsInstaller installer("");
    EXPECT_EQ(installer.GetProgramsPath(), c.expected) << c.label;
  }
}

TEST(InstallerFolders, TheUserName) {
  TempPrefix prefix;
  TWindowsInstaller installer("");
  prefix.SetSystem("user", "jdupont");
  EXPECT_EQ(installer.GetUsername(), "jdupont");
  prefix.SetSystem("logged_on", "0");
  EXPECT_EQ(installer.GetUsername(), "?");
  prefix.SetSystem("logged_on", "1");
  prefix.SetSystem("user", std::string(64, 'u'));
  EXPECT_EQ(RaisedText([&] { installer.GetUsername(); }),
            "Erreur système.  Code : 122.\r\nLa zone de données passée à un appel système est insuffisante.");
}

TEST(InstallerFolders, TheBrowserVersion) {
  TempPrefix prefix;
  TWindowsInstaller installer("");
  const char* key = "Software\\Microsoft\\Internet Explorer";
  const auto read = [&] {
    std::array<std::uint16_t, 4> v{9, 9, 9, 9};
    installer.GetIEVersion(v[0], v[1], v[2], v[3]);
    return v;
  };
  EXPECT_EQ(read(), (std::array<std::uint16_t, 4>{0, 0, 0, 0}));  // no key
  SetValue(win::HKEY_LOCAL_MACHINE, key, "Other", win::RegValue::String("x"));
  EXPECT_EQ(read(), (std::array<std::uint16_t, 4>{0, 0, 0, 0}));  // key without value
  const std::pair<const char*, std::array<std::uint16_t, 4>> cases[] = {
      {"9.11.9600.18231", {9, 11, 9600, 18231}},
      {"11.0", {11, 0, 0, 0}},
      {"8.x.1.2.5", {8, 0, 1, 2}},
      {"", {0, 0, 0, 0}},
  };
  for (const auto& [text, expected] : cases) {
    SetValue(win::HKEY_LOCAL_MACHINE, key, "Version", win::RegValue::String(text));
    EXPECT_EQ(read(), expected) << text;
  }
  SetValue(win::HKEY_LOCAL_MACHINE, key, "Version", win::RegValue::Dword(9));
  EXPECT_EQ(RaisedText(read), "Type de données incorrect pour 'Version'");
}

// ---------------------------------------------------------------------------------------------

struct OsCase {
  const char* platform;
  const char* version;
  bool is9x, nt4, xp, w2003, vista, seven;
};

TEST(InstallerOs, VersionTests) {
  const OsCase cases[] = {
      {"9x", "4.10", true, false, false, false, false, false},
      {"nt", "4.0", false, true, false, false, false, false},
      {"nt", "5.0", false, false, false, false, false, false},
      {"nt", "5.1", false, false, true, false, false, false},
      {"nt", "5.2", false, false, false, true, false, false},
      {"nt", "6.0", false, false, false, false, true, false},
      {"nt", "6.1", false, false, false, false, false, true},   // Windows 7
      {"nt", "6.2", false, false, false, false, false, false},  // Windows 8
      {"nt", "6.3", false, false, false, false, false, false},
      {"nt", "10.0", false, false, false, false, false, false},
  };
  for (const OsCase& c : cases) {
    TempPrefix prefix;
    prefix.SetSystem("platform", c.platform);
    prefix.SetSystem("version", c.version);
    const std::string label = std::string(c.platform) + " " + c.version;
    EXPECT_EQ(TWindowsInstaller::IsWindows9X(), c.is9x) << label;
    EXPECT_EQ(TWindowsInstaller::IsWindowsNT4(), c.nt4) << label;
    EXPECT_EQ(TWindowsInstaller::IsWindowsXP(), c.xp) << label;
    EXPECT_EQ(TWindowsInstaller::IsWindows2003(), c.w2003) << label;
    EXPECT_EQ(TWindowsInstaller::IsWindowsVista(), c.vista) << label;
    EXPECT_EQ(TWindowsInstaller::IsWindowsSeven(), c.seven) << label;
  }
}

TEST(InstallerOs, AdministratorRights) {
  TempPrefix prefix;
  prefix.SetSystem("administrator", "0");
  EXPECT_FALSE(TWindowsInstaller::IsAdministrator());
  prefix.SetSystem("administrator", "1");
  EXPECT_TRUE(TWindowsInstaller::IsAdministrator());
  prefix.SetSystem("administrator", "0");
  prefix.SetSystem("platform", "9x");
  EXPECT_TRUE(TWindowsInstaller::IsAdministrator());  // the 9x family has no rights to lack
}

constexpr const char* kProductOptions = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";

TEST(InstallerOs, TerminalServicesFromTheProductSuite) {
  TempPrefix prefix;
  EXPECT_FALSE(TWindowsInstaller::IsTSInstalled());  // no key
  SetValue(win::HKEY_LOCAL_MACHINE, kProductOptions, "ProductType", win::RegValue::String("ServerNT"));
  EXPECT_FALSE(TWindowsInstaller::IsTSInstalled());  // no value
  SetValue(win::HKEY_LOCAL_MACHINE, kProductOptions, "ProductSuite",
           win::RegValue::MultiString({"Small Business"}));
  EXPECT_FALSE(TWindowsInstaller::IsTSInstalled());
  SetValue(win::HKEY_LOCAL_MACHINE, kProductOptions, "ProductSuite",
           win::RegValue::MultiString({"Enterprise", "Terminal Server"}));
  EXPECT_TRUE(TWindowsInstaller::IsTSInstalled());
  SetValue(win::HKEY_LOCAL_MACHINE, kProductOptions, "ProductSuite",
           win::RegValue::Binary(std::vector<std::uint8_t>(129, 'x')));
  EXPECT_EQ(RaisedText([] { TWindowsInstaller::IsTSInstalled(); }),
            "Type de données incorrect pour 'ProductSuite'");
}

TEST(InstallerOs, TerminalSessions) {
  TempPrefix prefix;
  SetValue(win::HKEY_LOCAL_MACHINE, kProductOptions, "ProductSuite",
           win::RegValue::MultiString({"Terminal Server"}));
  prefix.SetSystem("session", "3");
  prefix.SetSystem("remote_session", "0");
  EXPECT_FALSE(TWindowsInstaller::IsRunningInsideTSSession());
  EXPECT_EQ(TWindowsInstaller::GetTSESessionID(), 0);
  prefix.SetSystem("remote_session", "1");
  EXPECT_TRUE(TWindowsInstaller::IsRunningInsideTSSession());
  EXPECT_EQ(TWindowsInstaller::GetTSESessionID(), 3);
  EXPECT_FALSE(TWindowsInstaller::IsOnNT4TS());
  prefix.SetSystem("version", "4.0");
  EXPECT_TRUE(TWindowsInstaller::IsOnNT4TS());
  // A kernel without the session function.
  SetIni("libraries", "kernel32.dll", "");
  EXPECT_EQ(RaisedText([] { TWindowsInstaller::GetTSESessionID(); }), "API CALL ERROR");
  prefix.SetSystem("platform", "9x");
  EXPECT_FALSE(TWindowsInstaller::IsRunningInsideTSSession());
  EXPECT_FALSE(TWindowsInstaller::IsOnNT4TS());
  EXPECT_EQ(TWindowsInstaller::GetTSESessionID(), 0);
}

TEST(InstallerOs, AcrobatReader) {
  TempPrefix prefix;
  EXPECT_FALSE(TWindowsInstaller::IsAcroreadInstalled());
  win::RegKey k;
  ASSERT_EQ(win::RegKey::Create(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Adobe\\Acrobat Distiller",
                                win::KEY_ALL_ACCESS, k),
            win::ERROR_SUCCESS);
  EXPECT_FALSE(TWindowsInstaller::IsAcroreadInstalled());
  ASSERT_EQ(win::RegKey::Create(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Adobe\\Acrobat Reader\\11.0",
                                win::KEY_ALL_ACCESS, k),
            win::ERROR_SUCCESS);
  EXPECT_TRUE(TWindowsInstaller::IsAcroreadInstalled());
  ASSERT_EQ(win::RegKey::DeleteKey(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Adobe\\Acrobat Reader\\11.0"),
            win::ERROR_SUCCESS);
  ASSERT_EQ(win::RegKey::DeleteKey(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Adobe\\Acrobat Reader"),
            win::ERROR_SUCCESS);
  EXPECT_FALSE(TWindowsInstaller::IsAcroreadInstalled());
  ASSERT_EQ(win::RegKey::Create(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Adobe\\Acrobat", win::KEY_ALL_ACCESS, k),
            win::ERROR_SUCCESS);
  EXPECT_TRUE(TWindowsInstaller::IsAcroreadInstalled());
}

// ---------------------------------------------------------------------------------------------

TEST(InstallerDrives, FileSystems) {
  TempPrefix prefix;
  prefix.AddDrive('D', "fixed");
  prefix.AddDrive('E', "cdrom");
  SetIni("filesystems", "D", "FAT32");
  SetIni("filesystems", "F", "NTFS5");
  prefix.AddDrive('F', "fixed");
  EXPECT_TRUE(TWindowsInstaller::IsNTFS('C'));
  EXPECT_TRUE(TWindowsInstaller::IsNTFS('c'));
  EXPECT_FALSE(TWindowsInstaller::IsNTFS('D'));
  EXPECT_FALSE(TWindowsInstaller::IsNTFS('E'));
  EXPECT_TRUE(TWindowsInstaller::IsNTFS('F'));
  EXPECT_EQ(RaisedText([] { TWindowsInstaller::IsNTFS('Q'); }),
            "Erreur système.  Code : 3.\r\nLe chemin d’accès spécifié est introuvable.");
}

TEST(InstallerDrives, FixedDriveLetters) {
  TempPrefix prefix;
  prefix.AddDrive('D', "cdrom");
  prefix.AddDrive('E', "fixed");
  prefix.AddDrive('N', "remote");
  prefix.AddDrive('R', "ramdisk");
  std::vector<std::string> drives{"stale"};
  TWindowsInstaller::GetLocalDriveLetters(drives);
  EXPECT_EQ(drives, (std::vector<std::string>{"c", "e"}));
}

TEST(InstallerDrives, TheCdRomIsSearchedTenTimes) {
  TempPrefix prefix;
  prefix.AddDrive('D', "cdrom");
  prefix.AddDrive('G', "cdrom");
  prefix.WriteFile("C:\\setup\\update.exe", "on a fixed drive: not searched");
  TWindowsInstallerTestAccess::Seams seams;
  std::vector<std::uint32_t> waits;
  seams.Wait([&](std::uint32_t ms) { waits.push_back(ms); });
  char letter = '?';
  EXPECT_FALSE(TWindowsInstaller::FindCDRomLetter("setup\\update.exe", letter));
  EXPECT_EQ(waits, std::vector<std::uint32_t>(10, 1000));
  EXPECT_EQ(letter, '?');

  // The disc is inserted during the third wait.
  waits.clear();
  seams.Wait([&](std::uint32_t ms) {
    waits.push_back(ms);
    if (waits.size() == 3) prefix.WriteFile("G:\\setup\\update.exe", "disc");
  });
  EXPECT_TRUE(TWindowsInstaller::FindCDRomLetter("setup\\update.exe", letter));
  EXPECT_EQ(letter, 'G');
  EXPECT_EQ(waits.size(), 3u);

  // Found at once: no wait; the first drive in order wins.
  waits.clear();
  prefix.WriteFile("D:\\setup\\update.exe", "disc");
  EXPECT_TRUE(TWindowsInstaller::FindCDRomLetter("setup\\update.exe", letter));
  EXPECT_EQ(letter, 'D');
  EXPECT_TRUE(waits.empty());
}

TEST(InstallerNetwork, AddressesFromThePrefixAreAppended) {
  TempPrefix prefix;
  prefix.SetSystem("ip", "10.0.0.5, 192.168.1.20");
  std::vector<std::string> list{"127.0.0.1"};
  TWindowsInstaller::GetLocalIPAdresses(list);
  EXPECT_EQ(list, (std::vector<std::string>{"127.0.0.1", "10.0.0.5", "192.168.1.20"}));
}

TEST(InstallerNetwork, WithoutPrefixAddressesTheMachineResolvesItsOwnName) {
  TempPrefix prefix;
  std::vector<std::string> list;
  TWindowsInstaller::GetLocalIPAdresses(list);
  const std::regex dotted(R"((\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3}))");
  for (const std::string& address : list) EXPECT_TRUE(std::regex_match(address, dotted)) << address;
  EXPECT_LE(list.size(), 256u);
}

TEST(InstallerRestart, ARestartIsOnlyRecorded) {
  TempPrefix prefix;
  const fs::path marker = prefix.Root() / "restart-requested";
  EXPECT_FALSE(fs::exists(marker));
  TWindowsInstaller::RestartComputer();
  EXPECT_TRUE(fs::exists(marker));
  prefix.SetSystem("platform", "9x");
  TWindowsInstaller::RestartComputer();
  std::ifstream in(marker);
  int lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  EXPECT_EQ(lines, 2);
}

// ---------------------------------------------------------------------------------------------

class InstallerVbRuntime : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& [file, version] : kMinimums) Install(file, version);
  }
  void Install(const std::string& file, const test::FileVersionNumbers& version) {
    test::WriteVersionedPe(prefix_, "C:\\Windows\\System32\\" + file, version);
  }

  static inline const std::pair<std::string, test::FileVersionNumbers> kMinimums[] = {
      {"asycfilt.dll", {2, 40, 4275, 1}}, {"comcat.dll", {4, 71, 1460, 1}},
      {"msvbvm60.dll", {6, 0, 89, 64}},   {"oleaut32.dll", {2, 40, 4275, 1}},
      {"olepro32.dll", {5, 0, 4275, 1}},  {"stdole2.tlb", {2, 40, 4275, 1}},
  };
  TempPrefix prefix_;
};

TEST_F(InstallerVbRuntime, TheMinimumVersionsAreEnough) {
  EXPECT_FALSE(TWindowsInstaller::NeedsVBRun60R5());
  Install("msvbvm60.dll", {6, 1, 0, 0});
  Install("comcat.dll", {5, 0, 0, 0});
  EXPECT_FALSE(TWindowsInstaller::NeedsVBRun60R5());
}

TEST_F(InstallerVbRuntime, AnyOlderOrMissingFileNeedsTheRuntime) {
  const std::pair<std::string, test::FileVersionNumbers> older[] = {
      {"msvbvm60.dll", {6, 0, 88, 77}},
      {"asycfilt.dll", {2, 40, 4275, 0}},
      {"olepro32.dll", {4, 99, 9999, 9}},
      {"stdole2.tlb", {2, 39, 65535, 65535}},
  };
  for (const auto& [file, version] : older) {
    Install(file, version);
    EXPECT_TRUE(TWindowsInstaller::NeedsVBRun60R5()) << file;
    SetUp();
  }
  prefix_.WriteFile("C:\\Windows\\System32\\oleaut32.dll", "no version");
  EXPECT_TRUE(TWindowsInstaller::NeedsVBRun60R5());
  SetUp();
  fs::remove(prefix_.Host("C:\\Windows\\System32\\comcat.dll"));
  EXPECT_TRUE(TWindowsInstaller::NeedsVBRun60R5());
}

// ---------------------------------------------------------------------------------------------

TEST(InstallerShell, ShellExecutionResults) {
  const std::pair<int, const char*> texts[] = {
      {0, "The operating system is out of memory or resources."},
      {2, "The specified file was not found."},
      {3, "The specified path was not found."},
      {5, "The operating system denied access to the specified file."},
      {8, "There was not enough memory to complete the operation."},
      {11, "The .EXE file is invalid (non-Win32 .EXE or error in .EXE image)."},
      {26, "A sharing violation occurred."},
      {27, "The filename association is incomplete or invalid."},
      {28, "The DDE transaction could not be completed because the request timed out."},
      {29, "The DDE transaction failed."},
      {30, "The DDE transaction could not be completed because other DDE transactions were being processed."},
      {31, "There is no application associated with the given filename extension."},
      {32, "The specified dynamic-link library was not found."},
  };
  for (const auto& [code, text] : texts) {
    EXPECT_EQ(
        RaisedText([code = code] { TWindowsInstaller::CheckShellExResult("Ouverture du manuel", code); }),
        std::string("Ouverture du manuel\r\n\r\n") + text)
        << code;
  }
  EXPECT_EQ(RaisedText([] { TWindowsInstaller::CheckShellExResult("x", 42); }), "");
  EXPECT_EQ(RaisedText([] { TWindowsInstaller::CheckShellExResult("x", 33); }), "");
  win::SetLastError(win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(RaisedText([] { TWindowsInstaller::CheckShellExResult("x", 15); }),
            "Erreur système.  Code : 5.\r\nAccès refusé.");
}

TEST(InstallerShell, ShortcutsAreReadAndWritten) {
  TempPrefix prefix;
  prefix.WriteFile(
      "C:\\Users\\Public\\Desktop\\TSV.lnk",
      "[ShellLink]\r\nPath=C:\\WKorvane\\TSV\\Programs\\TSV.exe\r\nArguments=/base=1\r\n"
      "Description=Korvane TSV\r\nWorkingDirectory=C:\\WKorvane\\TSV\\Programs\r\n"
      "IconLocation=C:\\WKorvane\\TSV\\Programs\\TSV.exe\r\nIconIndex=2\r\nShowCmd=3\r\nHotKey=1620\r\n");
  TShellLinkInfoRec info;
  ASSERT_TRUE(TWindowsInstaller::GetShellLinkInfo("C:\\Users\\Public\\Desktop\\TSV.lnk", info));
  EXPECT_EQ(info.PathName, "C:\\WKorvane\\TSV\\Programs\\TSV.exe");
  EXPECT_EQ(info.Arguments, "/base=1");
  EXPECT_EQ(info.Description, "Korvane TSV");
  EXPECT_EQ(info.WorkingDirectory, "C:\\WKorvane\\TSV\\Programs");
  EXPECT_EQ(info.IconLocation, "C:\\WKorvane\\TSV\\Programs\\TSV.exe");
  EXPECT_EQ(info.IconIndex, 2);
  EXPECT_EQ(info.ShowCmd, 3);
  EXPECT_EQ(info.HotKey, 1620);

  info.PathName = "D:\\Korvane\\TSV.exe";
  info.Arguments = "";
  info.Description = "Gestion commerciale é";
  info.IconIndex = 0;
  info.HotKey = 0x0654;
  TWindowsInstaller::SetShellLinkInfo("C:\\Users\\Public\\Desktop\\TSV.lnk", info);
  TShellLinkInfoRec back;
  ASSERT_TRUE(TWindowsInstaller::GetShellLinkInfo("C:\\Users\\Public\\Desktop\\TSV.lnk", back));
  EXPECT_EQ(back.PathName, info.PathName);
  EXPECT_EQ(back.Arguments, "");
  EXPECT_EQ(back.Description, info.Description);
  EXPECT_EQ(back.WorkingDirectory, info.WorkingDirectory);
  EXPECT_EQ(back.IconIndex, 0);
  EXPECT_EQ(back.ShowCmd, 3);
  EXPECT_EQ(back.HotKey, 0x0654);
}

TEST(InstallerShell, ShortcutFailures) {
  TempPrefix prefix;
  TShellLinkInfoRec info;
  EXPECT_EQ(RaisedText([&] { TWindowsInstaller::GetShellLinkInfo("C:\\none.lnk", info); }),
            "Le fichier spécifié est introuvable.");
  // Setting needs an existing shortcut: nothing is created.
  EXPECT_EQ(RaisedText([&] { TWindowsInstaller::SetShellLinkInfo("C:\\none.lnk", info); }),
            "Le fichier spécifié est introuvable.");
  EXPECT_FALSE(TWindowsInstaller::FileExists("C:\\none.lnk"));
  prefix.WriteFile("C:\\text.lnk", "just text");
  EXPECT_EQ(RaisedText([&] { TWindowsInstaller::GetShellLinkInfo("C:\\text.lnk", info); }),
            "code : 2147500037");
  prefix.WriteFile("C:\\empty.lnk", "[ShellLink]\r\nPath=\r\n");
  EXPECT_FALSE(TWindowsInstaller::GetShellLinkInfo("C:\\empty.lnk", info));
}

// ---------------------------------------------------------------------------------------------

TEST(InstallerRegistry, ExtractParentPath) {
  struct Case {
    std::string path, parent, child;
  };
  const Case cases[] = {
      {"SOFTWARE\\Vendor\\App", "SOFTWARE\\Vendor\\", "App"},
      {"App", "", "App"},
      {"A\\B\\", "A\\", "B\\"},
      {"\\App", "\\", "App"},
      {"\\", "", "\\"},
      {"", "", ""},
      {"K\\" + std::string(300, 'c'), "K\\", std::string(255, 'c')},
  };
  for (const Case& c : cases) {
    std::string parent = "stale", child = "stale";
    TWindowsInstaller::ExtractParentPath(c.path, parent, child);
    EXPECT_EQ(parent, c.parent) << c.path;
    EXPECT_EQ(child, c.child) << c.path;
  }
}

TEST(InstallerRegistry, OnlyEmptyKeysAreDeleted) {
  TempPrefix prefix;
  const std::string vendor = "SOFTWARE\\Vendor";
  SetValue(win::HKEY_LOCAL_MACHINE, vendor + "\\WithValue", "x", win::RegValue::Dword(1));
  win::RegKey k;
  ASSERT_EQ(win::RegKey::Create(win::HKEY_LOCAL_MACHINE, vendor + "\\WithSub\\Sub", win::KEY_ALL_ACCESS, k),
            win::ERROR_SUCCESS);
  ASSERT_EQ(win::RegKey::Create(win::HKEY_LOCAL_MACHINE, vendor + "\\Empty", win::KEY_ALL_ACCESS, k),
            win::ERROR_SUCCESS);
  TWindowsInstaller::RegDeleteKeyIfEmpty(win::HKEY_LOCAL_MACHINE, vendor + "\\WithValue");
  TWindowsInstaller::RegDeleteKeyIfEmpty(win::HKEY_LOCAL_MACHINE, vendor + "\\WithSub");
  TWindowsInstaller::RegDeleteKeyIfEmpty(win::HKEY_LOCAL_MACHINE, vendor + "\\Empty");
  TWindowsInstaller::RegDeleteKeyIfEmpty(win::HKEY_LOCAL_MACHINE, vendor + "\\Missing");
  EXPECT_TRUE(win::RegKey::Exists(win::HKEY_LOCAL_MACHINE, vendor + "\\WithValue"));
  EXPECT_TRUE(win::RegKey::Exists(win::HKEY_LOCAL_MACHINE, vendor + "\\WithSub\\Sub"));
  EXPECT_FALSE(win::RegKey::Exists(win::HKEY_LOCAL_MACHINE, vendor + "\\Empty"));
  EXPECT_TRUE(win::RegKey::Exists(win::HKEY_LOCAL_MACHINE, vendor));
  // A key that cannot be opened stays, whatever it holds.
  ASSERT_EQ(win::RegKey::Create(win::HKEY_CURRENT_USER, "Software\\Locked", win::KEY_ALL_ACCESS, k),
            win::ERROR_SUCCESS);
  SetIni("registry", "deny", "HKCU\\Software\\Locked");
  TWindowsInstaller::RegDeleteKeyIfEmpty(win::HKEY_CURRENT_USER, "Software\\Locked");
  SetIni("registry", "deny", "");
  EXPECT_TRUE(win::RegKey::Exists(win::HKEY_CURRENT_USER, "Software\\Locked"));
}

}  // namespace
}  // namespace kv
