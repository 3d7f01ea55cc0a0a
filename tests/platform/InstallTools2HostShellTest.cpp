// The loader and shell operations the installer toolkit uses, as the host backend answers them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/Win32.h"
#include "platform/Win32Shell.h"
#include "platform/host/Prefix.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::TempPrefix;

TEST(HostLibraries, LoadsAreCountedPerLibrary) {
  TempPrefix prefix;
  const win::HMODULE first = win::LoadLibrary("shfolder.dll");
  const win::HMODULE second = win::LoadLibrary("SHFOLDER.DLL");
  ASSERT_NE(first, 0u);
  EXPECT_EQ(first, second);
  EXPECT_NE(win::LoadLibrary("shell32.dll"), first);
  EXPECT_TRUE(win::FreeLibrary(first));
  EXPECT_EQ(win::GetModuleHandle("shfolder.dll"), first);
  EXPECT_TRUE(win::FreeLibrary(second));
  EXPECT_EQ(win::GetModuleHandle("shfolder.dll"), 0u);
  EXPECT_FALSE(win::FreeLibrary(first));
  EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_HANDLE);
  EXPECT_TRUE(win::FreeLibrary(win::GetModuleHandle("shell32.dll")));
}

TEST(HostLibraries, EntriesAndMissingLibraries) {
  TempPrefix prefix;
  const win::HMODULE shfolder = win::LoadLibrary("shfolder.dll");
  ASSERT_NE(shfolder, 0u);
  const auto getFolderPath =
      reinterpret_cast<win::SHGetFolderPathFunction>(win::GetProcAddress(shfolder, "SHGetFolderPathA"));
  ASSERT_NE(getFolderPath, nullptr);
  char path[win::MAX_PATH] = {};
  EXPECT_EQ(getFolderPath(0, win::CSIDL_COMMON_APPDATA, 0, 0, path), win::S_OK);
  EXPECT_STREQ(path, "C:\\ProgramData");
  EXPECT_EQ(win::GetProcAddress(shfolder, "SHGetFolderPathW"), nullptr);
  EXPECT_EQ(win::GetLastError(), win::ERROR_PROC_NOT_FOUND);
  win::FreeLibrary(shfolder);

  EXPECT_EQ(win::LoadLibrary("nothing.dll"), 0u);
  EXPECT_EQ(win::GetLastError(), win::ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(win::LoadLibrary("C:\\Tools\\shfolder.dll"), 0u);
  EXPECT_EQ(win::GetLastError(), win::ERROR_MOD_NOT_FOUND);

  // A library file of the search order loads, but the host runs no foreign code.
  prefix.WriteFile("C:\\Windows\\System32\\custom.dll", "MZ");
  const win::HMODULE custom = win::LoadLibrary("custom.dll");
  ASSERT_NE(custom, 0u);
  EXPECT_EQ(win::GetProcAddress(custom, "SHGetFolderPathA"), nullptr);
  win::FreeLibrary(custom);
}

TEST(HostLibraries, TheKernelKnowsTheSessionOfItsProcesses) {
  TempPrefix prefix;
  prefix.SetSystem("session", "7");
  const auto toSession = reinterpret_cast<win::ProcessIdToSessionIdFunction>(
      win::GetProcAddress(win::GetModuleHandle("kernel32.dll"), "ProcessIdToSessionId"));
  ASSERT_NE(toSession, nullptr);
  win::DWORD session = 0;
  EXPECT_TRUE(toSession(win::GetCurrentProcessId(), &session));
  EXPECT_EQ(session, 7u);
  prefix.SetSystem("platform", "9x");
  EXPECT_EQ(win::GetProcAddress(win::GetModuleHandle("kernel32.dll"), "ProcessIdToSessionId"), nullptr);
}

TEST(HostShellFolders, CreatedOnlyWhenAsked) {
  TempPrefix prefix;
  char path[win::MAX_PATH] = "stale";
  EXPECT_EQ(win::SHGetFolderPath(0, win::CSIDL_DESKTOPDIRECTORY, 0, 0, path), win::S_FALSE);
  EXPECT_STREQ(path, "");
  const std::string desktop = "C:\\Users\\" + host::Prefix::Current().Ini("system", "user", "") + "\\Desktop";
  EXPECT_FALSE(fs::exists(prefix.Host(desktop)));
  EXPECT_EQ(win::SHGetFolderPath(0, win::CSIDL_DESKTOPDIRECTORY | win::CSIDL_FLAG_CREATE, 0, 0, path),
            win::S_OK);
  EXPECT_EQ(path, desktop);
  EXPECT_TRUE(fs::is_directory(prefix.Host(desktop)));
  EXPECT_EQ(win::SHGetFolderPath(0, win::CSIDL_DESKTOPDIRECTORY, 0, 0, path), win::S_OK);
  EXPECT_EQ(win::SHGetFolderPath(0, 99, 0, 0, path), win::E_INVALIDARG);
}

TEST(HostShellFolders, ThePrefixMovesOrRemovesAFolder) {
  TempPrefix prefix;
  host::Prefix::Current().SetIni("shellfolders", "38", "D:\\Programmes\\");
  host::Prefix::Current().SetIni("shellfolders", "26", "");
  prefix.AddDrive('D', "fixed");
  char path[win::MAX_PATH] = {};
  EXPECT_EQ(win::SHGetFolderPath(0, win::CSIDL_PROGRAM_FILES | win::CSIDL_FLAG_CREATE, 0, 0, path),
            win::S_OK);
  EXPECT_STREQ(path, "D:\\Programmes");
  EXPECT_TRUE(win::FAILED(win::SHGetFolderPath(0, win::CSIDL_APPDATA | win::CSIDL_FLAG_CREATE, 0, 0, path)));
  EXPECT_STREQ(path, "");

  win::ItemIdList list;
  EXPECT_EQ(win::SHGetSpecialFolderLocation(0, win::CSIDL_PROGRAM_FILES, list), win::S_OK);
  ASSERT_TRUE(win::SHGetPathFromIDList(list, path));
  EXPECT_STREQ(path, "D:\\Programmes");
  EXPECT_EQ(win::SHGetSpecialFolderLocation(0, win::CSIDL_PERSONAL, list), win::E_FAIL);  // not made yet
}

TEST(HostShell, ShortNamesAndFonts) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\Program Files\\Korvane\\Long Name.dll", "x");
  EXPECT_EQ(win::GetShortPathName("C:\\Program Files\\Korvane\\Long Name.dll"),
            "C:\\Program Files\\Korvane\\Long Name.dll");
  EXPECT_FALSE(win::GetShortPathName("C:\\Program Files\\none.dll"));
  EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);

  win::RegKey fonts;
  ASSERT_EQ(
      win::RegKey::Create(win::HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
                          win::KEY_ALL_ACCESS, fonts),
      win::ERROR_SUCCESS);
  fonts.SetValue("Arial (TrueType)", win::RegValue::String("arial.ttf"));
  fonts.SetValue("Arial Bold (TrueType)", win::RegValue::String("arialbd.ttf"));
  fonts.SetValue("Courier", win::RegValue::String("coure.fon"));
  EXPECT_EQ(win::EnumFontFamilies(), (std::vector<std::string>{"Arial", "Arial Bold", "Courier"}));

  prefix.WriteFile("C:\\Windows\\Fonts\\c39.ttf", "font");
  EXPECT_EQ(win::AddFontResource("C:\\Windows\\Fonts\\c39.ttf"), 1);
  EXPECT_EQ(win::AddFontResource("C:\\Windows\\Fonts\\none.ttf"), 0);
  EXPECT_TRUE(win::RemoveFontResource("C:\\WINDOWS\\FONTS\\C39.TTF"));
  EXPECT_FALSE(win::RemoveFontResource("C:\\Windows\\Fonts\\c39.ttf"));
}

