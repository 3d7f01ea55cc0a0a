// The Windows operations the program relies on, as a port. The core calls only these; the host
// backend (platform/host/) answers them on POSIX from the prefix, the Win32 backend
// (platform/win32/) with the real API in the Windows build. Paths are Windows paths in UTF-8; failures set the thread's last error
// to a Windows error code, exactly as the Windows calls of the same name do.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/VersionResource.h"

namespace kv::win {

using DWORD = std::uint32_t;

// Windows error codes met by the program.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_INVALID_DRIVE = 15;
inline constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;
inline constexpr DWORD ERROR_WRITE_PROTECT = 19;
inline constexpr DWORD ERROR_NOT_READY = 21;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_LOCK_VIOLATION = 33;
inline constexpr DWORD ERROR_HANDLE_EOF = 38;
inline constexpr DWORD ERROR_BAD_NETPATH = 53;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_BADDB = 1009;
inline constexpr DWORD ERROR_BADKEY = 1010;
inline constexpr DWORD ERROR_CANTOPEN = 1011;
inline constexpr DWORD ERROR_CANTREAD = 1012;
inline constexpr DWORD ERROR_CANTWRITE = 1013;
inline constexpr DWORD ERROR_KEY_DELETED = 1018;
inline constexpr DWORD ERROR_NOT_LOGGED_ON = 1245;
inline constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
inline constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
inline constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

DWORD GetLastError();
void SetLastError(DWORD code);

// ---------------------------------------------------------------------------------------------
// Files and folders

inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
// A symbolic link or a junction (the host: a symbolic link; a drive's own folder is none).
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;

// A Windows FILETIME: 100-nanosecond intervals since 1 January 1601 UTC.
using FileTime = std::uint64_t;
// The latest time Windows' own time functions accept (FileTimeToSystemTime refuses any later one):
// the year 30828.
inline constexpr FileTime MAX_FILETIME = 0x7FFFFFFFFFFFFFFFULL;

DWORD GetFileAttributes(const std::string& path);
bool SetFileAttributes(const std::string& path, DWORD attributes);
// Copies content and last-write time; the target gets the source's attributes.
bool CopyFile(const std::string& source, const std::string& target, bool failIfExists);
bool DeleteFile(const std::string& path);

inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;
inline constexpr DWORD MOVEFILE_DELAY_UNTIL_REBOOT = 0x4;
inline constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;
// With MOVEFILE_DELAY_UNTIL_REBOOT the move is recorded for the next restart (an empty target
// asks for the source to be deleted then). With MOVEFILE_WRITE_THROUGH the move is on the disk
// when the call returns (the host syncs both folders).
bool MoveFileEx(const std::string& source, const std::string& target, DWORD flags);
bool CreateDirectory(const std::string& path);
bool RemoveDirectory(const std::string& path);

bool GetFileLastWriteTime(const std::string& path, FileTime& time);
// Sets only the last-write time; creation and access times stay as they are.
bool SetFileLastWriteTime(const std::string& path, FileTime time);
FileTime FileTimeToLocalFileTime(FileTime utc);
FileTime GetSystemTimeAsFileTime();

struct FindData {
  std::string name;  // without folder
  DWORD attributes = 0;
  FileTime lastWriteTime = 0;
  std::uint64_t size = 0;
};
// The entries matching a mask whose last component may hold * and ? (FindFirstFile / FindNextFile).
// Empty with ERROR_FILE_NOT_FOUND (or ERROR_PATH_NOT_FOUND) when nothing matches.
std::vector<FindData> FindFiles(const std::string& mask);

// An open file (CreateFile). Closed by the destructor.
inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;

class File {
 public:
  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // Fails with ERROR_SHARING_VIOLATION when the share modes of another open exclude this one
  // (in this process or another), as Windows does.
  static std::optional<File> Create(const std::string& path, DWORD access, DWORD shareMode,
                                    DWORD disposition);

  bool IsOpen() const { return fd_ >= 0; }
  // Bytes read, or -1 with the last error set.
  long long Read(void* buffer, std::size_t size);
  bool Write(const void* buffer, std::size_t size);
  bool SetLastWriteTime(FileTime time);
  std::optional<std::uint64_t> Size() const;
  // Writes the file's data and attributes through to the disk (FlushFileBuffers).
  bool Flush();
  // Gives the open file another name, as MoveFileEx would with the same flags (REPLACE_EXISTING,
  // WRITE_THROUGH), but through the open file: it keeps its share modes throughout, so no other
  // process can open or delete it between its last write and the moment it takes the target's
  // place. The Win32 backend opens a new file (CREATE_NEW) with DELETE access too and renames it
  // with SetFileInformationByHandle (FileRenameInfo), then FlushFileBuffers for WRITE_THROUGH.
  bool Rename(const std::string& target, DWORD flags);
  void Close();
  int NativeHandle() const { return fd_; }

