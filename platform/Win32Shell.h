// The loader and shell operations of Windows that the installer toolkit needs beyond Win32.h:
// libraries and their entries, special folders, fonts, the error mode, short names, the profile
// cache and shell shortcuts. The same rules as Win32.h hold: Windows paths in UTF-8, failures set
// the thread's last error to a Windows error code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Win32.h"

namespace kv::win {

inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;

inline constexpr std::size_t MAX_PATH = 260;

// COM and shell results.
using HRESULT = std::int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT HRESULT_FROM_WIN32(DWORD code) {
  return code == 0 ? S_OK : static_cast<HRESULT>((code & 0xFFFF) | 0x80070000u);
}
constexpr bool SUCCEEDED(HRESULT result) {
  return result >= 0;
}
constexpr bool FAILED(HRESULT result) {
  return result < 0;
}

// ---------------------------------------------------------------------------------------------
// Error mode

inline constexpr unsigned SEM_FAILCRITICALERRORS = 0x0001;
inline constexpr unsigned SEM_NOOPENFILEERRORBOX = 0x8000;
// Answers the previous mode.
unsigned SetErrorMode(unsigned mode);

// ---------------------------------------------------------------------------------------------
// Libraries (LoadLibrary, FreeLibrary, GetModuleHandle, GetProcAddress)

using HMODULE = std::uint32_t;
// The generic entry type; cast it to the entry's own type below.
using FARPROC = void (*)();

// 0 with the last error set (ERROR_MOD_NOT_FOUND) when the library cannot be loaded. Each
// successful load must be paired with one FreeLibrary.
HMODULE LoadLibrary(const std::string& name);
bool FreeLibrary(HMODULE module);
// The handle of a library already loaded in the process (the kernel library always is), or 0.
HMODULE GetModuleHandle(const std::string& name);
// nullptr with ERROR_PROC_NOT_FOUND when the library has no such entry.
FARPROC GetProcAddress(HMODULE module, const std::string& name);
DWORD GetCurrentProcessId();
// Whether a process of this machine runs under the id (OpenProcess, then GetExitCodeProcess
// answering STILL_ACTIVE on Windows).
bool IsProcessRunning(DWORD processId);

// Entries the program looks up by name, with their Windows signatures.
// SHGetFolderPathA (shell32.dll, shfolder.dll): path receives at most MAX_PATH bytes.
using SHGetFolderPathFunction = HRESULT (*)(std::uintptr_t window, int folder, std::uintptr_t token,
                                            DWORD flags, char* path);
// ProcessIdToSessionId (kernel32.dll): answers a BOOL.
using ProcessIdToSessionIdFunction = int (*)(DWORD processId, DWORD* sessionId);

// ---------------------------------------------------------------------------------------------
// Special folders

inline constexpr int CSIDL_PERSONAL = 5;
inline constexpr int CSIDL_MYDOCUMENTS = 12;
inline constexpr int CSIDL_DESKTOPDIRECTORY = 16;
inline constexpr int CSIDL_FONTS = 20;
inline constexpr int CSIDL_COMMON_DESKTOPDIRECTORY = 25;
inline constexpr int CSIDL_APPDATA = 26;
inline constexpr int CSIDL_LOCAL_APPDATA = 28;
inline constexpr int CSIDL_COMMON_APPDATA = 35;
inline constexpr int CSIDL_PROGRAM_FILES = 38;
inline constexpr int CSIDL_PROFILE = 40;
inline constexpr int CSIDL_FLAG_CREATE = 0x8000;

// The shell's SHGetFolderPath as the modules export it: folder is a CSIDL, with CSIDL_FLAG_CREATE
// to create a missing folder. S_OK with the path (no trailing backslash); S_FALSE with an empty
// path for a folder that does not exist; E_FAIL when the system has no such folder; E_INVALIDARG
// for an identifier the shell does not know.
HRESULT SHGetFolderPath(std::uintptr_t window, int folder, std::uintptr_t token, DWORD flags, char* path);

// A shell item identifier list of a file-system folder (SHGetSpecialFolderLocation).
struct ItemIdList {
  std::string path;
};
// Fails (E_FAIL) for a folder that does not exist; never creates one.
HRESULT SHGetSpecialFolderLocation(std::uintptr_t window, int folder, ItemIdList& list);
// Writes at most MAX_PATH bytes; false when the list names no file-system folder.
bool SHGetPathFromIDList(const ItemIdList& list, char* path);

// ---------------------------------------------------------------------------------------------
// Names and profiles

// The short (8.3) form of an existing path (GetShortPathName); nullopt with the last error set.
std::optional<std::string> GetShortPathName(const std::string& longPath);
// Flushes the system's cache of an initialisation file (WritePrivateProfileString with NULL
// section, key and value).
bool FlushPrivateProfileCache(const std::string& iniFile);

// ---------------------------------------------------------------------------------------------
// Fonts and window messages

// The number of fonts added from the file (AddFontResource); 0 with the last error set.
int AddFontResource(const std::string& fontFile);
bool RemoveFontResource(const std::string& fontFile);
// The font families installed for the screen (Screen.Fonts, from EnumFontFamilies).
std::vector<std::string> EnumFontFamilies();

inline constexpr std::uintptr_t HWND_BROADCAST = 0xFFFF;
inline constexpr unsigned WM_FONTCHANGE = 0x001D;
// Posts the message and returns without waiting for the receivers (SendNotifyMessage).
bool SendNotifyMessage(std::uintptr_t window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

// ---------------------------------------------------------------------------------------------
// Shell shortcuts (the shell-link object with its IShellLink and IPersistFile interfaces)

inline constexpr DWORD STGM_READ = 0x00000000;
inline constexpr DWORD STGM_READWRITE = 0x00000002;
inline constexpr DWORD STGM_SHARE_DENY_WRITE = 0x00000020;
inline constexpr DWORD SLR_NO_UI = 0x0001;
inline constexpr DWORD SLR_ANY_MATCH = 0x0002;
inline constexpr DWORD SLR_UPDATE = 0x0004;
inline constexpr DWORD SLGP_SHORTPATH = 0x0001;
inline constexpr int SW_SHOWNORMAL = 1;

class ShellLink {
 public:
  // IPersistFile::Load; HRESULT_FROM_WIN32 of the open's error, E_FAIL for a file that is no
  // shortcut.
  HRESULT Load(const std::string& linkFile, DWORD mode);
  // IPersistFile::Save; remember makes the file the link's current file.
  HRESULT Save(const std::string& linkFile, bool remember);
  HRESULT Resolve(std::uintptr_t window, DWORD flags);

  HRESULT GetPath(std::string& path, DWORD flags) const;
  HRESULT GetArguments(std::string& arguments) const;
  HRESULT GetDescription(std::string& description) const;
  HRESULT GetWorkingDirectory(std::string& folder) const;
  HRESULT GetIconLocation(std::string& iconFile, int& iconIndex) const;
  HRESULT GetShowCmd(int& showCmd) const;
  HRESULT GetHotkey(std::uint16_t& hotKey) const;

  HRESULT SetPath(const std::string& path);
  HRESULT SetArguments(const std::string& arguments);
  HRESULT SetDescription(const std::string& description);
  HRESULT SetWorkingDirectory(const std::string& folder);
  HRESULT SetIconLocation(const std::string& iconFile, int iconIndex);
  HRESULT SetShowCmd(int showCmd);
  HRESULT SetHotkey(std::uint16_t hotKey);

  const std::string& CurrentFile() const { return currentFile_; }

 private:
  std::string path_;
  std::string arguments_;
  std::string description_;
  std::string workingDirectory_;
  std::string iconLocation_;
  int iconIndex_ = 0;
  int showCmd_ = SW_SHOWNORMAL;
  std::uint16_t hotKey_ = 0;
  std::string currentFile_;
};

}  // namespace kv::win

namespace kv::host {

// What the host backend recorded of this process's fonts, for tests and tools: the files added by
// AddFontResource (and not removed), in order, and the number of font-change broadcasts.
std::vector<std::string> SessionFontResources();
unsigned FontChangeBroadcasts();

}  // namespace kv::host
