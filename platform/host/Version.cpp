// GetFileVersionInfo on the host: files are read by the portable PE reader, through the prefix.
#include <filesystem>
#include <optional>
#include <string>

#include "formats/PeImage.h"
#include "formats/Text.h"
#include "formats/VersionResource.h"
#include "platform/MappedFile.h"
#include "platform/Win32.h"
#include "platform/host/Prefix.h"

namespace kv::host {
namespace {

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

}  // namespace
}  // namespace kv::host

namespace kv::win {

std::optional<VersionResource> GetFileVersionInfo(const std::string& path) {
  if (path.empty()) return host::BuiltVersionResource();
  // A name with a folder comes back as it is; a bare one is searched as a library.
  const std::string windowsPath = SearchLibrary(path);
  if (windowsPath.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return std::nullopt;
  }
  if (text::IEquals(windowsPath, GetModuleFileName())) return host::BuiltVersionResource();
  const auto hostPath = host::Prefix::Current().ToHost(windowsPath);
  if (!hostPath) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return std::nullopt;
  }
  return host::ReadFileVersionResource(*hostPath);
}

}  // namespace kv::win
