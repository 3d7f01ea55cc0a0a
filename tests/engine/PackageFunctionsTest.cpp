// The package layer's functions on the current package: whole reads, streams, extraction to a
// file, file times and rich text.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "engine/Package.h"
#include "platform/RichTextControl.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::RandomBytes;
using test::RecordPayload;
using test::ZlibStream;

constexpr win::FileTime kTime = 132567987061234567ULL;     // 2021-02-03 04:05:06.1234567 UTC
constexpr win::FileTime kOldTime = 130000000009876543ULL;  // 2012-12-19, with 100-ns digits

class PackageFunctions : public ::testing::Test {
 protected:
  void SetUp() override {
    package_.Add("UPDATES.TXT", "Common\r\n", kTime);
    package_.Add("EMPTY.DAT", "", kTime);
    package_.Add("BIG.BIN", big_, kTime);
    package_.AddRecord("NODATA.BIN", {});
    package_.AddRecord("DAMAGED.BIN", Damaged());
    package_.AddRecord("SHORT.BIN", ZlibStream(RecordPayload(200000, kTime, RandomBytes(150000, 2)), 9));
    // A time later than any file can carry (2^63).
    package_.AddRecord("ABSURD.BIN", ZlibStream(RecordPayload(5, 0x8000000000000000ULL, "abcde"), 9));
    SetCurrentPackage(&package_);
    folder_ = win::GetTempPath();
  }
  void TearDown() override { SetCurrentPackage(nullptr); }

  std::vector<std::uint8_t> Damaged() const {
    auto record = MakeRecord(big_, kTime);
    record[record.size() * 3 / 4] ^= 0xFF;  // past the first pieces, so part of the content comes out
    return record;
  }

  std::string Win(const std::string& name) const { return folder_ + name; }
  fs::path Host(const std::string& name) const { return prefix_.Host(folder_) / name; }
  std::vector<std::string> FolderFiles() const { return test::FilesBelow(prefix_.Host(folder_)); }

  test::TempPrefix prefix_;
  const std::string big_ = test::WordText(300000, 1) + RandomBytes(200000, 3);
  MemoryPackage package_;
  std::string folder_;
};

TEST_F(PackageFunctions, ReadPackageResourceGivesContentLengthAndTime) {
  const struct {
    const char* query;
    std::string content;
  } cases[] = {{"Updates.txt", "Common\r\n"}, {"empty.dat", ""}, {"big.bin", big_}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    std::vector<std::uint8_t> content{9, 9};
    std::uint32_t length = 1;
    win::FileTime time = 1;
    ASSERT_TRUE(ReadPackageResource(c.query, content, length, time));
    EXPECT_EQ(length, c.content.size());
    EXPECT_EQ(time, kTime);
    EXPECT_TRUE(std::string(content.begin(), content.end()) == c.content);
  }
}

TEST_F(PackageFunctions, MissingResourceIsNoError) {
  std::vector<std::uint8_t> content;
  std::uint32_t length = 0;
  win::FileTime time = 0;
  EXPECT_FALSE(ReadPackageResource("Steps.txt", content, length, time));
  std::ostringstream stream("kept", std::ios::ate);
  EXPECT_FALSE(LoadResourceToStream("Steps.txt", stream));
  EXPECT_EQ(stream.str(), "kept");
  std::string extracted = "stale";
  ExtractResourceToFile("Steps.txt", Win("steps.tmp"), extracted);
  EXPECT_EQ(extracted, "");
  EXPECT_TRUE(FolderFiles().empty());

  SetCurrentPackage(nullptr);
  EXPECT_FALSE(ReadPackageResource("Updates.txt", content, length, time))
      << "no package: every resource missing";
}

