// Shared file and version utilities: version records, path helpers, the in-use test, the shell's
// file operation, drive letters, the folder dialog, a wait that keeps the window alive, and single
// registry values.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "platform/UserInterface.h"
#include "platform/Win32.h"

namespace kv {

// The thirteen strings of an executable's version resource.
struct TFileVersionInfo {
  std::string LangId;
  std::string LangName;
  std::string CharSet;
  std::string CompanyName;
  std::string FileDescription;
  std::string FileVersion;
  std::string InternalName;
  std::string LegalCopyRight;
  std::string LegalTradeMark;
  std::string OriginalFileName;
  std::string ProductName;
  std::string ProductVersion;
  std::string Comments;
};

// An empty name reads the running program's own version.
TFileVersionInfo ReadFileVersionInfo(const std::string& fileName);
std::uint32_t HexToInt(const std::string& text);
std::string PathWithDelimiter(const std::string& path);
std::string ParentFolder(const std::string& path);
// The file-name part of a path, after its last backslash or drive colon.
std::string ExtractFileName(const std::string& path);
// Everything up to and including the last backslash or drive colon; empty when there is none.
std::string ExtractFilePath(const std::string& path);
bool IsExistingFile(const std::string& path);
bool IsExistingFolder(const std::string& path);
// 0 when no file of that name exists (a folder is none) or the file can be opened exclusively,
// else the Windows error of the open.
win::DWORD FileInUseError(const std::string& fileName);
// Source and destination are single names or masks; -1 when the user aborted.
int ShellFileOperation(unsigned operation, const std::string& source, const std::string& destination,
                       WindowHandle owner, unsigned flags, const std::string& progressTitle);
std::string GetDriveLetters();

inline constexpr unsigned BIF_RETURNONLYFSDIRS = 0x1;
inline constexpr unsigned BIF_STATUSTEXT = 0x4;
inline constexpr unsigned BIF_NEWDIALOGSTYLE = 0x40;
bool BrowseForFolder(const std::string& title, WindowHandle owner, std::string& folder,
                     const std::string& root, unsigned flags);

// Waits |milliseconds|; a positive wait keeps processing window messages, a negative one does not.
void Delay(int milliseconds);
// Milliseconds from start to now on the 32-bit tick counter, correct across its wrap-around.
std::uint32_t TickElapsed(std::uint32_t start, std::uint32_t now);

// A registry value as read and written here: an integer or a string.
using RegistryValue = std::variant<std::int32_t, std::string>;
// Root 0 is HKEY_CURRENT_USER; access -1 is full access.
RegistryValue ReadRegistryValue(win::HKEY root, const std::string& key, const std::string& name,
                                std::int64_t access, const std::string& defaultText, bool mayCreate);
bool WriteRegistryValue(win::HKEY root, const std::string& key, const std::string& name, bool mayCreate,
                        const RegistryValue& value);

bool ForceForegroundWindow(WindowHandle window);

}  // namespace kv
