// Version resources on Windows: read by the same PE reader as on the host, from the file itself.
#include "formats/Text.h"
#include "platform/VersionFile.h"
#include "platform/Win32.h"
#include "platform/win32/Api.h"

namespace kv::win {

std::optional<VersionResource> GetFileVersionInfo(const std::string& path) {
  // A name with a folder comes back as it is; a bare one is searched as a library.
  const std::string windowsPath = path.empty() ? GetModuleFileName() : SearchLibrary(path);
  if (windowsPath.empty()) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return std::nullopt;
  }
  auto version = host::ReadFileVersionResource(win32::WidePath(windowsPath));
  // A program without a version resource of its own (a test program) answers the version it was
  // built with, as on the host.
  if (!version && text::IEquals(windowsPath, GetModuleFileName())) return host::BuiltVersionResource();
  return version;
}

}  // namespace kv::win
