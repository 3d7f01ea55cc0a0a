// Part files on Windows: the leftovers of a killed run are cleaned as on Linux, and a file another
// open holds without sharing is left alone.
#include <gtest/gtest.h>

#include "engine/PartFile.h"
#include "platform/FileUtils.h"
#include "platform/Win32.h"
#include "platform/Win32Shell.h"
#include "tests/support/win32/ScratchFolder.h"

namespace kv {
namespace {

using test::ScratchFolder;
using namespace win;

// No process of a Windows machine has this id: ids are multiples of four.
constexpr DWORD kGoneProcess = 0xFFFFFFF1u;

TEST(Win32PartFiles, AbandonedOnesGoAndHeldOrRunningOnesStay) {
  const ScratchFolder folder;
  const std::string abandoned =
      folder.Write(ExtractFileName(PartFileName(folder / "a.dll", kGoneProcess, 1)), "a");
  const std::string held =
      folder.Write(ExtractFileName(PartFileName(folder / "b.dll", kGoneProcess, 2)), "b");
  const std::string running =
      folder.Write(ExtractFileName(PartFileName(folder / "c.dll", GetCurrentProcessId(), 3)), "c");
  const std::string other = folder.Write("~d.dll.~12-1.kvpart.txt", "d");
  auto holder = File::Create(held, GENERIC_READ, 0, OPEN_EXISTING);
  ASSERT_TRUE(holder);

  EXPECT_EQ(RemoveAbandonedPartFiles(folder.Path()), 1);
  EXPECT_EQ(GetFileAttributes(abandoned), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributes(held), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributes(running), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributes(other), INVALID_FILE_ATTRIBUTES);

  holder->Close();
  EXPECT_EQ(RemoveAbandonedPartFiles(folder.Path()), 1);
  EXPECT_EQ(GetFileAttributes(held), INVALID_FILE_ATTRIBUTES);
}

TEST(Win32PartFiles, ANewFileTakesItsTargetsPlaceWrittenThroughOrGoesWithItsObject) {
  const ScratchFolder folder;
  const std::string target = folder.Write("french.adm", "old");
  {
    PartFile part(target);
    ASSERT_TRUE(part.File().Write("new", 3));
    ASSERT_TRUE(part.ReplaceTarget(true)) << GetLastError();
  }
  EXPECT_EQ(folder.Read("french.adm"), "new");
  std::string leftover;
  {
    PartFile part(folder / "other.adm");
    leftover = part.Path();
    EXPECT_NE(GetFileAttributes(leftover), INVALID_FILE_ATTRIBUTES);
  }
  EXPECT_EQ(GetFileAttributes(leftover), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(FindFiles(folder / "*").size(), 1u);
}

}  // namespace
}  // namespace kv