TEST_F(PackageFunctions, PresentResourceWithoutDataRaisesTheSystemError) {
  std::vector<std::uint8_t> content;
  std::uint32_t length = 0;
  win::FileTime time = 0;
  try {
    ReadPackageResource("NoData.bin", content, length, time);
    ADD_FAILURE() << "no error raised";
  } catch (const SystemError& e) {
    EXPECT_EQ(e.code(), win::ERROR_RESOURCE_DATA_NOT_FOUND);
  }
  std::string extracted;
  EXPECT_THROW(ExtractResourceToFile("NoData.bin", Win("x.tmp"), extracted), SystemError);
  EXPECT_TRUE(FolderFiles().empty());
}

TEST_F(PackageFunctions, DamagedOrShortRecordRaisesAndFreesTheBuffer) {
  for (const char* name : {"Damaged.bin", "Short.bin", "Absurd.bin"}) {
    SCOPED_TRACE(name);
    std::vector<std::uint8_t> content;
    std::uint32_t length = 0;
    win::FileTime time = 0;
    try {
      ReadPackageResource(name, content, length, time);
      ADD_FAILURE() << "no error raised";
    } catch (const DamagedRecordError& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << "names the resource: " << e.what();
    }
    EXPECT_EQ(content.capacity(), 0u);
    EXPECT_EQ(length, 0u);
  }
}

TEST_F(PackageFunctions, LoadResourceToStreamWritesAtTheStreamsPosition) {
  std::ostringstream stream("head:", std::ios::ate);
  ASSERT_TRUE(LoadResourceToStream("UPDATES.txt", stream));
  EXPECT_EQ(stream.str(), "head:Common\r\n");
  std::ostringstream big;
  ASSERT_TRUE(LoadResourceToStream("Big.bin", big));
  EXPECT_TRUE(big.str() == big_);
  std::ostringstream damaged;
  EXPECT_THROW(LoadResourceToStream("Short.bin", damaged), DamagedRecordError);
}

TEST_F(PackageFunctions, ExtractedFileHoldsTheContentAndTheRecordsTime) {
  const struct {
    const char* resource;
    std::string content;
  } cases[] = {{"Updates.txt", "Common\r\n"}, {"Empty.dat", ""}, {"Big.bin", big_}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.resource);
    const std::string target = Win(std::string("Update") + c.resource + ".tmp");
    std::string extracted;
    ExtractResourceToFile(c.resource, target, extracted);
    EXPECT_EQ(extracted, target);
    const fs::path host = Host(std::string("Update") + c.resource + ".tmp");
    EXPECT_TRUE(test::ReadHostFile(host) == c.content);
    EXPECT_EQ(test::HostLastWriteTime(host), kTime) << "to the 100-ns unit, not the time of extraction";
    win::FileTime seen = 0;
    ASSERT_TRUE(win::GetFileLastWriteTime(target, seen));
    EXPECT_EQ(seen, kTime);
  }
  EXPECT_EQ(FolderFiles().size(), std::size(cases)) << "no temporary file left";
}

TEST_F(PackageFunctions, ExtractionReplacesAnExistingTarget) {
  test::WriteHostFile(Host("Update1.tmp"), std::string(1000000, 'o'));
  std::string extracted;
  ExtractResourceToFile("Updates.txt", Win("Update1.tmp"), extracted);
  EXPECT_EQ(test::ReadHostFile(Host("Update1.tmp")), "Common\r\n");
  EXPECT_EQ(FolderFiles(), std::vector<std::string>{"Update1.tmp"});
}

TEST_F(PackageFunctions, FailedExtractionLeavesNoPartialFileAndTheOldTargetWhole) {
  const std::string old = "previous content of the target";
  for (const char* name : {"Damaged.bin", "Short.bin", "Absurd.bin"}) {
    for (const bool targetExists : {false, true}) {
      SCOPED_TRACE(std::string(name) + (targetExists ? ", over an old target" : ", no old target"));
      fs::remove_all(prefix_.Host(folder_));
      fs::create_directories(prefix_.Host(folder_));
      if (targetExists) {
        test::WriteHostFile(Host("Update2.tmp"), old);
        test::SetHostLastWriteTime(Host("Update2.tmp"), kOldTime);
      }
      std::string extracted = "stale";
      EXPECT_THROW(ExtractResourceToFile(name, Win("Update2.tmp"), extracted), DamagedRecordError);
      EXPECT_EQ(extracted, "");
      if (targetExists) {
        EXPECT_EQ(FolderFiles(), std::vector<std::string>{"Update2.tmp"});
        EXPECT_EQ(test::ReadHostFile(Host("Update2.tmp")), old);
        EXPECT_EQ(test::HostLastWriteTime(Host("Update2.tmp")), kOldTime);
      } else {
        EXPECT_TRUE(FolderFiles().empty());
      }
    }
  }
}

