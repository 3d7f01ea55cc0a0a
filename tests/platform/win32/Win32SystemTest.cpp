// The Win32 backend's drives, system identity, loader, shell folders, registry and memory maps on
// the real API. The drives are the Wine prefix's, set by scripts/test-windows: C: fixed, D: a
// CD-ROM drive, E: a second fixed drive.
#include <gtest/gtest.h>

#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/MappedFile.h"
#include "formats/Text.h"
#include "platform/Win32.h"
#include "platform/Win32Shell.h"
#include "tests/support/win32/ScratchFolder.h"

namespace kv {
namespace {

using test::ScratchFolder;
using namespace win;

TEST(Win32Drives, TheTypesAreThoseOfTheSystemsDriveConfiguration) {
  EXPECT_EQ(GetDriveType("C:\\"), DRIVE_FIXED);
  EXPECT_EQ(GetDriveType("D:\\"), DRIVE_CDROM);
  EXPECT_EQ(GetDriveType("E:\\"), DRIVE_FIXED);
  EXPECT_EQ(GetDriveType("Q:\\"), DRIVE_NO_ROOT_DIR);
  const DWORD drives = GetLogicalDrives();
  for (char letter : {'C', 'D', 'E'}) EXPECT_NE(drives & (1u << (letter - 'A')), 0u) << letter;
  const std::string strings = GetLogicalDriveStrings();
  EXPECT_NE(strings.find(std::string("C:\\\0D:\\\0E:\\", 11)), std::string::npos);
  const auto fileSystem = GetVolumeFileSystemName("C:\\");
  ASSERT_TRUE(fileSystem);
  EXPECT_FALSE(fileSystem->empty());
}

TEST(Win32System, FoldersAndTheRunningProgramAreTheSystemsOwn) {
  EXPECT_TRUE(text::IEquals(GetWindowsDirectory(), "C:\\windows")) << GetWindowsDirectory();
  EXPECT_TRUE(text::IEquals(GetSystemDirectory(), "C:\\windows\\system32")) << GetSystemDirectory();
  const std::string temp = GetTempPath();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), '\\');
  EXPECT_NE(GetFileAttributes(temp) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_TRUE(text::IEquals(ExtractFileName(GetModuleFileName()), "kv_win32_tests.exe"))
      << GetModuleFileName();
  EXPECT_TRUE(IsProcessRunning(GetCurrentProcessId()));
}

TEST(Win32System, AnErrorsTextIsTheSystemsOwnAndAnUnknownCodeHasNone) {
  const auto text = FormatMessage(ERROR_SHARING_VIOLATION);
  ASSERT_TRUE(text);
  EXPECT_FALSE(text->empty());
  EXPECT_NE(text->back(), '\n');
  EXPECT_FALSE(FormatMessage(0x2FFFFFFF));
  // The error text the program shows carries the code, whatever the system's language.
  EXPECT_EQ(std::string(SystemError::FromCode(ERROR_SHARING_VIOLATION).what())
                .rfind("Erreur système.  Code : 32.\r\n", 0),
            0u);
}

TEST(Win32Loader, LibrariesAreSearchedLoadedAndMissingOnesAnswerErrorOneHundredTwentySix) {
  EXPECT_TRUE(text::IEquals(SearchLibrary("kernel32.dll"), GetSystemDirectory() + "\\kernel32.dll"))
      << SearchLibrary("kernel32.dll");
  EXPECT_EQ(SearchLibrary("gds32.dll"), "");
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibrary("gds32.dll"), 0u);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  const HMODULE kernel = GetModuleHandle("kernel32.dll");
  ASSERT_NE(kernel, 0u);
  const auto sessionOf =
      reinterpret_cast<ProcessIdToSessionIdFunction>(GetProcAddress(kernel, "ProcessIdToSessionId"));
  ASSERT_NE(sessionOf, nullptr);
  DWORD session = 99;
  EXPECT_NE(sessionOf(GetCurrentProcessId(), &session), 0);
  EXPECT_EQ(session, GetSessionInfo().sessionId);
  EXPECT_EQ(GetProcAddress(kernel, "NoSuchEntry"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  const HMODULE shell = LoadLibrary("shell32.dll");
  ASSERT_NE(shell, 0u);
  EXPECT_NE(GetProcAddress(shell, "SHGetFolderPathA"), nullptr);
  EXPECT_TRUE(FreeLibrary(shell));
}

TEST(Win32Shell, SpecialFoldersAreTheShellsAndAnUnknownOneIsRefused) {
  char path[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPath(0, CSIDL_APPDATA, 0, 0, path), S_OK);
  EXPECT_NE(GetFileAttributes(path) & FILE_ATTRIBUTE_DIRECTORY, 0u) << path;
  ItemIdList list;
  ASSERT_EQ(SHGetSpecialFolderLocation(0, CSIDL_FONTS, list), S_OK);
  ASSERT_TRUE(SHGetPathFromIDList(list, path));
  EXPECT_TRUE(text::IEquals(path, GetWindowsDirectory() + "\\Fonts")) << path;
  EXPECT_TRUE(FAILED(SHGetFolderPath(0, 0x7F, 0, 0, path)));
}

TEST(Win32Shell, AShortcutIsSavedAndLoadedBackThroughTheShell) {
  const ScratchFolder folder;
  const std::string target = folder.Write("WinTessivo.exe", "MZ");
  ShellLink link;
  link.SetPath(target);
  link.SetArguments("/x");
  link.SetDescription("Démarrer WinTessivo");
  link.SetWorkingDirectory(folder.Path());
  ASSERT_EQ(link.Save(folder / "WinTessivo.lnk", true), S_OK);
  ShellLink loaded;
  ASSERT_EQ(loaded.Load(folder / "WinTessivo.lnk", STGM_READ), S_OK);
  std::string value;
  loaded.GetPath(value, 0);
  EXPECT_TRUE(text::IEquals(value, target)) << value;
  loaded.GetArguments(value);
  EXPECT_EQ(value, "/x");
  loaded.GetDescription(value);
  EXPECT_EQ(value, "Démarrer WinTessivo");
}

TEST(Win32Registry, KeysAndValuesGoThroughTheRealRegistry) {
  const std::string path = "Software\\KORVANE S.A.\\Test" + std::to_string(GetCurrentProcessId());
  RegKey key;
  ASSERT_EQ(RegKey::Create(HKEY_CURRENT_USER, "\\" + path + "\\", KEY_ALL_ACCESS, key), ERROR_SUCCESS);
  EXPECT_EQ(key.Path(), path);
  ASSERT_EQ(key.SetValue("Filename", RegValue::String("C:\\WKorvane\\Société\\WinTessivo.exe")),
            ERROR_SUCCESS);
  ASSERT_EQ(key.SetValue("Count", RegValue::Dword(0x01020304)), ERROR_SUCCESS);
  ASSERT_EQ(key.SetValue("Moves", RegValue::MultiString({"a", "", "b"})), ERROR_SUCCESS);
  RegKey sub;
  ASSERT_EQ(RegKey::Create(HKEY_CURRENT_USER, path + "\\Genève", KEY_ALL_ACCESS, sub), ERROR_SUCCESS);

  RegKey reader;
  ASSERT_EQ(RegKey::Open(HKEY_CURRENT_USER, path, KEY_READ, reader), ERROR_SUCCESS);
  RegValue value;
  ASSERT_EQ(reader.QueryValue("filename", value), ERROR_SUCCESS);  // names without regard to case
  EXPECT_EQ(value.type, REG_SZ);
  EXPECT_EQ(value.AsString(), "C:\\WKorvane\\Société\\WinTessivo.exe");
  ASSERT_EQ(reader.QueryValue("Count", value), ERROR_SUCCESS);
  EXPECT_EQ(value.data, (std::vector<std::uint8_t>{4, 3, 2, 1}));
  ASSERT_EQ(reader.QueryValue("Moves", value), ERROR_SUCCESS);
  EXPECT_EQ(value.AsMultiString(), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(reader.QueryValue("Missing", value), ERROR_FILE_NOT_FOUND);
  DWORD subKeys = 0, values = 0;
  ASSERT_EQ(reader.QueryInfo(subKeys, values), ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 1u);
  EXPECT_EQ(values, 3u);
  EXPECT_EQ(reader.SubKeyNames(), std::vector<std::string>{"Genève"});
  EXPECT_EQ(reader.ValueNames().size(), 3u);
  // Read access does not write.
  EXPECT_EQ(reader.SetValue("x", RegValue::Dword(1)), ERROR_ACCESS_DENIED);

  EXPECT_EQ(RegKey::DeleteKey(HKEY_CURRENT_USER, path + "\\Genève"), ERROR_SUCCESS);
  EXPECT_EQ(key.DeleteValue("Count"), ERROR_SUCCESS);
  EXPECT_EQ(RegKey::DeleteKey(HKEY_CURRENT_USER, path), ERROR_SUCCESS);
  EXPECT_FALSE(RegKey::Exists(HKEY_CURRENT_USER, path));
  EXPECT_EQ(RegKey::Open(HKEY_CURRENT_USER, path, KEY_READ, reader), ERROR_FILE_NOT_FOUND);
  // A key deleted behind an open RegKey answers Windows' own error.
  EXPECT_EQ(key.QueryValue("Filename", value), ERROR_FILE_NOT_FOUND);
}

// The single-instance guard's kernel object: a name held answers ERROR_ALREADY_EXISTS to the next
// creator until its holder closes it; another name is free.
TEST(Win32Semaphore, ANameIsHeldUntilItsHolderClosesIt) {
  const std::string name = "Korvane_test_" + std::to_string(GetTickCount());
  {
    const NamedSemaphore first = NamedSemaphore::Create(name);
    ASSERT_TRUE(first.IsOpen());
    EXPECT_NE(GetLastError(), ERROR_ALREADY_EXISTS);
    const NamedSemaphore second = NamedSemaphore::Create(name);
    EXPECT_TRUE(second.IsOpen());
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    const NamedSemaphore other = NamedSemaphore::Create(name + "_other");
    EXPECT_NE(GetLastError(), ERROR_ALREADY_EXISTS);
  }
  const NamedSemaphore next = NamedSemaphore::Create(name);
  EXPECT_TRUE(next.IsOpen());
  EXPECT_NE(GetLastError(), ERROR_ALREADY_EXISTS);
}

TEST(Win32MappedFile, AFileIsMappedWhateverItsNameAndAMissingOneAnswersItsCode) {
  const ScratchFolder folder;
  folder.Write("paquet é.bin", "MZ package");
  folder.Write("empty.bin", "");
  const MappedFile file(Utf8Path(folder / "paquet é.bin"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.Data()), file.Size()), "MZ package");
  EXPECT_TRUE(MappedFile(Utf8Path(folder / "empty.bin")).Empty());
  std::uint32_t error = 0;
  EXPECT_FALSE(MappedFile::TryOpen(Utf8Path(folder / "missing.bin"), error));
  EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
  try {
    MappedFile missing(Utf8Path(folder / "missing é.bin"));
    ADD_FAILURE() << "mapped a missing file";
  } catch (const SystemError& e) {
    EXPECT_EQ(e.code(), ERROR_FILE_NOT_FOUND);
    EXPECT_NE(std::string(e.what()).find("missing é.bin"), std::string::npos) << e.what();
  }
  // The mapping does not keep others from the file.
  EXPECT_TRUE(DeleteFile(folder / "paquet é.bin")) << GetLastError();
}

}  // namespace
}  // namespace kv
