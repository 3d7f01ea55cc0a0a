// Files and folders on the real API: the W entries with the share modes the caller asks for, the
// last error Windows' own, write-through by FlushFileBuffers and MOVEFILE_WRITE_THROUGH.
#include <cstring>
#include <vector>

#include "platform/FileUtils.h"
#include "platform/Win32.h"
#include "platform/Win32Shell.h"
#include "platform/win32/Api.h"

namespace kv::win {

using win32::Fail;
using win32::FromFiletime;
using win32::ToFiletime;
using win32::WidePath;

DWORD GetLastError() {
  return ::GetLastError();
}
void SetLastError(DWORD code) {
  ::SetLastError(code);
}

DWORD GetFileAttributes(const std::string& path) {
  return ::GetFileAttributesW(WidePath(path).c_str());
}

bool SetFileAttributes(const std::string& path, DWORD attributes) {
  return ::SetFileAttributesW(WidePath(path).c_str(), attributes) != 0;
}

namespace {

// Windows refuses to delete, replace or copy over a read-only file; Wine does all three (it keeps the
// attribute as the owner's write bit, which POSIX does not ask for an unlink), so the backend checks it
// first.
bool IsReadOnlyFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool CopyFile(const std::string& source, const std::string& target, bool failIfExists) {
  const std::wstring to = WidePath(target);
  if (!failIfExists && IsReadOnlyFile(to)) return Fail(ERROR_ACCESS_DENIED);
  return ::CopyFileW(WidePath(source).c_str(), to.c_str(), failIfExists ? TRUE : FALSE) != 0;
}

bool DeleteFile(const std::string& path) {
  const std::wstring wide = WidePath(path);
  if (IsReadOnlyFile(wide)) return Fail(ERROR_ACCESS_DENIED);
  return ::DeleteFileW(wide.c_str()) != 0;
}

bool MoveFileEx(const std::string& source, const std::string& target, DWORD flags) {
  // An empty target with MOVEFILE_DELAY_UNTIL_REBOOT asks for the source's deletion at restart.
  const std::wstring to = WidePath(target);
  if (!(flags & MOVEFILE_DELAY_UNTIL_REBOOT) && !to.empty() && IsReadOnlyFile(to))
    return Fail(ERROR_ACCESS_DENIED);
  return ::MoveFileExW(WidePath(source).c_str(), target.empty() ? nullptr : to.c_str(), flags) != 0;
}

bool CreateDirectory(const std::string& path) {
  return ::CreateDirectoryW(WidePath(path).c_str(), nullptr) != 0;
}

bool RemoveDirectory(const std::string& path) {
  return ::RemoveDirectoryW(WidePath(path).c_str()) != 0;
}

bool GetFileLastWriteTime(const std::string& path, FileTime& time) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) return false;
  time = FromFiletime(data.ftLastWriteTime);
  return true;
}

bool SetFileLastWriteTime(const std::string& path, FileTime time) {
  // FILE_WRITE_ATTRIBUTES only, shared with every other open, as the shell's touch does; a
  // folder needs FILE_FLAG_BACKUP_SEMANTICS.
  const win32::Handle file(::CreateFileW(WidePath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.Valid()) return false;
  const FILETIME written = ToFiletime(time);
  return ::SetFileTime(file.Get(), nullptr, nullptr, &written) != 0;
}

FileTime FileTimeToLocalFileTime(FileTime utc) {
  const FILETIME in = ToFiletime(utc);
  FILETIME out{};
  if (!::FileTimeToLocalFileTime(&in, &out)) return utc;
  return FromFiletime(out);
}

FileTime GetSystemTimeAsFileTime() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return FromFiletime(now);
}

std::vector<FindData> FindFiles(const std::string& mask) {
  std::vector<FindData> found;
  WIN32_FIND_DATAW data{};
  const HANDLE find = ::FindFirstFileW(WidePath(mask).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return found;
  do {
    const std::wstring_view name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    FindData entry;
    entry.name = win32::Utf8(name);
    entry.attributes = data.dwFileAttributes;
    entry.lastWriteTime = FromFiletime(data.ftLastWriteTime);
    entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    found.push_back(std::move(entry));
  } while (::FindNextFileW(find, &data));
  const DWORD end = ::GetLastError();
  ::FindClose(find);
  // Only "." and ".." (an empty folder matched by "*"): nothing found, as the host answers.
  ::SetLastError(found.empty() ? ERROR_FILE_NOT_FOUND : end);
  return found;
}

// ---------------------------------------------------------------------------------------------
// Open files. The handle is kept as an int: Windows guarantees that kernel handles fit in 32 bits
// (sign-extended), and -1 is INVALID_HANDLE_VALUE.

namespace {

HANDLE HandleOf(int fd) {
  return ::LongToHandle(fd);
}

}  // namespace

void File::Close() {
  if (fd_ >= 0) {
    ::CloseHandle(HandleOf(fd_));
    fd_ = -1;
  }
}

std::optional<File> File::Create(const std::string& path, DWORD access, DWORD shareMode, DWORD disposition) {
  // A new file is opened with DELETE access too, so that Rename can give it its final name while
  // it is held. An existing one gets only what is asked: DELETE would collide with the share
  // modes of other opens that do not share deletion.
  const DWORD rights = disposition == CREATE_NEW ? access | DELETE : access;
  const HANDLE handle = ::CreateFileW(WidePath(path).c_str(), rights, shareMode, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  return File(::HandleToLong(handle), path);
}

long long File::Read(void* buffer, std::size_t size) {
  ::DWORD got = 0;
  const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!::ReadFile(HandleOf(fd_), buffer, chunk, &got, nullptr)) return -1;
  return got;
}

bool File::Write(const void* buffer, std::size_t size) {
  const char* p = static_cast<const char*>(buffer);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    ::DWORD put = 0;
    if (!::WriteFile(HandleOf(fd_), p, chunk, &put, nullptr)) return false;
    p += put;
    size -= put;
  }
  return true;
}

bool File::SetLastWriteTime(FileTime time) {
  const FILETIME written = ToFiletime(time);
  return ::SetFileTime(HandleOf(fd_), nullptr, nullptr, &written) != 0;
}

std::optional<std::uint64_t> File::Size() const {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(HandleOf(fd_), &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool File::Flush() {
  return ::FlushFileBuffers(HandleOf(fd_)) != 0;
}

bool File::Rename(const std::string& target, DWORD flags) {
  const std::wstring to = WidePath(target);
  if (IsReadOnlyFile(to)) return Fail(ERROR_ACCESS_DENIED);
  // FILE_RENAME_INFO ends with the new name; the structure is allocated with room for it.
  std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + (to.size() + 1) * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = (flags & MOVEFILE_REPLACE_EXISTING) ? TRUE : FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, to.c_str(), (to.size() + 1) * sizeof(wchar_t));
  if (!::SetFileInformationByHandle(HandleOf(fd_), FileRenameInfo, info, static_cast<DWORD>(buffer.size()))) {
    return false;
  }
  hostPath_ = target;
  return !(flags & MOVEFILE_WRITE_THROUGH) || Flush();
}

// ---------------------------------------------------------------------------------------------

std::uint32_t GetTickCount() {
  return static_cast<std::uint32_t>(::GetTickCount64());
}

void Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

}  // namespace kv::win
