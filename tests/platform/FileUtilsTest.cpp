// Path helpers, hexadecimal text, the in-use test, shell deletion, drive letters, folder dialog,
// the wait, single registry values.
#include <gtest/gtest.h>

#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "platform/host/Prefix.h"
#include "tests/support/PeFixtures.h"
#include "tests/support/ScriptedUi.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

using test::ScriptedUi;
using test::TempPrefix;

TEST(FileUtils, ParentFolder) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\", "C:\\"},
      {"C:\\A", "C:\\"},
      {"C:\\A\\B\\", "C:\\A\\"},
      {"C:\\A\\B", "C:\\A\\"},
      {"C:\\A\\B\\c.txt", "C:\\A\\B\\"},
      {"C:", "C:"},
      {"", ""},
  };
  for (const auto& [path, parent] : cases) EXPECT_EQ(ParentFolder(path), parent) << path;
}

TEST(FileUtils, PathWithDelimiter) {
  EXPECT_EQ(PathWithDelimiter(""), "");
  EXPECT_EQ(PathWithDelimiter("C:\\A"), "C:\\A\\");
  EXPECT_EQ(PathWithDelimiter("C:\\A\\"), "C:\\A\\");
}

TEST(FileUtils, HexToInt) {
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"040C", 1036}, {"04 0c", 1036},           {"040G", 0},    {"123456789", 0},
      {"", 0},        {"FFFFFFFF", 0xFFFFFFFFu}, {"04E4", 1252}, {"  ", 0},
  };
  for (const auto& [textIn, value] : cases) EXPECT_EQ(HexToInt(textIn), value) << textIn;
}

TEST(FileUtils, TickElapsedSurvivesTheCounterWrap) {
  EXPECT_EQ(TickElapsed(100, 150), 50u);
  EXPECT_EQ(TickElapsed(0xFFFFFFF0u, 0x10u), 0x20u);
  EXPECT_EQ(TickElapsed(5, 5), 0u);
}

TEST(FileUtils, DelayProcessesMessagesOnlyForAPositiveWait) {
  ScriptedUi ui;
  Delay(20);
  EXPECT_GT(ui.ProcessEventsCalls(), 0);
  const int before = ui.ProcessEventsCalls();
  Delay(-20);
  EXPECT_EQ(ui.ProcessEventsCalls(), before);
}

TEST(FileUtils, DelayEndsAtATerminationRequest) {
  ScriptedUi ui;
  ui.RequestTermination();
  const auto start = win::GetTickCount();
  Delay(5000);
  EXPECT_LT(TickElapsed(start, win::GetTickCount()), 1000u);
}

TEST(FileUtils, FileInUseErrorTellsMissingFreeAndHeldFiles) {
  TempPrefix prefix;
  EXPECT_EQ(FileInUseError("C:\\missing.dll"), 0u);
  prefix.WriteFile("C:\\A\\main.dll", "x");
  EXPECT_EQ(FileInUseError("C:\\A\\main.dll"), 0u);
  // A folder is no file, although opening it as one fails (access denied).
  EXPECT_FALSE(win::File::Create("C:\\A", win::GENERIC_READ | win::GENERIC_WRITE, 0, win::OPEN_EXISTING));
  EXPECT_EQ(FileInUseError("C:\\A"), 0u);
  EXPECT_EQ(FileInUseError("C:\\A\\"), 0u);
  {
    auto holder =
        win::File::Create("C:\\A\\main.dll", win::GENERIC_READ, win::FILE_SHARE_READ, win::OPEN_EXISTING);
    ASSERT_TRUE(holder);
    EXPECT_EQ(FileInUseError("C:\\A\\main.dll"), win::ERROR_SHARING_VIOLATION);
  }
  EXPECT_EQ(FileInUseError("C:\\A\\main.dll"), 0u);
}

TEST(FileUtils, ShellDeleteRemovesWhatTheMaskMatches) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\T\\Update1.tmp", "x");
  prefix.WriteFile("C:\\T\\update2.TMP", "x");
  prefix.WriteFile("C:\\T\\keep.tmp", "x");
  EXPECT_EQ(ShellFileOperation(win::FO_DELETE, "C:\\T\\Update*.tmp", "", 0,
                               win::FOF_SILENT | win::FOF_NOCONFIRMATION, ""),
            0);
  EXPECT_EQ(win::FindFiles("C:\\T\\*").size(), 1u);
  EXPECT_EQ(win::GetFileAttributes("C:\\T\\keep.tmp"), win::FILE_ATTRIBUTE_NORMAL);
  EXPECT_NE(ShellFileOperation(win::FO_DELETE, "C:\\T\\Update*.tmp", "", 0, 0x14, ""), 0);
}

