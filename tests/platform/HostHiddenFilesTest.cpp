// Hidden files on the host: a host name beginning with a dot.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/Win32.h"
#include "tests/support/TempPrefix.h"

namespace kv::test {

TEST(HostHiddenFiles, DotNamesCarryTheHiddenAttribute) {
  TempPrefix prefix;
  prefix.WriteFile("C:\\Data\\.secret.fdb", "x");
  prefix.WriteFile("C:\\Data\\.cache\\a.fdb", "x");
  prefix.WriteFile("C:\\Data\\visible.fdb", "x");
  EXPECT_EQ(win::GetFileAttributes("C:\\Data\\.secret.fdb"), win::FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(win::GetFileAttributes("C:\\Data\\.cache"),
            win::FILE_ATTRIBUTE_DIRECTORY | win::FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(win::GetFileAttributes("C:\\Data\\visible.fdb"), win::FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(win::SetFileAttributes("C:\\Data\\.secret.fdb", win::FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(win::GetFileAttributes("C:\\Data\\.secret.fdb"),
            win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_HIDDEN);

  auto found = win::FindFiles("C:\\Data\\*");
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].name, ".cache");
  EXPECT_EQ(found[0].attributes, win::FILE_ATTRIBUTE_DIRECTORY | win::FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(found[1].attributes, win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(found[2].attributes, win::FILE_ATTRIBUTE_NORMAL);
}

}  // namespace kv::test
