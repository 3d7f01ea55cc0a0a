// The version resource of a file of this machine, by the portable PE reader, and the one the
// running program was built with: the same on every backend.
#include <string>

#include "platform/VersionFile.h"

#include "formats/PeImage.h"
#include "formats/VersionResource.h"
#include "platform/MappedFile.h"

namespace kv::host {

std::optional<win::VersionResource> ReadFileVersionResource(const std::filesystem::path& hostPath) {
  std::uint32_t error = 0;
  const auto file = MappedFile::TryOpen(hostPath, error);
  if (!file) {
    win::SetLastError(error != 0 ? error : win::ERROR_FILE_NOT_FOUND);
    return std::nullopt;
  }
  try {
    const PeImage image(file->Bytes());
    auto version = win::ReadVersionResource(image);
    if (!version) win::SetLastError(win::ERROR_RESOURCE_TYPE_NOT_FOUND);
    return version;
  } catch (const PeFormatError&) {
    // Windows answers so for a file that is no image or whose resources it cannot read.
    win::SetLastError(win::ERROR_RESOURCE_DATA_NOT_FOUND);
    return std::nullopt;
  }
}

win::VersionResource BuiltVersionResource() {
  // "+ 0" keeps a version without a fourth number (an empty macro) valid.
  const std::uint32_t major = KV_VERSION_MAJOR + 0;
  const std::uint32_t minor = KV_VERSION_MINOR + 0;
  const std::uint32_t patch = KV_VERSION_PATCH + 0;
  const std::uint32_t tweak = KV_VERSION_TWEAK + 0;
  win::VersionResource version;
  version.hasFixedInfo = true;
  version.fileVersionMS = version.productVersionMS = (major << 16) | (minor & 0xFFFF);
  version.fileVersionLS = version.productVersionLS = (patch << 16) | (tweak & 0xFFFF);
  const std::string text = win::FormatVersionNumbers(version.fileVersionMS, version.fileVersionLS);
  const std::uint32_t translation = 0x04E4040C;  // French (France), code page 1252
  version.translations = {translation};
  version.stringTables = {win::VersionStrings{win::TranslationKey(translation),
                                              {
                                                  {"CompanyName", "KORVANE S.A."},
                                                  {"FileDescription", "Assistant de mise à jour Korvane"},
                                                  {"FileVersion", text},
                                                  {"InternalName", "korvane-update"},
                                                  {"OriginalFileName", "korvane-update.exe"},
                                                  {"ProductName", "Korvane"},
                                                  {"ProductVersion", text},
                                                  {"LegalCopyRight", "© KORVANE S.A."},
                                              }}};
  return version;
}

}  // namespace kv::host