TEST(FileUtils, DriveLettersInSystemOrder) {
  TempPrefix prefix;
  prefix.AddDrive('N', "remote");
  prefix.AddDrive('D', "cdrom");
  EXPECT_EQ(GetDriveLetters(), "CDN");
}

TEST(FileUtils, BrowseForFolderKeepsTheFolderOnCancel) {
  ScriptedUi ui;
  std::string folder = "C:\\Start";
  ui.AnswerFolder(false);
  EXPECT_FALSE(BrowseForFolder("Choisir", 0, folder, "", BIF_RETURNONLYFSDIRS));
  EXPECT_EQ(folder, "C:\\Start");
  ui.AnswerFolder(true, "D:\\Chosen");
  EXPECT_TRUE(BrowseForFolder("Choisir", 0, folder, "", BIF_RETURNONLYFSDIRS));
  EXPECT_EQ(folder, "D:\\Chosen");
}

TEST(FileUtils, ReadRegistryValueDefaultsAndTypes) {
  TempPrefix prefix;
  const std::string key = "SOFTWARE\\KORVANE S.A.\\Test";
  // A missing key: "0" gives the integer 0, any other default its text.
  EXPECT_EQ(ReadRegistryValue(win::HKEY_LOCAL_MACHINE, key, "V", win::KEY_READ, "0", false),
            RegistryValue(0));
  EXPECT_EQ(ReadRegistryValue(win::HKEY_LOCAL_MACHINE, key, "V", win::KEY_READ, "", false),
            RegistryValue(""));
  EXPECT_EQ(ReadRegistryValue(win::HKEY_LOCAL_MACHINE, key, "V", win::KEY_READ, "abc", false),
            RegistryValue("abc"));
  // May-create: the key appears, the missing value reads as an empty string.
  EXPECT_EQ(ReadRegistryValue(win::HKEY_LOCAL_MACHINE, key, "V", -1, "0", true), RegistryValue(""));
  EXPECT_TRUE(win::RegKey::Exists(win::HKEY_LOCAL_MACHINE, key));

  win::RegKey k;
  ASSERT_EQ(win::RegKey::Open(win::HKEY_LOCAL_MACHINE, key, win::KEY_ALL_ACCESS, k), win::ERROR_SUCCESS);
  ASSERT_EQ(k.SetValue("Count", win::RegValue::Dword(0xFFFFFFFEu)), win::ERROR_SUCCESS);
  ASSERT_EQ(k.SetValue("Blob", win::RegValue::Binary({1, 2})), win::ERROR_SUCCESS);
  EXPECT_EQ(ReadRegistryValue(win::HKEY_LOCAL_MACHINE, key, "Count", win::KEY_READ, "0", false),
            RegistryValue(-2));
  EXPECT_THROW(ReadRegistryValue(win::HKEY_LOCAL_MACHINE, key, "Blob", win::KEY_READ, "0", false), Error);
  // Root 0 is the current user.
  EXPECT_EQ(ReadRegistryValue(0, key, "V", win::KEY_READ, "cu", false), RegistryValue("cu"));
}

TEST(FileUtils, WriteRegistryValueKeepsAnIntegerAnInteger) {
  TempPrefix prefix;
  const std::string key = "SOFTWARE\\KORVANE S.A.\\Test";
  EXPECT_FALSE(WriteRegistryValue(win::HKEY_LOCAL_MACHINE, "", "V", true, RegistryValue("x")));
  EXPECT_FALSE(WriteRegistryValue(win::HKEY_LOCAL_MACHINE, key, "V", false, RegistryValue("x")));
  EXPECT_TRUE(WriteRegistryValue(win::HKEY_LOCAL_MACHINE, key, "V", true, RegistryValue(12)));
  win::RegKey k;
  ASSERT_EQ(win::RegKey::Open(win::HKEY_LOCAL_MACHINE, key, win::KEY_ALL_ACCESS, k), win::ERROR_SUCCESS);
  win::RegValue value;
  ASSERT_EQ(k.QueryValue("V", value), win::ERROR_SUCCESS);
  EXPECT_EQ(value.type, win::REG_SZ);  // a new value is written as a string
  EXPECT_EQ(value.AsString(), "12");
  ASSERT_EQ(k.SetValue("N", win::RegValue::Dword(1)), win::ERROR_SUCCESS);
  EXPECT_TRUE(WriteRegistryValue(win::HKEY_LOCAL_MACHINE, key, "N", false, RegistryValue("42")));
  ASSERT_EQ(k.QueryValue("N", value), win::ERROR_SUCCESS);
  EXPECT_EQ(value.type, win::REG_DWORD);
  EXPECT_EQ(
      std::get<std::int32_t>(ReadRegistryValue(win::HKEY_LOCAL_MACHINE, key, "N", win::KEY_READ, "0", false)),
      42);
  EXPECT_THROW(WriteRegistryValue(win::HKEY_LOCAL_MACHINE, key, "N", false, RegistryValue("douze")), Error);
}

