// Where packages come from: memory, PE files, host programs with a PE image appended.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "engine/Package.h"
#include "formats/PeWriter.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/PeFixtures.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::ReadHostFile;
using test::WriteHostFile;

constexpr win::FileTime kTime = 132567987061234567ULL;

struct StoredFile {
  std::string name;
  std::string content;
};

const std::vector<StoredFile> kFiles = {
    {"UPDATES.TXT", "Common\r\n"},
    {"PLS\\SA-00.INT", "COM: liste\r\nDES: ventes\r\n"},
    {"ÉTÉ.TXT", "soleil"},
    {"EMPTY.BIN", ""},
};

std::string PeImageOf(const std::vector<StoredFile>& files) {
  PeWriter writer;
  for (const StoredFile& f : files) {
    writer.Add(win::RT_RCDATA, ResourceId(f.name), kPackageLanguage, MakeRecord(f.content, kTime));
  }
  const auto bytes = writer.Build();
  return std::string(bytes.begin(), bytes.end());
}

std::string TrailerOf(std::uint64_t offset, std::uint64_t size) {
  const auto t = MakePackageTrailer(PackageTrailer{offset, size});
  return std::string(t.begin(), t.end());
}

// A copy of a real ELF program with a package appended, as `kvpack build --stub` makes one.
std::string AppendedProgram(const std::vector<StoredFile>& files) {
  const std::string program = ReadHostFile(test::KvpackPath());
  const std::string image = PeImageOf(files);
  return program + image + TrailerOf(program.size(), image.size());
}

using SourceMaker = std::function<std::unique_ptr<PackageSource>(const fs::path& folder)>;

struct SourceKind {
  const char* label;
  SourceMaker make;
};

// Test names show the label, not the bytes of the parameter.
void PrintTo(const SourceKind& kind, std::ostream* out) {
  *out << kind.label;
}

const SourceKind kKinds[] = {
    {"Memory",
     [](const fs::path&) -> std::unique_ptr<PackageSource> {
       auto package = std::make_unique<MemoryPackage>();
       for (const StoredFile& f : kFiles) package->Add(f.name, f.content, kTime);
       return package;
     }},
    {"PeFile",
     [](const fs::path& folder) {
       WriteHostFile(folder / "package.dll", PeImageOf(kFiles));
       return OpenPackageFile((folder / "package.dll").string());
     }},
    {"AppendedToElfProgram",
     [](const fs::path& folder) {
       WriteHostFile(folder / "updater", AppendedProgram(kFiles));
       return OpenPackageFile((folder / "updater").string());
     }},
};

class PackageSourceTest : public ::testing::TestWithParam<SourceKind> {
 protected:
  test::TempDir dir_;
};

