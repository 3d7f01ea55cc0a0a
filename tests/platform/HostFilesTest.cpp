// The host backend's files: path mapping, attributes, times, share modes between processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/Win32.h"
#include "platform/Win32Shell.h"
#include "platform/host/Prefix.h"
#include "tests/support/HolderProcess.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::TempPrefix;

TEST(HostPaths, ComponentsMatchWithoutRegardToCase) {
  TempPrefix prefix;
  const fs::path file = prefix.WriteFile("C:\\WKorvane\\TSV\\Programs\\Main.EXE", "x");
  const auto mapped = host::Prefix::Current().ToHost("c:\\wkorvane\\tsv\\PROGRAMS\\main.exe");
  ASSERT_TRUE(mapped);
  EXPECT_EQ(*mapped, file);
  EXPECT_EQ(win::GetFileAttributes("C:/WKORVANE/tsv/programs/MAIN.exe"), win::FILE_ATTRIBUTE_NORMAL);
}

TEST(HostPaths, MissingComponentsKeepTheirSpellingAndDotsAreResolved) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\Data\\a.txt", "x");
  const auto mapped = host::Prefix::Current().ToHost("C:\\DATA\\New\\..\\Sub\\.\\File.txt");
  ASSERT_TRUE(mapped);
  EXPECT_EQ(*mapped, prefix.Root() / "drives" / "c" / "Data" / "Sub" / "File.txt");
}

