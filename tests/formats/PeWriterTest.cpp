// The PE writer: the order Windows's binary search expects, alignment, repeatable bytes, large
// resources streamed, and images that binutils reads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "formats/PeImage.h"
#include "formats/PeWriter.h"
#include "formats/Text.h"
#include "formats/VersionResource.h"
#include "platform/MappedFile.h"
#include "tests/support/PackageFixtures.h"
#include "tests/support/PeFixtures.h"
#include "tests/support/TempPrefix.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Bytes(std::string_view s) {
  return {s.begin(), s.end()};
}

std::uint32_t Get16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8;
}
std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return Get16(b, at) | Get16(b, at + 2) << 16;
}

// One directory of the file as stored: its counts and its entries' keys, read from the raw bytes.
struct RawDirectory {
  std::uint32_t named = 0, ids = 0;
  std::vector<std::u16string> names;
  std::vector<std::uint32_t> idKeys;
  std::vector<std::uint32_t> targets;  // offsets of subdirectories or data entries
};

RawDirectory ReadRaw(const std::vector<std::uint8_t>& b, std::size_t tree, std::uint32_t offset) {
  RawDirectory d;
  const std::size_t at = tree + offset;
  d.named = Get16(b, at + 12);
  d.ids = Get16(b, at + 14);
  for (std::uint32_t i = 0; i < d.named + d.ids; ++i) {
    const std::uint32_t name = Get32(b, at + 16 + 8 * i);
    d.targets.push_back(Get32(b, at + 20 + 8 * i) & 0x7FFFFFFF);
    if (name & 0x80000000) {
      const std::size_t s = tree + (name & 0x7FFFFFFF);
      std::u16string text;
      for (std::uint32_t k = 0; k < Get16(b, s); ++k) text += static_cast<char16_t>(Get16(b, s + 2 + 2 * k));
      d.names.push_back(text);
      EXPECT_EQ(d.idKeys.size(), 0u) << "a name after an id";
    } else {
      d.idKeys.push_back(name);
    }
  }
  EXPECT_EQ(d.names.size(), d.named);
  return d;
}

std::u16string Upper(const std::u16string& s) {
  return text::Utf8ToUtf16(text::ToUpper(text::Utf16ToUtf8(s)));
}

TEST(PeWriterOrder, NamesPrecedeIdsAndBothAreSortedInEveryDirectory) {
  PeWriter w;
  // Inserted out of order; "A_" sorts after "AB" when compared upper-case ('_' > 'B'), before it
  // when compared lower-case, which is the mistake this catches.
  for (const char* name : {"b", "A_", "zeta", "AB", "a", "Élan", "EZ"})
    w.Add(win::RT_RCDATA, name, 0, Bytes(name));
  for (std::uint32_t id : {300u, 2u, 10u}) w.Add(win::RT_RCDATA, id, 0, Bytes("id"));
  w.Add(win::RT_RCDATA, "MULTI", 0x040C, Bytes("fr"));
  w.Add(win::RT_RCDATA, "MULTI", 0x0407, Bytes("de"));
  w.Add(win::RT_RCDATA, "MULTI", 0x0409, Bytes("en"));
  w.Add(win::RT_VERSION, 1u, 0, Bytes("v"));
  w.Add(3u, 1u, 0, Bytes("icon"));
  w.Add("ZTYPE", 1u, 0, Bytes("z"));
  w.Add("ATYPE", 1u, 0, Bytes("a"));
  const auto b = w.Build();
  const PeImage image(b);
  const std::size_t tree = image.Sections()[0].pointerToRawData;

  const RawDirectory root = ReadRaw(b, tree, 0);
  EXPECT_EQ(root.names, (std::vector<std::u16string>{u"ATYPE", u"ZTYPE"}));
  EXPECT_EQ(root.idKeys, (std::vector<std::uint32_t>{3, 10, 16}));

  const RawDirectory rcdata = ReadRaw(b, tree, root.targets[3]);
  for (std::size_t i = 1; i < rcdata.names.size(); ++i) {
    EXPECT_LT(Upper(rcdata.names[i - 1]), Upper(rcdata.names[i]))
        << text::Utf16ToUtf8(rcdata.names[i - 1]) << " before " << text::Utf16ToUtf8(rcdata.names[i]);
  }
  EXPECT_EQ(rcdata.names,
            (std::vector<std::u16string>{u"a", u"AB", u"A_", u"b", u"EZ", u"MULTI", u"zeta", u"Élan"}))
      << "names keep their spelling";
  EXPECT_EQ(rcdata.idKeys, (std::vector<std::uint32_t>{2, 10, 300}));

  const RawDirectory languages = ReadRaw(b, tree, rcdata.targets[5]);
  EXPECT_EQ(languages.idKeys, (std::vector<std::uint32_t>{0x0407, 0x0409, 0x040C}));
  for (std::uint32_t target : languages.targets) {
    EXPECT_EQ(target % 4, 0u);
    EXPECT_EQ(Get32(b, tree + target) % 8, 0u) << "data start on 8-byte boundaries";
  }
}

