// The read-only file mapping: empty files, moves, and the Windows error of each failure.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/Errors.h"
#include "platform/MappedFile.h"
#include "platform/Win32.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

TEST(MappedFiles, MapsFilesAndReportsWindowsErrors) {
  test::TempDir dir;
  const fs::path empty = dir.Path() / "empty";
  std::ofstream(empty).close();
  const MappedFile none(empty);
  EXPECT_TRUE(none.Empty());
  EXPECT_EQ(none.Bytes().size(), 0u);

  std::ofstream(dir.Path() / "f") << "content";
  MappedFile f(dir.Path() / "f");
  EXPECT_EQ(std::string(f.Bytes().begin(), f.Bytes().end()), "content");
  MappedFile moved = std::move(f);
  EXPECT_EQ(moved.Size(), 7u);
  EXPECT_TRUE(f.Empty());

  std::uint32_t error = 0;
  EXPECT_FALSE(MappedFile::TryOpen(dir.Path() / "missing", error));
  EXPECT_EQ(error, win::ERROR_FILE_NOT_FOUND);
  try {
    MappedFile folder(dir.Path());
    FAIL() << "a folder was mapped";
  } catch (const SystemError& e) {
    EXPECT_NE(e.code(), 0u);
    EXPECT_NE(std::string(e.what()).find(dir.Path().string()), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace kv