TEST_F(PackageFunctions, ExtractionThatCannotWriteRaisesTheSystemError) {
  std::string extracted;
  try {
    ExtractResourceToFile("Updates.txt", Win("NoSuchFolder\\Update3.tmp"), extracted);
    ADD_FAILURE() << "no error raised";
  } catch (const SystemError& e) {
    EXPECT_EQ(e.code(), win::ERROR_PATH_NOT_FOUND);
  }

  test::WriteHostFile(Host("Update4.tmp"), "read-only");
  ASSERT_TRUE(win::SetFileAttributes(Win("Update4.tmp"), win::FILE_ATTRIBUTE_READONLY));
  try {
    ExtractResourceToFile("Updates.txt", Win("Update4.tmp"), extracted);
    ADD_FAILURE() << "no error raised";
  } catch (const SystemError& e) {
    EXPECT_EQ(e.code(), win::ERROR_ACCESS_DENIED);
    EXPECT_NE(std::string(e.what()).find("Update4.tmp"), std::string::npos) << e.what();
  }
  EXPECT_EQ(extracted, "");
  EXPECT_EQ(test::ReadHostFile(Host("Update4.tmp")), "read-only");
  EXPECT_EQ(FolderFiles(), std::vector<std::string>{"Update4.tmp"});
}

TEST_F(PackageFunctions, SetFileModifiedTimeSetsOnlyTheLastWriteTime) {
  EXPECT_FALSE(SetFileModifiedTime(Win("missing.txt"), kTime));
  EXPECT_FALSE(SetFileModifiedTime(folder_, kTime)) << "a folder is not a file";

  const fs::path host = Host("dated.txt");
  test::WriteHostFile(host, "x");
  const timespec access[2] = {{1000000000, 5}, {0, UTIME_OMIT}};
  ASSERT_EQ(::utimensat(AT_FDCWD, host.c_str(), access, 0), 0);
  EXPECT_TRUE(SetFileModifiedTime(Win("dated.txt"), kTime));
  EXPECT_EQ(test::HostLastWriteTime(host), kTime);
  struct stat st {};
  ASSERT_EQ(::stat(host.c_str(), &st), 0);
  EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
  EXPECT_EQ(st.st_atim.tv_nsec, 5);
}

TEST_F(PackageFunctions, SetFileModifiedTimeRaisesWhenTheFileCannotBeOpened) {
  test::WriteHostFile(Host("held.txt"), "x");
  auto holder =
      win::File::Create(Win("held.txt"), win::GENERIC_READ | win::GENERIC_WRITE, 0, win::OPEN_EXISTING);
  ASSERT_TRUE(holder);
  try {
    SetFileModifiedTime(Win("held.txt"), kTime);
    ADD_FAILURE() << "no error raised";
  } catch (const SystemError& e) {
    EXPECT_EQ(e.code(), win::ERROR_SHARING_VIOLATION);
  }
}

TEST(PackageRichText, LoadsTheStreamsRemainingBytes) {
  std::istringstream stream("skipped{\\rtf1\\ansi\\ansicpg1252 Liste des modifications\\par Version 2\\par}");
  stream.seekg(7);
  MemoryRichText control;
  control.AppendLine("previous", 0);
  LoadRichTextFromStream(control, stream);
  EXPECT_EQ(control.PlainText(), "Liste des modifications\nVersion 2\n");
}

}  // namespace
}  // namespace kv
