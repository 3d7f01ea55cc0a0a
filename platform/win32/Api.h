// The Windows API for the Win32 backend. The port declares its operations and constants under the
// Windows names, which <windows.h> defines as macros: so the port's headers come first (here, and
// every other header of the project before this one in a backend file), and the macros of the
// entries' names are undefined after it. The backend calls the W entries by their full names and
// writes the port's constants as Windows' own macros. Private to platform/win32/.
#pragma once

#include <string>
#include <string_view>

#include "platform/Win32.h"
#include "platform/Win32Shell.h"

// The system's headers follow the port's, in this order.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
// clang-format on

#undef AddFontResource
#undef CopyFile
#undef CreateDirectory
#undef DeleteFile
#undef EnumFontFamilies
#undef FormatMessage
#undef GetComputerName
#undef GetDriveType
#undef GetFileAttributes
#undef GetFileVersionInfo
#undef GetLogicalDriveStrings
#undef GetModuleFileName
#undef GetModuleHandle
#undef GetShortPathName
#undef GetSystemDirectory
#undef GetTempPath
#undef GetUserName
#undef GetWindowsDirectory
#undef LoadLibrary
#undef MoveFileEx
#undef RemoveDirectory
#undef RemoveFontResource
#undef SendNotifyMessage
#undef SetFileAttributes
#undef SHFileOperation
#undef SHGetFolderPath
#undef SHGetPathFromIDList
#undef VerLanguageName

namespace kv::win32 {

// UTF-8 <-> UTF-16 at the edge of the system.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view utf16);

// A path for the W entries: forward slashes as backslashes, as the port accepts both.
std::wstring WidePath(std::string_view utf8);

// Sets the thread's last error and answers false, for the port's bool operations.
inline bool Fail(win::DWORD code) {
  ::SetLastError(code);
  return false;
}

// A kernel handle closed by its destructor.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (Valid()) ::CloseHandle(handle_);
  }
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

// The FILETIME of a 64-bit count, and back.
inline FILETIME ToFiletime(win::FileTime time) {
  return FILETIME{static_cast<DWORD>(time & 0xFFFFFFFFu), static_cast<DWORD>(time >> 32)};
}
inline win::FileTime FromFiletime(const FILETIME& time) {
  return (static_cast<win::FileTime>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace kv::win32