TEST(PeWriterOrder, SameResourcesGiveTheSameBytesWhateverTheirOrder) {
  PeWriter a, b;
  a.Add(win::RT_RCDATA, "ONE", 0, Bytes("1"));
  a.Add(win::RT_RCDATA, "TWO", 0, Bytes("22"));
  a.Add(win::RT_VERSION, 1u, 0x040C, Bytes("333"));
  b.Add(win::RT_VERSION, 1u, 0x040C, Bytes("333"));
  b.Add(win::RT_RCDATA, "TWO", 0, Bytes("22"));
  b.Add(win::RT_RCDATA, "ONE", 0, Bytes("1"));
  const auto first = a.Build();
  EXPECT_EQ(first, b.Build());
  EXPECT_EQ(first, a.Build());
  EXPECT_EQ(a.ImageSize(), first.size());
  std::ostringstream streamed;
  a.Write(streamed);
  EXPECT_EQ(streamed.str(), std::string(first.begin(), first.end()));
}

TEST(PeWriterOrder, ASecondResourceOfTheSameKeyIsRefused) {
  PeWriter w;
  w.Add(win::RT_RCDATA, "Updates.txt", 0, Bytes("a"));
  w.Add(win::RT_RCDATA, "Updates.txt", 0x040C, Bytes("another language"));
  w.Add(win::RT_RCDATA, 5u, 0, Bytes("an id"));
  EXPECT_NO_THROW(w.Build());
  w.Add(win::RT_RCDATA, "UPDATES.TXT", 0, Bytes("b"));
  EXPECT_THROW(w.Build(), Error);
}

TEST(PeWriterCopies, KeepTheBytesOfTheirResourcesWhenTheOriginalIsGone) {
  const std::vector<std::uint8_t> content(1000, 0x5A);
  auto original = std::make_unique<PeWriter>();
  original->Add(win::RT_RCDATA, "KEPT", 0, content);
  const PeWriter copy = *original;
  original.reset();
  // The allocator hands the original's freed buffer out again, so a copy still reading it sees this.
  const std::vector<std::uint8_t> reused(content.size(), 0xA5);
  const auto built = copy.Build();
  const auto entry = PeImage(built).FindResource(win::RT_RCDATA, "KEPT");
  ASSERT_TRUE(entry);
  EXPECT_EQ(std::vector<std::uint8_t>(entry->data.begin(), entry->data.end()), content);
}

TEST(PeWriterEmpty, AnImageWithoutResourcesIsStillSound) {
  const auto b = PeWriter().Build();
  const PeImage image(b);
  EXPECT_TRUE(image.Resources().empty());
  EXPECT_EQ(b.size(), 0x400u);
}

// ---------------------------------------------------------------------------------------------
// Independent readers

struct ToolResult {
  int status = -1;
  std::string out;  // standard output, then standard error
};

ToolResult Tool(const std::vector<std::string>& argv) {
  const test::CommandResult result = test::RunProgram(argv);
  return {result.exitCode, result.out + result.err};
}

bool HaveTool(const std::string& tool) {
  return test::FindOnPath(tool).has_value();
}

win::VersionResource FixtureVersion() {
  win::VersionResource v;
  v.hasFixedInfo = true;
  v.fileVersionMS = 0x00060003;
  v.fileVersionLS = 0x00001092;
  v.productVersionMS = 0x00060003;
  v.translations = {0x04E4040C};
  v.stringTables = {{"040C04E4", {{"FileVersion", "WI-V6.3.0.4290"}, {"CompanyName", "Société Générale é"}}}};
  return v;
}

class PeWriterBinutils : public ::testing::TestWithParam<PeFormat> {
 protected:
  void SetUp() override {
    if (!HaveTool("x86_64-w64-mingw32-objdump") || !HaveTool("x86_64-w64-mingw32-windres")) {
      GTEST_SKIP() << "binutils-mingw-w64-x86-64 is not installed (scripts/install-deps installs it)";
    }
  }
  test::TempDir dir_;
};