TEST(HostPaths, DriveZReachesTheHostAndUncNamesNothing) {
  TempPrefix prefix;
  test::TempDir dir;
  std::ofstream(dir.Path() / "f.txt") << "hello";
  const std::string z = "Z:" + (dir.Path() / "f.txt").string();
  EXPECT_EQ(win::GetFileAttributes(z), win::FILE_ATTRIBUTE_NORMAL);
  std::string expected = z;
  std::replace(expected.begin(), expected.end(), '/', '\\');
  EXPECT_EQ(host::Prefix::Current().ToWindows(dir.Path() / "f.txt"), expected);
  EXPECT_EQ(win::GetFileAttributes("\\\\server\\share\\f.txt"), win::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(win::GetLastError(), win::ERROR_BAD_NETPATH);
  EXPECT_EQ(win::GetFileAttributes("Q:\\f.txt"), win::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(win::GetLastError(), win::ERROR_PATH_NOT_FOUND);
}

TEST(HostPaths, HostPathsBelowADriveReadAsThatDrive) {
  TempPrefix prefix;
  const fs::path file = prefix.WriteFile("C:\\Windows\\System32\\gds32.dll", "x");
  EXPECT_EQ(host::Prefix::Current().ToWindows(file), "C:\\Windows\\System32\\gds32.dll");
  EXPECT_EQ(host::Prefix::Current().ToWindows(prefix.Root() / "drives" / "c"), "C:\\");
}

TEST(HostDrives, TypesComeFromThePrefix) {
  TempPrefix prefix;
  prefix.AddDrive('D', "cdrom");
  prefix.AddDrive('N', "remote");
  EXPECT_EQ(win::GetDriveType("C:\\"), win::DRIVE_FIXED);
  EXPECT_EQ(win::GetDriveType("d:\\"), win::DRIVE_CDROM);
  EXPECT_EQ(win::GetDriveType("N:\\"), win::DRIVE_REMOTE);
  EXPECT_EQ(win::GetDriveType("E:\\"), win::DRIVE_NO_ROOT_DIR);
  EXPECT_EQ(win::GetDriveType("\\\\s"), win::DRIVE_NO_ROOT_DIR);
  EXPECT_EQ(win::GetLogicalDrives(), (1u << 2) | (1u << 3) | (1u << 13));
  EXPECT_EQ(win::GetLogicalDriveStrings(), std::string("C:\\\0D:\\\0N:\\\0", 12));
}

TEST(HostLibrarySearch, BareNamesAreSearchedInTheSystemThenTheWindowsFolder) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\Windows\\System32\\Both.dll", "system");
  prefix.WriteFile("C:\\Windows\\both.dll", "windows");
  prefix.WriteFile("C:\\Windows\\Only.dll", "windows");
  EXPECT_EQ(win::SearchLibrary("BOTH.DLL"), "C:\\Windows\\System32\\Both.dll");
  EXPECT_EQ(win::SearchLibrary("only.dll"), "C:\\Windows\\Only.dll");
  EXPECT_EQ(win::SearchLibrary("C:\\Elsewhere\\x.dll"), "C:\\Elsewhere\\x.dll");
  EXPECT_EQ(win::SearchLibrary("none.dll"), "");
  EXPECT_EQ(win::GetLastError(), win::ERROR_MOD_NOT_FOUND);
}

TEST(HostLibrarySearch, AnEmptyFolderSettingSearchesNoFolder) {
  TempPrefix prefix;
  prefix.SetSystem("windows", "");
  prefix.SetSystem("system", "");
  // A library in the working folder is not one of the folders searched.
  test::TempDir working;
  std::ofstream(working.Path() / "gds32.dll") << "x";
  const fs::path previous = fs::current_path();
  fs::current_path(working.Path());
  const std::string found = win::SearchLibrary("gds32.dll");
  fs::current_path(previous);
  EXPECT_EQ(found, "");
  EXPECT_EQ(win::GetLastError(), win::ERROR_MOD_NOT_FOUND);
}

TEST(HostFiles, ErrorsOfMissingFilesAndFolders) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\A\\x.txt", "x");
  EXPECT_EQ(win::GetFileAttributes("C:\\A\\missing.txt"), win::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(win::GetFileAttributes("C:\\Nowhere\\missing.txt"), win::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(win::GetLastError(), win::ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(win::CreateDirectory("C:\\A"));
  EXPECT_EQ(win::GetLastError(), win::ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(win::CreateDirectory("C:\\No\\Parent"));
  EXPECT_EQ(win::GetLastError(), win::ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(win::RemoveDirectory("C:\\A"));
  EXPECT_EQ(win::GetLastError(), win::ERROR_DIR_NOT_EMPTY);
}

// Links answer as junctions and symbolic links do on Windows: what they lead to, marked as a link.
// A drive mapped to a host folder is no link of that drive.
TEST(HostFiles, LinksAreMarkedAsReparsePointsButDrivesAreNot) {
  TempPrefix prefix;
  test::TempDir outside;
  std::ofstream(outside.Path() / "f.dll") << "x";
  prefix.WriteFile("C:\\A\\real.dll", "x");
  const fs::path a = prefix.Host("C:\\A");
  fs::create_directory_symlink(outside.Path(), a / "folder");
  fs::create_symlink(outside.Path() / "f.dll", a / "file.dll");
  fs::create_symlink(outside.Path() / "gone.dll", a / "dangling.dll");
  std::ofstream(outside.Path() / "ro.dll") << "x";
  fs::permissions(outside.Path() / "ro.dll", fs::perms::owner_write, fs::perm_options::remove);
  fs::create_symlink(outside.Path() / "ro.dll", a / "ro.dll");
  prefix.AddDrive('N', "remote");
  host::Prefix::Current().MapDrive('M', "fixed", outside.Path());

  EXPECT_EQ(win::GetFileAttributes("C:\\A\\real.dll"), win::FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(win::GetFileAttributes("C:\\A\\folder"),
            win::FILE_ATTRIBUTE_DIRECTORY | win::FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(win::GetFileAttributes("C:\\A\\file.dll"), win::FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(win::GetFileAttributes("C:\\A\\ro.dll"),
            win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(win::GetFileAttributes("C:\\A\\folder\\f.dll"), win::FILE_ATTRIBUTE_NORMAL) << "below a link";
  EXPECT_EQ(win::GetFileAttributes("C:\\A\\dangling.dll"), win::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(win::GetFileAttributes("M:\\"), win::FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(win::GetFileAttributes("N:\\"), win::FILE_ATTRIBUTE_DIRECTORY);
}

TEST(HostFiles, ReadOnlyIsTheOwnerWriteBitAndIsEnforced) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\A\\ro.txt", "old");
  prefix.WriteFile("C:\\A\\src.txt", "new");
  ASSERT_TRUE(win::SetFileAttributes("C:\\A\\ro.txt", win::FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(win::GetFileAttributes("C:\\A\\ro.txt"), win::FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(win::DeleteFile("C:\\A\\ro.txt"));
  EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(win::CopyFile("C:\\A\\src.txt", "C:\\A\\ro.txt", false));
  EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(win::File::Create("C:\\A\\ro.txt", win::GENERIC_WRITE, 0, win::OPEN_EXISTING));
  EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
  EXPECT_EQ(prefix.ReadFile("C:\\A\\ro.txt"), "old");
  ASSERT_TRUE(win::SetFileAttributes("C:\\A\\ro.txt", win::FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(win::CopyFile("C:\\A\\src.txt", "C:\\A\\ro.txt", false));
  EXPECT_EQ(prefix.ReadFile("C:\\A\\ro.txt"), "new");
}

TEST(HostFiles, CopyKeepsTheLastWriteTimeToTheHundredNanosecond) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\A\\src.txt", "content");
  const win::FileTime stamp = 133000000001234567ULL;  // an odd number of 100-ns units
  ASSERT_TRUE(win::SetFileLastWriteTime("C:\\A\\src.txt", stamp));
  win::FileTime read = 0;
  ASSERT_TRUE(win::GetFileLastWriteTime("C:\\A\\src.txt", read));
  EXPECT_EQ(read, stamp);
  ASSERT_TRUE(win::CopyFile("C:\\A\\src.txt", "C:\\B\\..\\A\\dst.txt", true));
  ASSERT_TRUE(win::GetFileLastWriteTime("C:\\A\\dst.txt", read));
  EXPECT_EQ(read, stamp);
  EXPECT_FALSE(win::CopyFile("C:\\A\\src.txt", "C:\\A\\dst.txt", true));
  EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_EXISTS);
}

TEST(HostFiles, FindFilesMatchesMasksWithoutRegardToCase) {
  TempPrefix prefix;
  for (const char* name : {"Update1.tmp", "UPDATE22.TMP", "other.tmp", "Update3.txt"}) {
    prefix.WriteFile(std::string("C:\\T\\") + name, "x");
  }
  std::vector<std::string> names;
  for (const auto& f : win::FindFiles("C:\\t\\update*.tmp")) names.push_back(f.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"UPDATE22.TMP", "Update1.tmp"}));
  EXPECT_EQ(win::FindFiles("C:\\T\\*.*").size(), 4u);
  EXPECT_TRUE(win::FindFiles("C:\\T\\none*.tmp").empty());
  EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
}

TEST(HostFiles, AFileHeldExclusivelyByAnotherProcessIsASharingViolation) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\A\\main.dll", "old");
  prefix.WriteFile("C:\\A\\new.dll", "new");
  {
    test::HolderProcess holder("C:\\A\\main.dll");
    ASSERT_TRUE(holder.Holding());
    EXPECT_FALSE(
        win::File::Create("C:\\A\\main.dll", win::GENERIC_READ, win::FILE_SHARE_READ, win::OPEN_EXISTING));
    EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(win::DeleteFile("C:\\A\\main.dll"));
    EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(win::CopyFile("C:\\A\\new.dll", "C:\\A\\main.dll", false));
    EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(win::MoveFileEx("C:\\A\\new.dll", "C:\\A\\main.dll", win::MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
    EXPECT_EQ(prefix.ReadFile("C:\\A\\main.dll"), "old");
  }
  EXPECT_TRUE(win::DeleteFile("C:\\A\\main.dll"));
}

TEST(HostFiles, ShareModesDecideWhichSecondOpenIsAllowed) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\A\\f.txt", "x");
  const win::DWORD R = win::GENERIC_READ, W = win::GENERIC_WRITE;
  const win::DWORD SR = win::FILE_SHARE_READ, SW = win::FILE_SHARE_WRITE, SD = win::FILE_SHARE_DELETE;
  struct Case {
    const char* name;
    win::DWORD firstAccess, firstShare, secondAccess, secondShare;
    bool allowed;
  };
  const Case cases[] = {
      {"two readers sharing read", R, SR, R, SR, true},
      {"reader sharing read, then a writer", R, SR, W, SR | SW, false},
      {"reader sharing read, then a reader not sharing the first's read", R, SR, R, 0, false},
      {"loaded library, then a reader", R, SR | SW, R, SR | SW, true},
      {"loaded library, then a writer sharing everything", R, SR | SW, W, SR | SW | SD, true},
      {"writer sharing read, then a reader sharing write", W, SR, R, SR | SW, true},
      {"writer sharing read, then a reader sharing read only", W, SR, R, SR, false},
      {"exclusive, then a reader sharing everything", R | W, 0, R, SR | SW | SD, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto first = win::File::Create("C:\\A\\f.txt", c.firstAccess, c.firstShare, win::OPEN_EXISTING);
    ASSERT_TRUE(first);
    auto second = win::File::Create("C:\\A\\f.txt", c.secondAccess, c.secondShare, win::OPEN_EXISTING);
    EXPECT_EQ(second.has_value(), c.allowed);
    if (!c.allowed) {
      EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
    }
  }
  EXPECT_TRUE(win::File::Create("C:\\A\\f.txt", R | W, 0, win::OPEN_EXISTING));
}

TEST(HostFiles, AnOpenWithoutShareDeleteRefusesDeletionButNotReading) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\A\\lib.dll", "old");
  auto library = win::File::Create("C:\\A\\lib.dll", win::GENERIC_READ,
                                   win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, win::OPEN_EXISTING);
  ASSERT_TRUE(library);
  EXPECT_TRUE(win::CopyFile("C:\\A\\lib.dll", "C:\\A\\copy.dll", true));
  EXPECT_FALSE(win::DeleteFile("C:\\A\\lib.dll"));
  EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(win::MoveFileEx("C:\\A\\copy.dll", "C:\\A\\lib.dll", win::MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(win::CopyFile("C:\\A\\copy.dll", "C:\\A\\lib.dll", false));
  EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
  library->Close();
  EXPECT_TRUE(win::MoveFileEx("C:\\A\\copy.dll", "C:\\A\\lib.dll", win::MOVEFILE_REPLACE_EXISTING));
}

TEST(HostFiles, MoveAtRestartIsRecordedWhereWindowsRecordsIt) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\A\\main000.dll", "new");
  ASSERT_TRUE(win::MoveFileEx("C:\\A\\main000.dll", "C:\\A\\main.dll",
                              win::MOVEFILE_REPLACE_EXISTING | win::MOVEFILE_DELAY_UNTIL_REBOOT));
  ASSERT_TRUE(win::MoveFileEx("C:\\A\\old.dll", "", win::MOVEFILE_DELAY_UNTIL_REBOOT));
  win::RegKey key;
  ASSERT_EQ(win::RegKey::Open(win::HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                              win::KEY_READ, key),
            win::ERROR_SUCCESS);
  win::RegValue value;
  ASSERT_EQ(key.QueryValue("PendingFileRenameOperations", value), win::ERROR_SUCCESS);
  EXPECT_EQ(value.type, win::REG_MULTI_SZ);
  EXPECT_EQ(value.AsMultiString(),
            (std::vector<std::string>{"\\??\\C:\\A\\main000.dll", "!\\??\\C:\\A\\main.dll",
                                      "\\??\\C:\\A\\old.dll", ""}));
  EXPECT_EQ(prefix.ReadFile("C:\\A\\main000.dll"), "new");
}

}  // namespace
}  // namespace kv