win::VersionResource FirebirdClientVersion() {
  win::VersionResource v;
  v.hasFixedInfo = true;
  v.fileVersionMS = (6u << 16) | 3u;
  v.fileVersionLS = (0u << 16) | 4290u;
  v.translations = {0x04E40409};  // English (United States), code page 1252
  v.stringTables = {{"040904E4",
                     {{"CompanyName", "Firebird Project"},
                      {"FileDescription", "Firebird SQL Server client library"},
                      {"FileVersion", "WI-V6.3.0.4290"},
                      {"InternalName", "gds32"},
                      {"LegalCopyRight", "All Copyright (c) retained by individual contributors"},
                      {"LegalTradeMark", "Firebird"},
                      {"OriginalFileName", "gds32.dll"},
                      {"ProductName", "Firebird SQL Server"},
                      {"ProductVersion", "WI-V3.0.7.33374"},
                      {"Comments", "Société é"}}}};
  return v;
}

TEST(FileVersionRecord, EveryFieldComesFromTheFirstTranslation) {
  test::TempPrefix prefix;
  test::WritePeWithVersion(prefix, "C:\\Windows\\System32\\gds32.dll", FirebirdClientVersion());
  const TFileVersionInfo info = ReadFileVersionInfo("gds32.dll");  // found by the library search
  EXPECT_EQ(info.LangId, "0409");
  EXPECT_EQ(info.LangName, "Anglais (États-Unis)");
  EXPECT_EQ(info.CharSet, "04E4");
  EXPECT_EQ(info.CompanyName, "Firebird Project");
  EXPECT_EQ(info.FileDescription, "Firebird SQL Server client library");
  EXPECT_EQ(info.FileVersion, "WI-V6.3.0.4290");
  EXPECT_EQ(info.InternalName, "gds32");
  EXPECT_EQ(info.LegalCopyRight, "All Copyright (c) retained by individual contributors");
  EXPECT_EQ(info.LegalTradeMark, "Firebird");
  EXPECT_EQ(info.OriginalFileName, "gds32.dll");
  EXPECT_EQ(info.ProductName, "Firebird SQL Server");
  EXPECT_EQ(info.ProductVersion, "WI-V3.0.7.33374");
  EXPECT_EQ(info.Comments, "Société é");
  EXPECT_EQ(GetFileVersionString("gds32.dll"), "WI-V6.3.0.4290");
  EXPECT_EQ(GetFileVersionString("C:\\WINDOWS\\system32\\GDS32.DLL"), "WI-V6.3.0.4290");
}

TEST(FileVersionRecord, FilesWithoutVersionGiveEmptyFieldsAndQuestionMark) {
  test::TempPrefix prefix;
  test::WriteUnversionedPe(prefix, "C:\\A\\plain.dll");
  prefix.WriteFile("C:\\A\\notes.txt", "pas un programme");
  for (const char* file : {"C:\\A\\plain.dll", "C:\\A\\notes.txt", "C:\\A\\missing.dll"}) {
    SCOPED_TRACE(file);
    const TFileVersionInfo info = ReadFileVersionInfo(file);
    for (const std::string* field :
         {&info.LangId, &info.CharSet, &info.CompanyName, &info.FileDescription, &info.FileVersion,
          &info.InternalName, &info.LegalCopyRight, &info.LegalTradeMark, &info.OriginalFileName,
          &info.ProductName, &info.ProductVersion, &info.Comments}) {
      EXPECT_EQ(*field, "");
    }
    EXPECT_EQ(GetFileVersionString(file), "?");
  }
  // A version resource without translation table reads as no version.
  win::VersionResource noTable = FirebirdClientVersion();
  noTable.translations.clear();
  test::WritePeWithVersion(prefix, "C:\\A\\notable.dll", noTable);
  EXPECT_EQ(GetFileVersionString("C:\\A\\notable.dll"), "?");
  EXPECT_EQ(ReadFileVersionInfo("C:\\A\\notable.dll").FileVersion, "");
}

TEST(FileVersionRecord, TheRunningProgramReportsItsBuiltVersion) {
  test::TempPrefix prefix;
  const TFileVersionInfo own = ReadFileVersionInfo("");
  EXPECT_FALSE(own.FileVersion.empty());
  EXPECT_EQ(own.LangId, "040C");
  EXPECT_EQ(own.LangName, "Français (France)");
  EXPECT_EQ(own.CompanyName, "KORVANE S.A.");
  EXPECT_EQ(GetFileVersionString(win::GetModuleFileName()), own.FileVersion);
}

}  // namespace
}  // namespace kv