 private:
  File(int fd, std::string hostPath) : fd_(fd), hostPath_(std::move(hostPath)) {}
  int fd_ = -1;  // a descriptor, or a Windows kernel handle (which Windows keeps within 32 bits)
  std::string hostPath_;  // where the file is now, for Rename
};

// The shell's file operation (SHFileOperation). from and to are lists of paths, each ended by a
// null character, the list ended by one more; the last component of a source may be a mask.
inline constexpr unsigned FO_MOVE = 1;
inline constexpr unsigned FO_COPY = 2;
inline constexpr unsigned FO_DELETE = 3;
inline constexpr unsigned FO_RENAME = 4;
inline constexpr unsigned FOF_SILENT = 0x4;
inline constexpr unsigned FOF_NOCONFIRMATION = 0x10;
inline constexpr unsigned FOF_ALLOWUNDO = 0x40;
inline constexpr unsigned FOF_SIMPLEPROGRESS = 0x100;
inline constexpr unsigned FOF_NOERRORUI = 0x400;

struct ShFileOperation {
  std::uintptr_t window = 0;
  unsigned func = 0;
  std::string from;
  std::string to;
  unsigned flags = 0;
  bool anyOperationsAborted = false;
  std::string progressTitle;
};
// 0 on success, else a Windows error code.
int SHFileOperation(ShFileOperation& operation);

// ---------------------------------------------------------------------------------------------
// Drives, folders, the running program

inline constexpr unsigned DRIVE_UNKNOWN = 0;
inline constexpr unsigned DRIVE_NO_ROOT_DIR = 1;
inline constexpr unsigned DRIVE_REMOVABLE = 2;
inline constexpr unsigned DRIVE_FIXED = 3;
inline constexpr unsigned DRIVE_REMOTE = 4;
inline constexpr unsigned DRIVE_CDROM = 5;
inline constexpr unsigned DRIVE_RAMDISK = 6;

// Type of the drive whose root is given ("C:\"); DRIVE_NO_ROOT_DIR for anything else.
unsigned GetDriveType(const std::string& root);
// Bit 0 is A:, bit 25 is Z:.
DWORD GetLogicalDrives();
// "C:\<NUL>D:\<NUL>..." as GetLogicalDriveStrings gives it, without the final extra null.
std::string GetLogicalDriveStrings();
// File-system name of a volume root ("NTFS"); nullopt with the last error set.
std::optional<std::string> GetVolumeFileSystemName(const std::string& root);

// As the system reports them, without trailing backslash (GetWindowsDirectory, GetSystemDirectory).
std::string GetWindowsDirectory();
std::string GetSystemDirectory();
// The temporary folder with its trailing backslash (GetTempPath).
std::string GetTempPath();
// The full path of the running program (GetModuleFileName of the process).
std::string GetModuleFileName();
// The file a bare library name resolves to by the library search order (the program's folder, the
// system folder, the Windows folder); a name with a folder is returned as given. Empty when not found.
std::string SearchLibrary(const std::string& name);

std::uint32_t GetTickCount();
void Sleep(std::uint32_t milliseconds);

// A named semaphore (CreateSemaphore: no security attributes, initial count 0, maximum count 1),
// held until the object is destroyed (CloseHandle). Not open when it could not be created; when it
// is, the last error is ERROR_ALREADY_EXISTS if the name was already held, by this process or
// another. The host backend keeps one lock file per name in <prefix>/semaphores/, named in lower
// case so that names differing only in letter case meet whatever the file system.
class NamedSemaphore {
 public:
  NamedSemaphore() = default;
  NamedSemaphore(NamedSemaphore&& other) noexcept;
  NamedSemaphore& operator=(NamedSemaphore&& other) noexcept;
  NamedSemaphore(const NamedSemaphore&) = delete;
  NamedSemaphore& operator=(const NamedSemaphore&) = delete;
  ~NamedSemaphore();

  static NamedSemaphore Create(const std::string& name);
  bool IsOpen() const { return handle_ != kNone; }