TEST_P(PeWriterBinutils, ObjdumpAndWindresReadTheImage) {
  PeWriter w(GetParam());
  w.Add(win::RT_RCDATA, "Updates.txt", 0, Bytes("WinTessivo\r\n"));
  w.Add(win::RT_RCDATA, 42u, 0, Bytes("id"));
  w.Add(win::RT_VERSION, win::VS_VERSION_INFO, 0x040C, win::BuildVersionResource(FixtureVersion()));
  const fs::path file = dir_.Path() / "fixture.dll";
  test::WritePe(w, file);

  const ToolResult dump = Tool({"x86_64-w64-mingw32-objdump", "-x", file.string()});
  ASSERT_EQ(dump.status, 0) << dump.out;
  const bool pe32 = GetParam() == PeFormat::Pe32;
  EXPECT_NE(dump.out.find(pe32 ? "file format pei-i386" : "file format pei-x86-64"), std::string::npos)
      << dump.out;
  EXPECT_NE(dump.out.find(pe32 ? "(PE32)" : "(PE32+)"), std::string::npos);
  EXPECT_NE(dump.out.find("DLL"), std::string::npos);
  EXPECT_NE(dump.out.find("Resource Directory [.rsrc]"), std::string::npos);
  EXPECT_NE(dump.out.find("name: [val: "), std::string::npos);
  EXPECT_NE(dump.out.find("Updates.txt"), std::string::npos);
  EXPECT_NE(dump.out.find("ID: 0x00040c"), std::string::npos) << "the version's language";
  EXPECT_EQ(dump.out.find("warning"), std::string::npos) << dump.out;
  EXPECT_EQ(dump.out.find("corrupt"), std::string::npos) << dump.out;

  // windres decodes the version resource with its own parser.
  const ToolResult rc = Tool({"x86_64-w64-mingw32-windres", "-i", file.string(), "-O", "rc"});
  ASSERT_EQ(rc.status, 0) << rc.out;
  EXPECT_NE(rc.out.find("FILEVERSION 6, 3, 0, 4242"), std::string::npos) << rc.out;
  EXPECT_NE(rc.out.find("BLOCK \"040C04E4\""), std::string::npos);
  EXPECT_NE(rc.out.find("VALUE \"FileVersion\", \"WI-V6.3.0.4290\""), std::string::npos);
  EXPECT_NE(rc.out.find("VALUE \"CompanyName\", L\"Soci\\351t\\351 G\\351n\\351rale \\351\""),
            std::string::npos);
  EXPECT_NE(rc.out.find("VALUE \"Translation\", 0x40c, 1252"), std::string::npos);
  EXPECT_NE(rc.out.find("\"Updates.txt\" RCDATA"), std::string::npos);
  EXPECT_NE(rc.out.find("42 RCDATA"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(BothFormats, PeWriterBinutils, ::testing::Values(PeFormat::Pe32Plus, PeFormat::Pe32),
                         [](const auto& info) { return info.param == PeFormat::Pe32 ? "Pe32" : "Pe32Plus"; });

// A resource of a few hundred MB, as a package may hold: mapped in, streamed out, read back.
TEST(PeWriterLarge, AResourceOfHundredsOfMegabytesIsStreamedFromAMapping) {
  test::TempDir dir;
  const fs::path source = dir.Path() / "big.bin";
  constexpr std::uint64_t kSize = 300ull << 20;
  {
    // Sparse but for a marker at each end, so that the test costs little disk.
    const int fd = ::open(source.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kSize)), 0);
    ASSERT_EQ(::pwrite(fd, "HEAD", 4, 0), 4);
    ASSERT_EQ(::pwrite(fd, "TAIL", 4, static_cast<off_t>(kSize - 4)), 4);
    ::close(fd);
  }
  const MappedFile big(source);
  PeWriter w;
  w.Add(win::RT_RCDATA, "SMALL", 0, Bytes("small"));
  w.AddView(win::RT_RCDATA, "BIG.BIN", 0, big.Bytes());
  const fs::path out = dir.Path() / "big.dll";
  test::WritePe(w, out);
  EXPECT_EQ(fs::file_size(out), w.ImageSize());

  const MappedFile written(out);
  const PeImage image(written.Bytes());
  const auto entry = image.FindResource(win::RT_RCDATA, "big.bin");
  ASSERT_TRUE(entry);
  ASSERT_EQ(entry->data.size(), kSize);
  EXPECT_EQ(std::string(entry->data.begin(), entry->data.begin() + 4), "HEAD");
  EXPECT_EQ(std::string(entry->data.end() - 4, entry->data.end()), "TAIL");
  EXPECT_EQ(image.Headers().sizeOfImage % 0x1000, 0u);
  EXPECT_GT(image.Headers().sizeOfImage, kSize);
  const auto small = image.FindResource(win::RT_RCDATA, "SMALL");
  ASSERT_TRUE(small);
  EXPECT_EQ(std::string(small->data.begin(), small->data.end()), "small");
}

TEST(PeWriterFiles, AnUnwritableTargetRaisesAnError) {
  std::ofstream unopened("/nonexistent-folder/x.dll", std::ios::binary);
  EXPECT_THROW(PeWriter().Write(unopened), Error);
}

}  // namespace
}  // namespace kv