TEST_P(PackageSourceTest, FindsRecordsWithoutRegardToCase) {
  const auto package = GetParam().make(dir_.Path());
  const struct {
    const char* query;
    const char* stored;  // nullptr: not found
  } cases[] = {
      {"Updates.txt", "UPDATES.TXT"},
      {"updates.TXT", "UPDATES.TXT"},
      {"pls\\sa-00.int", "PLS\\SA-00.INT"},
      {"été.txt", "ÉTÉ.TXT"},
      {"Update.txt", nullptr},
      {"UPDATES.TXT ", nullptr},
      {"PLS/SA-00.INT", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    const auto record = package->FindRecord(c.query);
    if (c.stored == nullptr) {
      EXPECT_FALSE(record.has_value());
      continue;
    }
    ASSERT_TRUE(record.has_value());
    const auto wanted =
        std::find_if(kFiles.begin(), kFiles.end(), [&](const StoredFile& f) { return f.name == c.stored; });
    std::string content;
    const RecordHeader header = InflateRecord(*record, [&](const std::uint8_t* p, std::size_t n) {
      content.append(reinterpret_cast<const char*>(p), n);
    });
    EXPECT_EQ(content, wanted->content);
    EXPECT_EQ(header.time, kTime);
  }
}

TEST_P(PackageSourceTest, NamesEveryRecordAsStored) {
  const auto package = GetParam().make(dir_.Path());
  std::vector<std::string> names = package->Names();
  std::sort(names.begin(), names.end());
  std::vector<std::string> expected;
  for (const StoredFile& f : kFiles) expected.push_back(f.name);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
}

INSTANTIATE_TEST_SUITE_P(Sources, PackageSourceTest, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(PackageSource, PeFileReadsOnlyNamedRcdataResourcesFirstLanguageFirst) {
  const test::TempDir dir;
  PeWriter writer;
  writer.Add(win::RT_RCDATA, ResourceId("UPDATES.TXT"), 0x040C, MakeRecord("french", kTime));
  writer.Add(win::RT_RCDATA, ResourceId("UPDATES.TXT"), 0, MakeRecord("neutral", kTime));
  writer.Add(win::RT_RCDATA, ResourceId(7), 0, MakeRecord("by number", kTime));
  writer.Add(win::RT_VERSION, ResourceId("APPINFO1.TXT"), 0, MakeRecord("not rcdata", kTime));
  writer.Add(ResourceId("CUSTOM"), ResourceId("STEPS.TXT"), 0, MakeRecord("custom type", kTime));
  test::WritePe(writer, dir.Path() / "p.dll");
  const auto package = OpenPackageFile((dir.Path() / "p.dll").string());

  EXPECT_EQ(package->Names(), std::vector<std::string>{"UPDATES.TXT"});
  EXPECT_FALSE(package->FindRecord("AppInfo1.txt"));
  EXPECT_FALSE(package->FindRecord("Steps.txt"));
  std::vector<std::uint8_t> content;
  InflateRecord(*package->FindRecord("Updates.txt"),
                [&](const std::uint8_t* p, std::size_t n) { content.insert(content.end(), p, p + n); });
  EXPECT_EQ(std::string(content.begin(), content.end()), "neutral");
}

TEST(PackageSource, MemoryPackageKeepsRecordsAsGivenAndReplacesByName) {
  MemoryPackage package;
  package.AddRecord("Raw", {1, 2, 3});
  package.Add("Updates.txt", "old", kTime);
  package.Add("UPDATES.TXT", "new", kTime + 1);
  const auto raw = package.FindRecord("raw");
  ASSERT_TRUE(raw);
  EXPECT_EQ(std::vector<std::uint8_t>(raw->begin(), raw->end()), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(package.Names(), (std::vector<std::string>{"Raw", "UPDATES.TXT"}));
  EXPECT_EQ(ReadRecordHeader(*package.FindRecord("updates.txt")).time, kTime + 1);
}

TEST(PackageSource, AppendedPackageNeedsItsTrailer) {
  const test::TempDir dir;
  const std::string program = ReadHostFile(test::KvpackPath());
  const std::string image = PeImageOf(kFiles);

  WriteHostFile(dir.Path() / "plain", program);
  EXPECT_EQ(OpenAppendedPackage((dir.Path() / "plain").string()), nullptr);
  EXPECT_THROW(OpenPackageFile((dir.Path() / "plain").string()), Error) << "an ELF program without package";

  WriteHostFile(dir.Path() / "image.dll", image);
  EXPECT_EQ(OpenAppendedPackage((dir.Path() / "image.dll").string()), nullptr);

  // A trailer whose image would run past the trailer, or start past the end.
  const struct {
    const char* label;
    std::uint64_t offset, size;
  } damaged[] = {
      {"size one byte too long", program.size(), image.size() + 1},
      {"offset past the end", program.size() + image.size() + 1, 0},
      {"offset and size that wrap around", program.size(), ~std::uint64_t{0}},
  };
  for (const auto& d : damaged) {
    SCOPED_TRACE(d.label);
    WriteHostFile(dir.Path() / "bad", program + image + TrailerOf(d.offset, d.size));
    EXPECT_THROW(OpenAppendedPackage((dir.Path() / "bad").string()), Error);
    EXPECT_THROW(OpenPackageFile((dir.Path() / "bad").string()), Error);
  }

  // A trailer pointing at bytes that are not a PE image.
  WriteHostFile(dir.Path() / "notpe", program + image + TrailerOf(0, 1000));
  EXPECT_THROW(OpenPackageFile((dir.Path() / "notpe").string()), Error);
}

TEST(PackageSource, TrailerRoundTripsAndIsLittleEndian) {
  const PackageTrailer trailer{0x0102030405060708ULL, 0x1112};
  const auto bytes = MakePackageTrailer(trailer);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 5), "KVPKG");
  EXPECT_EQ(bytes[8], 0x08);
  EXPECT_EQ(bytes[15], 0x01);
  EXPECT_EQ(bytes[16], 0x12);
  EXPECT_EQ(bytes[17], 0x11);
  // The image must lie before the trailer: a file that holds one.
  const PackageTrailer small{4, 10};
  std::vector<std::uint8_t> withImage(14, 0xAA);
  const auto t = MakePackageTrailer(small);
  withImage.insert(withImage.end(), t.begin(), t.end());
  const auto read = ReadPackageTrailer(withImage);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->imageOffset, 4u);
  EXPECT_EQ(read->imageSize, 10u);
  withImage.back() ^= 1;  // the size's top byte: now far beyond the file
  EXPECT_THROW(ReadPackageTrailer(withImage), Error);
  withImage[withImage.size() - kPackageTrailerSize] = 'X';
  EXPECT_FALSE(ReadPackageTrailer(withImage)) << "without the magic there is no trailer";
}