TEST(HostShell, ShortcutsKeepOneFieldPerLine) {
  TempPrefix prefix;
  win::ShellLink link;
  link.SetPath("C:\\App\\app.exe");
  link.SetDescription("two\r\nlines");
  EXPECT_EQ(link.Save("C:\\app.lnk", true), win::E_INVALIDARG);
  EXPECT_FALSE(fs::exists(prefix.Host("C:\\app.lnk")));
  link.SetDescription("one line");
  EXPECT_EQ(link.Save("C:\\app.lnk", true), win::S_OK);
  EXPECT_EQ(link.CurrentFile(), "C:\\app.lnk");
  EXPECT_EQ(
      prefix.ReadFile("C:\\app.lnk"),
      "[ShellLink]\r\nPath=C:\\App\\app.exe\r\nArguments=\r\nDescription=one line\r\nWorkingDirectory=\r\n"
      "IconLocation=\r\nIconIndex=0\r\nShowCmd=1\r\nHotKey=0\r\n");
  win::ShellLink loaded;
  EXPECT_EQ(loaded.Load("C:\\app.lnk", win::STGM_READ), win::S_OK);
  std::string path;
  EXPECT_EQ(loaded.GetPath(path, 0), win::S_OK);
  EXPECT_EQ(path, "C:\\App\\app.exe");
  EXPECT_EQ(loaded.Load("C:\\none.lnk", win::STGM_READ), win::HRESULT_FROM_WIN32(win::ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace kv
