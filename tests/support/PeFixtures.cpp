#include "tests/support/PeFixtures.h"

#include <gtest/gtest.h>

#include <fstream>

#include "formats/PeWriter.h"
#include "formats/VersionResource.h"
#include "platform/InstallTools2.h"

namespace kv {

void PrintTo(PeFormat format, std::ostream* out) {
  *out << (format == PeFormat::Pe32 ? "Pe32" : "Pe32Plus");
}

}  // namespace kv

namespace kv::test {

std::vector<std::uint8_t> PeWithVersion(const win::VersionResource& version) {
  PeWriter writer;
  writer.Add(ResourceId(win::RT_VERSION), ResourceId(win::VS_VERSION_INFO), 0x040C,
             win::BuildVersionResource(version));
  return writer.Build();
}

std::vector<std::uint8_t> PeWithFileVersion(const FileVersionNumbers& version) {
  win::VersionResource resource;
  resource.hasFixedInfo = true;
  resource.fileVersionMS = (std::uint32_t{version[0]} << 16) | version[1];
  resource.fileVersionLS = (std::uint32_t{version[2]} << 16) | version[3];
  // A product version unlike the file version shows which of the two a reader takes.
  resource.productVersionMS = (99u << 16) | 99u;
  resource.productVersionLS = (99u << 16) | 99u;
  const std::uint32_t translation = 0x04E4040C;
  resource.translations = {translation};
  resource.stringTables = {win::VersionStrings{
      win::TranslationKey(translation),
      {{"FileVersion", win::FormatVersionNumbers(resource.fileVersionMS, resource.fileVersionLS)}}}};
  return PeWithVersion(resource);
}

std::vector<std::uint8_t> PeWithoutVersion() {
  PeWriter writer;
  writer.Add(ResourceId(win::RT_RCDATA), ResourceId("DATA"), 0x040C, {1, 2, 3});
  return writer.Build();
}

void WritePe(const PeWriter& writer, const std::filesystem::path& hostPath) {
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  writer.Write(out);  // an unopened stream fails the write
}

void ExpectSameVersion(const win::VersionResource& actual, const win::VersionResource& expected) {
  EXPECT_EQ(actual.hasFixedInfo, expected.hasFixedInfo);
  EXPECT_EQ(actual.fileVersionMS, expected.fileVersionMS);
  EXPECT_EQ(actual.fileVersionLS, expected.fileVersionLS);
  EXPECT_EQ(actual.productVersionMS, expected.productVersionMS);
  EXPECT_EQ(actual.productVersionLS, expected.productVersionLS);
  EXPECT_EQ(actual.translations, expected.translations);
  ASSERT_EQ(actual.stringTables.size(), expected.stringTables.size());
  for (std::size_t i = 0; i < expected.stringTables.size(); ++i) {
    EXPECT_EQ(actual.stringTables[i].translation, expected.stringTables[i].translation);
    EXPECT_EQ(actual.stringTables[i].values, expected.stringTables[i].values);
  }
}

FileVersionNumbers VersionOf(const std::string& windowsPath) {
  FileVersionNumbers v{};
  EXPECT_TRUE(TWindowsInstaller::GetFileVersion(windowsPath, v[0], v[1], v[2], v[3])) << windowsPath;
  return v;
}

}  // namespace kv::test
