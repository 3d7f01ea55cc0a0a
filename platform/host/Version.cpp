// GetFileVersionInfo on the host: files are read by the portable PE reader, through the prefix.
#include <filesystem>
#include <optional>
#include <string>

#include "formats/Text.h"
#include "platform/VersionFile.h"
#include "platform/Win32.h"
#include "platform/host/Prefix.h"

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