TEST(PackageSource, OpenPackageFileReportsWhatItCannotRead) {
  const test::TempDir dir;
  WriteHostFile(dir.Path() / "text.txt", "just some text, no package here");
  WriteHostFile(dir.Path() / "empty", "");
  std::string damagedPe = PeImageOf(kFiles);
  damagedPe.resize(0x100);  // headers cut before the section table ends
  WriteHostFile(dir.Path() / "cut.dll", damagedPe);

  for (const char* name : {"text.txt", "empty", "cut.dll"}) {
    SCOPED_TRACE(name);
    try {
      OpenPackageFile((dir.Path() / name).string());
      ADD_FAILURE() << "no error raised";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos)
          << "the message names the file: " << e.what();
    }
  }
  try {
    OpenPackageFile((dir.Path() / "missing.dll").string());
    ADD_FAILURE() << "no error raised";
  } catch (const SystemError& e) {
    EXPECT_EQ(e.code(), win::ERROR_FILE_NOT_FOUND);
  }
}

TEST(PackageSource, TheTestProgramCarriesNoPackage) {
  EXPECT_EQ(OpenRunningExecutablePackage(), nullptr);
}

TEST(PackageSource, CurrentPackageIsTheOneInstalled) {
  MemoryPackage a;
  SetCurrentPackage(&a);
  EXPECT_EQ(CurrentPackage(), &a);
  SetCurrentPackage(nullptr);
  EXPECT_EQ(CurrentPackage(), nullptr);
}

TEST(ResourceFileName, RefusesNamesThatLeaveTheirFolder) {
  const std::string longest = std::string(200, 'a') + "\\" + std::string(55, 'b') + ".dll";  // 260
  const std::string longestPart = std::string(251, 'p') + ".dll";                            // 255
  for (const std::string& safe :
       {std::string("UPDATES.TXT"), std::string("PLS\\SA-00.INT"), std::string("pls/sa-00.int"),
        std::string("Été.txt"), std::string("x..y"), std::string(".profile"), std::string("a b\\c d.txt"),
        std::string("CONSOLE.TXT"), std::string("COM10"), std::string("LPT"), std::string("NULL.txt"),
        std::string(" avant.txt"), std::string("éé") + std::string(253, 'e'), longest, longestPart}) {
    SCOPED_TRACE(safe);
    EXPECT_TRUE(IsSafeResourceFileName(safe));
    EXPECT_NO_THROW(ValidateResourceFileName(safe));
  }
  for (const char* unsafe : {"",
                             "\\Windows\\x.dll",
                             "/etc/passwd",
                             "\\\\server\\share\\x",
                             "C:\\x.dll",
                             "C:x.dll",
                             "..",
                             "..\\x",
                             "a\\..\\..\\x",
                             "a/../../x",
                             ".",
                             "a\\.\\b",
                             "a\\\\b",
                             "a\\",
                             "a.",
                             "a ",
                             "...",
                             "file.txt:stream",
                             "CON",
                             "nul.txt",
                             "a\\LPT1",
                             "com3.dll",
                             "bad|name",
                             "what?",
                             "star*",
                             "tab\tname",
                             "quote\"d",
                             "<x>",
                             "CON .txt",
                             "com1 .dll",
                             "LPT0",
                             "COM9.x.y",
                             "COM\u00B9.dll",
                             "lpt\u00B3",
                             "CONIN$",
                             "conout$.txt",
                             "PRN",
                             "aux.dat",
                             "sous\\NUL\\x.dll",
                             "x.dll\\",
                             "x.dll. ",
                             "x.dll .",
                             "\\\\?\\C:\\x.dll",
                             "\\\\.\\COM1",
                             "D:\\x.dll",
                             "z:/tmp/x"}) {
    SCOPED_TRACE(unsafe);
    EXPECT_FALSE(IsSafeResourceFileName(unsafe));
    try {
      ValidateResourceFileName(unsafe);
      ADD_FAILURE() << "not refused";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Nom de fichier refusé dans le paquet : ") + unsafe);
    }
  }
  // Too long, whole or in part, counted in UTF-16 units as Windows counts them.
  for (const std::string& tooLong :
       {longest + "x", longestPart + "x", std::string(100, 'a') + "\\" + std::string(256, 'b'),
        std::string("é") + std::string(255, 'e')}) {
    SCOPED_TRACE(tooLong.size());
    EXPECT_FALSE(IsSafeResourceFileName(tooLong));
  }
}

}  // namespace
}  // namespace kv
