// Resources added to a program (kvpack's Windows update programs): the program's own resources are
// kept, the headers' sizes and checksum are those of the new file, the same input gives the same
// bytes.
#include <gtest/gtest.h>

#include <cstring>

#include "formats/PeImage.h"
#include "formats/PeWriter.h"

namespace kv {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

// A program with its own resources: a version resource and a manifest, as the updater has.
std::vector<std::uint8_t> Program() {
  PeWriter writer;
  writer.Add(ResourceId(win::RT_VERSION), ResourceId(1u), 0x040C, Bytes("version"));
  writer.Add(ResourceId(24u), ResourceId(1u), 0, Bytes("<assembly/>"));
  return writer.Build();
}

std::vector<std::uint8_t> WithPackage(const std::vector<std::uint8_t>& program) {
  PeWriter writer;
  const PeImage own(program);
  for (const ResourceEntry& entry : own.Resources()) {
    writer.AddView(entry.type, entry.id, entry.language, entry.data);
  }
  writer.Add(ResourceId(win::RT_RCDATA), ResourceId("UPDATES.TXT"), 0, Bytes("Common"));
  writer.Add(ResourceId(win::RT_RCDATA), ResourceId("AppInfo1.txt"), 0, std::vector<std::uint8_t>(5000, 7));
  writer.SetProgram(program);
  return writer.Build();
}

std::uint32_t Read32(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// The PE checksum computed independently: 16-bit words with end-around carry, the checksum field
// counted as zero, plus the length.
std::uint32_t Checksum(std::vector<std::uint8_t> b, std::size_t field) {
  std::memset(b.data() + field, 0, 4);
  const std::size_t length = b.size();
  if (b.size() % 2) b.push_back(0);
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < b.size(); i += 2) {
    sum += b[i] | (b[i + 1] << 8);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<std::uint32_t>(sum + length);
}

TEST(PeProgramWriter, TheProgramKeepsItsResourcesAndCarriesThePackage) {
  const auto program = Program();
  const auto result = WithPackage(program);
  const PeImage image(result);
  ASSERT_TRUE(image.FindResource(win::RT_VERSION, 1u));
  const auto manifest = image.FindResource(24, 1u);
  ASSERT_TRUE(manifest);
  EXPECT_EQ(std::string(manifest->data.begin(), manifest->data.end()), "<assembly/>");
  const auto updates = image.FindResource(win::RT_RCDATA, "Updates.txt");
  ASSERT_TRUE(updates);
  EXPECT_EQ(std::string(updates->data.begin(), updates->data.end()), "Common");
  EXPECT_EQ(image.FindResource(win::RT_RCDATA, "AppInfo1.txt")->data.size(), 5000u);
  // One resource section, where the program had its own, grown to hold the package.
  ASSERT_EQ(image.Sections().size(), 1u);
  const PeSection& rsrc = image.Sections()[0];
  EXPECT_EQ(rsrc.virtualAddress, PeImage(program).Sections()[0].virtualAddress);
  EXPECT_EQ(image.DataDirectory(kResourceDataDirectory).rva, rsrc.virtualAddress);
  EXPECT_EQ(image.DataDirectory(kResourceDataDirectory).size, rsrc.virtualSize);
  EXPECT_GE(rsrc.sizeOfRawData, rsrc.virtualSize);
  EXPECT_EQ(rsrc.pointerToRawData + rsrc.sizeOfRawData, result.size());
  const std::uint32_t sa = image.Headers().sectionAlignment;
  EXPECT_EQ(image.Headers().sizeOfImage, (rsrc.virtualAddress + rsrc.virtualSize + sa - 1) / sa * sa);
  const std::size_t optional = image.Headers().peOffset + 24;
  EXPECT_EQ(Read32(result, optional + 8), rsrc.sizeOfRawData);  // initialized data
  EXPECT_EQ(image.Headers().checkSum, Checksum(result, optional + 64));
  EXPECT_NE(image.Headers().checkSum, 0u);
}

TEST(PeProgramWriter, TheSameInputGivesTheSameBytes) {
  const auto program = Program();
  EXPECT_EQ(WithPackage(program), WithPackage(program));
}

TEST(PeProgramWriter, AProgramWithDataAfterItsLastSectionIsRefused) {
  auto program = Program();
  program.push_back(0);  // a symbol table or a signature would lie there
  PeWriter writer;
  writer.Add(ResourceId(win::RT_RCDATA), ResourceId("UPDATES.TXT"), 0, Bytes("Common"));
  writer.SetProgram(program);
  EXPECT_THROW(writer.Build(), PeFormatError);
}

}  // namespace
}  // namespace kv