 private:
  static constexpr std::intptr_t kNone = -1;
  explicit NamedSemaphore(std::intptr_t handle) : handle_(handle) {}
  void Close();
  std::intptr_t handle_ = kNone;  // a kernel handle, or a host descriptor
};

// A named resource of the running program's own module.
struct ModuleResource {
  std::string name;
  std::span<const std::uint8_t> data;  // valid while the program runs
};
// The named resources of a type in the running program's own module (EnumResourceNames,
// FindResource, LoadResource), each name once, in the module's order. nullopt when the running
// program is no PE image (a host program, whose package is appended to it instead).
std::optional<std::vector<ModuleResource>> OwnModuleResources(std::uint16_t type);

// ---------------------------------------------------------------------------------------------
// System identity

struct OsVersion {
  bool nt = true;  // NT family; false: Windows 9x
  DWORD major = 10;
  DWORD minor = 0;
};
OsVersion GetVersion();
// The names as the system copies them into a buffer of `size` characters, the terminating null
// included. A name that does not fit fails as Windows fails: ERROR_BUFFER_OVERFLOW for the
// computer name, ERROR_INSUFFICIENT_BUFFER for the user name. Both fail with ERROR_NOT_LOGGED_ON
// when the prefix says so.
std::optional<std::string> GetComputerName(DWORD size);
std::optional<std::string> GetUserName(DWORD size);
// 1036 for French (France).
std::uint16_t GetSystemDefaultLangID();
// The language's name as a French Windows gives it ("Français (France)").
std::string VerLanguageName(std::uint16_t langId);
// The texts a French Windows gives for the codes (FormatMessage); nullopt for an unknown code.
std::optional<std::string> FormatMessage(DWORD code);

struct SessionInfo {
  bool remoteSession = false;  // the remote-session system metric
  DWORD sessionId = 0;         // ProcessIdToSessionId
  bool administrator = true;   // member of the Administrators group
};
SessionInfo GetSessionInfo();
// IPv4 addresses of the host name, in resolution order, dotted decimal.
std::vector<std::string> GetHostAddresses();
// Records a restart request; never restarts the real machine.
bool RequestRestart();

// ---------------------------------------------------------------------------------------------
// Registry

using HKEY = std::uint32_t;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
inline constexpr HKEY HKEY_USERS = 0x80000003;

inline constexpr DWORD KEY_QUERY_VALUE = 0x0001;
inline constexpr DWORD KEY_SET_VALUE = 0x0002;
inline constexpr DWORD KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr DWORD KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr DWORD KEY_READ = 0x20019;
inline constexpr DWORD KEY_WRITE = 0x20006;
inline constexpr DWORD KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

// A value as Windows stores it: strings are UTF-16LE with their terminating null.
struct RegValue {
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> data;

  static RegValue String(const std::string& utf8);
  static RegValue Dword(std::uint32_t value);
  static RegValue Binary(std::vector<std::uint8_t> bytes);
  static RegValue MultiString(const std::vector<std::string>& utf8);
  // The text of a REG_SZ / REG_EXPAND_SZ value, up to its first null.
  std::string AsString() const;
  std::vector<std::string> AsMultiString() const;
};

// "\SOFTWARE\X\" and "SOFTWARE\X" name the same key: the second form, which RegKey::Path() answers.
std::string NormalizedKeyPath(const std::string& path);

// An open registry key (RegOpenKeyEx / RegCreateKeyEx). Every call reads the current registry, so
// writes of other processes are seen; every write is made atomically.
class RegKey {
 public:
  // Error code as the Windows calls answer it (ERROR_FILE_NOT_FOUND for a missing key,
  // ERROR_ACCESS_DENIED for a key the prefix denies).
  static DWORD Open(HKEY root, const std::string& path, DWORD access, RegKey& key);
  static DWORD Create(HKEY root, const std::string& path, DWORD access, RegKey& key);
  static DWORD DeleteKey(HKEY root, const std::string& path);  // the key must have no subkeys
  static bool Exists(HKEY root, const std::string& path);

  bool IsOpen() const { return open_; }
  const std::string& Path() const { return path_; }
  DWORD QueryValue(const std::string& name, RegValue& value) const;
  DWORD SetValue(const std::string& name, const RegValue& value);
  DWORD DeleteValue(const std::string& name);
  DWORD DeleteSubKey(const std::string& name);
  DWORD QueryInfo(DWORD& subKeys, DWORD& values) const;
  std::vector<std::string> SubKeyNames() const;
  std::vector<std::string> ValueNames() const;
  void Close() { open_ = false; }

 private:
  HKEY root_ = 0;
  std::string path_;
  DWORD access_ = 0;
  bool open_ = false;
};

// ---------------------------------------------------------------------------------------------
// Version resources (the record, VersionResource, is in formats/VersionResource.h)

// The version resource of a file (GetFileVersionInfo); a bare name is found by the library search.
// nullopt when the file is missing or has no version resource. The running program's own file
// answers the version it was built with.
std::optional<VersionResource> GetFileVersionInfo(const std::string& path);

}  // namespace kv::win
