// The Win32 backend's files and folders on the real API (under Wine in CI): share modes, Windows'
// own error codes, UTF-8 names at the edge, write-through renames.
#include <gtest/gtest.h>

#include "platform/Win32.h"
#include "tests/support/win32/ScratchFolder.h"

namespace kv {
namespace {

using test::ScratchFolder;
using namespace win;

struct ShareCase {
  const char* name;
  DWORD firstAccess, firstShare, secondAccess, secondShare;
  bool secondOpens;
};

class ShareModes : public ::testing::TestWithParam<ShareCase> {};

TEST_P(ShareModes, ASecondOpenIsRefusedWithErrorThirtyTwoWhenTheModesExcludeIt) {
  const ShareCase& c = GetParam();
  const ScratchFolder folder;
  const std::string path = folder.Write("held.dll", "content");
  auto first = File::Create(path, c.firstAccess, c.firstShare, OPEN_EXISTING);
  ASSERT_TRUE(first) << GetLastError();
  auto second = File::Create(path, c.secondAccess, c.secondShare, OPEN_EXISTING);
  EXPECT_EQ(second.has_value(), c.secondOpens);
  if (!c.secondOpens) {
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  }
}

INSTANTIATE_TEST_SUITE_P(Win32, ShareModes,
                         ::testing::Values(ShareCase{"WriterSharingNothingThenReader", GENERIC_WRITE, 0,
                                                     GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
                                           ShareCase{"ReaderSharingReadThenReader", GENERIC_READ,
                                                     FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
                                           ShareCase{"ReaderSharingReadThenWriter", GENERIC_READ,
                                                     FILE_SHARE_READ, GENERIC_WRITE, FILE_SHARE_READ, false},
                                           ShareCase{"ReaderThenReaderDenyingTheFirstsRead", GENERIC_READ,
                                                     FILE_SHARE_READ, GENERIC_READ, 0, false},
                                           ShareCase{"WriterSharingAllThenWriter", GENERIC_WRITE,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_WRITE,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Win32Files, AFileHeldWithoutSharingCanBeNeitherDeletedNorReplaced) {
  const ScratchFolder folder;
  const std::string held = folder.Write("held.dll", "old");
  const std::string fresh = folder.Write("fresh.dll", "new");
  auto holder = File::Create(held, GENERIC_READ, 0, OPEN_EXISTING);
  ASSERT_TRUE(holder);
  EXPECT_FALSE(DeleteFile(held));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  // A rename over a file in use is refused as access denied, by Windows as by Wine.
  EXPECT_FALSE(MoveFileEx(fresh, held, MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(CopyFile(fresh, held, false));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  holder->Close();
  EXPECT_TRUE(MoveFileEx(fresh, held, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) << GetLastError();
  EXPECT_EQ(folder.Read("held.dll"), "new");
}

TEST(Win32Files, MissingFilesAndFoldersAnswerWindowsOwnCodes) {
  const ScratchFolder folder;
  EXPECT_EQ(GetFileAttributes(folder / "missing.dll"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributes(folder / "missing\\x.dll"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(DeleteFile(folder / "missing.dll"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(File::Create(folder / "x.dll", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(FindFiles(folder / "*.dll").empty());
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(CreateDirectory(folder.Path()));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
}

TEST(Win32Files, AccentedNamesGoThroughUtf16AndComeBackAsWritten) {
  const ScratchFolder folder;
  const std::string name = "Société Genève €.txt";
  folder.Write(name, "contenu");
  ASSERT_TRUE(CreateDirectory(folder / "Données"));
  const auto found = FindFiles(folder / "Soci*");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, name);
  EXPECT_EQ(found[0].size, 7u);
  EXPECT_EQ(folder.Read(name), "contenu");
  EXPECT_NE(GetFileAttributes(folder / "Données") & FILE_ATTRIBUTE_DIRECTORY, 0u);
  // Forward slashes are separators too.
  EXPECT_NE(GetFileAttributes(folder.Path() + "Données/../" + name), INVALID_FILE_ATTRIBUTES);
}

TEST(Win32Files, CopyKeepsTheLastWriteTimeAndAReadOnlyTargetIsRefused) {
  const ScratchFolder folder;
  const std::string source = folder.Write("a.dll", "abc");
  const FileTime time = 132000000001234567ULL;  // 100-nanosecond units are kept
  ASSERT_TRUE(SetFileLastWriteTime(source, time));
  ASSERT_TRUE(CopyFile(source, folder / "b.dll", true));
  FileTime copied = 0;
  ASSERT_TRUE(GetFileLastWriteTime(folder / "b.dll", copied));
  EXPECT_EQ(copied, time);
  EXPECT_FALSE(CopyFile(source, folder / "b.dll", true));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  ASSERT_TRUE(SetFileAttributes(folder / "b.dll", FILE_ATTRIBUTE_READONLY));
  EXPECT_NE(GetFileAttributes(folder / "b.dll") & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_FALSE(CopyFile(source, folder / "b.dll", false));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFile(folder / "b.dll"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(MoveFileEx(source, folder / "b.dll", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  auto part = File::Create(folder / "c.dll", GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_TRUE(part);
  EXPECT_FALSE(part->Rename(folder / "b.dll", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(folder.Read("b.dll"), "abc");
}

TEST(Win32Files, AHeldNewFileTakesTheTargetsPlaceThroughItsOwnHandle) {
  const ScratchFolder folder;
  const std::string target = folder.Write("french.adm", "old");
  auto part = File::Create(folder / "~french.adm.kvpart", GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_TRUE(part) << GetLastError();
  ASSERT_TRUE(part->Write("new content", 11));
  EXPECT_EQ(part->Size(), 11u);
  ASSERT_TRUE(part->Flush());
  // Without REPLACE_EXISTING the target stays.
  EXPECT_FALSE(part->Rename(target, MOVEFILE_WRITE_THROUGH));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(part->Rename(target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) << GetLastError();
  // Still held without sharing under its new name.
  EXPECT_FALSE(File::Create(target, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  part->Close();
  EXPECT_EQ(folder.Read("french.adm"), "new content");
  EXPECT_EQ(GetFileAttributes(folder / "~french.adm.kvpart"), INVALID_FILE_ATTRIBUTES);
}

TEST(Win32Files, AMoveAtRestartIsRecordedWhereWindowsKeepsIt) {
  const ScratchFolder folder;
  const std::string source = folder.Write("new.dll", "x");
  ASSERT_TRUE(MoveFileEx(source, folder / "old.dll", MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
      << GetLastError();
  RegKey key;
  ASSERT_EQ(RegKey::Open(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                         KEY_ALL_ACCESS, key),
            ERROR_SUCCESS);
  RegValue value;
  ASSERT_EQ(key.QueryValue("PendingFileRenameOperations", value), ERROR_SUCCESS);
  EXPECT_EQ(value.type, REG_MULTI_SZ);
  const auto entries = value.AsMultiString();
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[entries.size() - 2], "\\??\\" + source);
  EXPECT_EQ(entries.back(), "!\\??\\" + folder / "old.dll");
  EXPECT_EQ(key.DeleteValue("PendingFileRenameOperations"), ERROR_SUCCESS);
}

}  // namespace
}  // namespace kv
