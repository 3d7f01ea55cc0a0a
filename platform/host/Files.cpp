// Files and folders of the host backend. A Windows path is mapped through the prefix; share
// modes are open file description locks on marker bytes, so two processes exclude each other as
// Windows share modes do; the read-only attribute is the owner's write bit, enforced even for root.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <thread>

#include "formats/Text.h"
#include "platform/FileUtils.h"
#include "platform/Win32.h"
#include "platform/host/FileTimes.h"
#include "platform/host/Prefix.h"

namespace kv::win {

namespace fs = std::filesystem;
using host::FileTimeFromTimespec;
using host::Prefix;
using host::TimespecFromFileTime;
using host::WindowsErrorFromErrno;

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

std::optional<fs::path> Map(const std::string& path) {
  return Prefix::Current().ToHost(path);
}

bool Fail(DWORD code) {
  lastError = code;
  return false;
}

// ENOENT becomes "file not found" when the folder exists, "path not found" otherwise.
DWORD ErrorFor(int err, const fs::path& hostPath) {
  if (err == ENOENT) {
    struct stat st {};
    const fs::path parent = hostPath.parent_path();
    if (!parent.empty() && ::stat(parent.c_str(), &st) != 0) return ERROR_PATH_NOT_FOUND;
    return ERROR_FILE_NOT_FOUND;
  }
  return WindowsErrorFromErrno(err);
}

bool FailErrno(const fs::path& hostPath) {
  return Fail(ErrorFor(errno, hostPath));
}

bool IsReadOnly(const struct stat& st) {
  return (st.st_mode & S_IWUSR) == 0;
}

// A host name beginning with a dot is hidden, as POSIX shells and Wine treat it.
DWORD AttributesOf(const struct stat& st, const std::string& name) {
  const DWORD hidden = !name.empty() && name[0] == '.' ? FILE_ATTRIBUTE_HIDDEN : 0;
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY | hidden;
  if (IsReadOnly(st)) return FILE_ATTRIBUTE_READONLY | hidden;
  return hidden != 0 ? hidden : FILE_ATTRIBUTE_NORMAL;
}

// Share modes. Every open marks, with a shared lock on a byte far beyond any data, each right it
// uses (read, write, delete) and each right it denies to others; an open is refused when another
// open denies a right it uses, or uses a right it denies. The check and the marking happen under
// an flock of the file, so two opens never race past each other.
enum Right { kRead = 0, kWrite = 1, kDelete = 2 };
constexpr off_t kMarkerBase = off_t{1} << 62;
constexpr off_t UseMarker(Right r) {
  return kMarkerBase + r;
}
constexpr off_t DenyMarker(Right r) {
  return kMarkerBase + 3 + r;
}

struct ShareRequest {
  bool uses[3] = {false, false, false};
  bool denies[3] = {false, false, false};
};

ShareRequest RequestFor(DWORD access, DWORD shareMode, bool deletes = false) {
  ShareRequest request;
  request.uses[kRead] = (access & GENERIC_READ) != 0;
  request.uses[kWrite] = (access & GENERIC_WRITE) != 0;
  request.uses[kDelete] = deletes;
  request.denies[kRead] = (shareMode & FILE_SHARE_READ) == 0;
  request.denies[kWrite] = (shareMode & FILE_SHARE_WRITE) == 0;
  request.denies[kDelete] = (shareMode & FILE_SHARE_DELETE) == 0;
  return request;
}

bool MarkerHeldByOther(int fd, off_t marker) {
  struct flock fl {};
  fl.l_type = F_WRLCK;  // any lock held by another open conflicts with this probe
  fl.l_whence = SEEK_SET;
  fl.l_start = marker;
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

bool Conflicts(int fd, const ShareRequest& request) {
  for (Right r : {kRead, kWrite, kDelete}) {
    if (request.uses[r] && MarkerHeldByOther(fd, DenyMarker(r))) return true;
    if (request.denies[r] && MarkerHeldByOther(fd, UseMarker(r))) return true;
  }
  return false;
}

bool Mark(int fd, off_t marker) {
  struct flock fl {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = marker;
  fl.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

class FlockGuard {
 public:
  explicit FlockGuard(int fd) : fd_(fd) { ::flock(fd_, LOCK_EX); }
  ~FlockGuard() { ::flock(fd_, LOCK_UN); }
  FlockGuard(const FlockGuard&) = delete;
  FlockGuard& operator=(const FlockGuard&) = delete;

 private:
  int fd_;
};

// Checks the request against the other opens and, when it fits, marks it on fd (which the
// caller keeps open for as long as the rights are held).
DWORD Share(int fd, const ShareRequest& request) {
  FlockGuard guard(fd);
  if (Conflicts(fd, request)) return ERROR_SHARING_VIOLATION;
  for (Right r : {kRead, kWrite, kDelete}) {
    if ((request.uses[r] && !Mark(fd, UseMarker(r))) || (request.denies[r] && !Mark(fd, DenyMarker(r)))) {
      return ERROR_SHARING_VIOLATION;
    }
  }
  return ERROR_SUCCESS;
}

// Whether an operation lasting one call (delete, move) may act on the file now.
DWORD SharingState(const fs::path& hostPath, const ShareRequest& request) {
  const int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ERROR_SUCCESS;
  DWORD result = ERROR_SUCCESS;
  {
    FlockGuard guard(fd);
    if (Conflicts(fd, request)) result = ERROR_SHARING_VIOLATION;
  }
  ::close(fd);
  return result;
}

// Deleting or moving a file needs delete access, which every open that does not share delete refuses.
const ShareRequest kDeleteAccess =
    RequestFor(0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true);

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  // Windows matches "*.*" against every name, with or without a dot.
  if (pattern == "*.*" || pattern == "*") return true;
  const std::string p = text::ToUpper(pattern), n = text::ToUpper(name);
  std::size_t pi = 0, ni = 0, star = std::string::npos, mark = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
      ++pi;
      ++ni;
    } else if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = ni;
    } else if (star != std::string::npos) {
      pi = star + 1;
      ni = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

// Makes a rename durable: the folders' entries are written through to the disk.
bool SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return FailErrno(folder);
  const bool ok = ::fsync(fd) == 0;
  const int err = errno;
  ::close(fd);
  if (!ok) return Fail(WindowsErrorFromErrno(err));
  return true;
}

bool SyncFoldersOf(const fs::path& from, const fs::path& to) {
  if (!SyncFolder(to.parent_path())) return false;
  return from.parent_path() == to.parent_path() || SyncFolder(from.parent_path());
}

bool CopyContent(int in, int out) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0) return false;
    if (got == 0) return true;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(out, buffer + done, static_cast<std::size_t>(got - done));
      if (put < 0) return false;
      done += put;
    }
  }
}

}  // namespace

DWORD GetLastError() {
  return lastError;
}
void SetLastError(DWORD code) {
  lastError = code;
}

DWORD GetFileAttributes(const std::string& path) {
  const auto host = Map(path);
  if (!host) return INVALID_FILE_ATTRIBUTES;
  struct stat st {};
  if (::stat(host->c_str(), &st) != 0) {
    FailErrno(*host);
    return INVALID_FILE_ATTRIBUTES;
  }
  const DWORD attributes = AttributesOf(st, host->filename().string());
  // A link answers what it leads to, marked as a link, as Windows answers for a junction. The
  // prefix's drive entries are how drives are mapped, not links of the drive.
  struct stat own {};
  if (::lstat(host->c_str(), &own) == 0 && S_ISLNK(own.st_mode) &&
      host->parent_path() != Prefix::Current().DrivesFolder()) {
    return (attributes == FILE_ATTRIBUTE_NORMAL ? 0 : attributes) | FILE_ATTRIBUTE_REPARSE_POINT;
  }
  return attributes;
}

bool SetFileAttributes(const std::string& path, DWORD attributes) {
  const auto host = Map(path);
  if (!host) return false;
  struct stat st {};
  if (::stat(host->c_str(), &st) != 0) return FailErrno(*host);
  if (S_ISDIR(st.st_mode)) return true;  // Windows ignores read-only on folders
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
  if (::chmod(host->c_str(), mode) != 0) return FailErrno(*host);
  return true;
}

bool CopyFile(const std::string& source, const std::string& target, bool failIfExists) {
  const auto from = Map(source);
  if (!from) return false;
  const auto to = Map(target);
  if (!to) return false;
  struct stat src {};
  if (::stat(from->c_str(), &src) != 0) return FailErrno(*from);
  if (S_ISDIR(src.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  struct stat dst {};
  const bool targetExists = ::stat(to->c_str(), &dst) == 0;
  if (targetExists) {
    if (failIfExists) return Fail(ERROR_FILE_EXISTS);
    if (S_ISDIR(dst.st_mode) || IsReadOnly(dst)) return Fail(ERROR_ACCESS_DENIED);
    if (src.st_dev == dst.st_dev && src.st_ino == dst.st_ino) return Fail(ERROR_SHARING_VIOLATION);
  }
  const int in = ::open(from->c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return FailErrno(*from);
  // CopyFile reads the source sharing read, and writes the target sharing nothing.
  if (const DWORD sharing = Share(in, RequestFor(GENERIC_READ, FILE_SHARE_READ)); sharing != ERROR_SUCCESS) {
    ::close(in);
    return Fail(sharing);
  }
  // Read access too: the share markers are read locks.
  const int flags = O_RDWR | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : 0);
  const int out = ::open(to->c_str(), flags, 0666);
  if (out < 0) {
    const DWORD code = ErrorFor(errno, *to);
    ::close(in);
    return Fail(code);
  }
  if (const DWORD sharing = Share(out, RequestFor(GENERIC_WRITE, 0)); sharing != ERROR_SUCCESS) {
    ::close(in);
    ::close(out);
    return Fail(sharing);
  }
  const timespec times[2] = {{0, UTIME_OMIT}, src.st_mtim};
  const bool ok = ::ftruncate(out, 0) == 0 && CopyContent(in, out) && ::futimens(out, times) == 0 &&
                  ::fchmod(out, src.st_mode & 07777) == 0;
  const int err = errno;  // of the step that failed, before the closes below can change it
  ::close(in);
  if (::close(out) != 0 && ok) return FailErrno(*to);
  if (!ok) return Fail(ErrorFor(err, *to));
  return true;
}

bool DeleteFile(const std::string& path) {
  const auto host = Map(path);
  if (!host) return false;
  struct stat st {};
  if (::lstat(host->c_str(), &st) != 0) return FailErrno(*host);
  if (S_ISDIR(st.st_mode) || IsReadOnly(st)) return Fail(ERROR_ACCESS_DENIED);
  if (const DWORD sharing = SharingState(*host, kDeleteAccess); sharing != ERROR_SUCCESS)
    return Fail(sharing);
  if (::unlink(host->c_str()) != 0) return FailErrno(*host);
  return true;
}

bool RecordMoveAtRestart(const std::string& source, const std::string& target, DWORD flags);

bool MoveFileEx(const std::string& source, const std::string& target, DWORD flags) {
  if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) return RecordMoveAtRestart(source, target, flags);
  const auto from = Map(source);
  if (!from) return false;
  const auto to = Map(target);
  if (!to) return false;
  struct stat src {};
  if (::lstat(from->c_str(), &src) != 0) return FailErrno(*from);
  struct stat dst {};
  if (::stat(to->c_str(), &dst) == 0) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
    if (S_ISDIR(dst.st_mode) || IsReadOnly(dst)) return Fail(ERROR_ACCESS_DENIED);
    if (const DWORD sharing = SharingState(*to, kDeleteAccess); sharing != ERROR_SUCCESS)
      return Fail(sharing);
  }
  if (!S_ISDIR(src.st_mode)) {
    if (const DWORD sharing = SharingState(*from, kDeleteAccess); sharing != ERROR_SUCCESS)
      return Fail(sharing);
  }
  if (::rename(from->c_str(), to->c_str()) == 0) {
    if ((flags & MOVEFILE_WRITE_THROUGH) && !SyncFoldersOf(*from, *to)) return false;
    return true;
  }
  if (errno != EXDEV) return FailErrno(*to);
  if (!(flags & MOVEFILE_COPY_ALLOWED)) return Fail(ERROR_NOT_SAME_DEVICE);
  return CopyFile(source, target, false) && DeleteFile(source);
}

bool CreateDirectory(const std::string& path) {
  const auto host = Map(path);
  if (!host) return false;
  if (::mkdir(host->c_str(), 0777) == 0) return true;
  if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
  return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : WindowsErrorFromErrno(errno));
}

bool RemoveDirectory(const std::string& path) {
  const auto host = Map(path);
  if (!host) return false;
  if (::rmdir(host->c_str()) == 0) return true;
  return FailErrno(*host);
}

bool GetFileLastWriteTime(const std::string& path, FileTime& time) {
  const auto host = Map(path);
  if (!host) return false;
  struct stat st {};
  if (::stat(host->c_str(), &st) != 0) return FailErrno(*host);
  time = FileTimeFromTimespec(st.st_mtim);
  return true;
}

bool SetFileLastWriteTime(const std::string& path, FileTime time) {
  const auto host = Map(path);
  if (!host) return false;
  const timespec times[2] = {{0, UTIME_OMIT}, TimespecFromFileTime(time)};
  if (::utimensat(AT_FDCWD, host->c_str(), times, 0) != 0) return FailErrno(*host);
  return true;
}

FileTime FileTimeToLocalFileTime(FileTime utc) {
  const time_t seconds = TimespecFromFileTime(utc).tv_sec;
  tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return utc;
  // Clamped at both ends of the FILETIME range: an offset never wraps a time around.
  const std::int64_t offset = static_cast<std::int64_t>(local.tm_gmtoff) * 10000000LL;
  if (offset < 0) {
    const auto back = static_cast<FileTime>(-offset);
    return utc < back ? 0 : utc - back;
  }
  const auto ahead = static_cast<FileTime>(offset);
  return utc > std::numeric_limits<FileTime>::max() - ahead ? std::numeric_limits<FileTime>::max()
                                                            : utc + ahead;
}

FileTime GetSystemTimeAsFileTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return FileTimeFromTimespec(ts);
}

std::vector<FindData> FindFiles(const std::string& mask) {
  std::vector<FindData> found;
  std::string m = mask;
  for (char& c : m) {
    if (c == '/') c = '\\';
  }
  const std::string folder = ExtractFilePath(m);
  const std::string pattern = ExtractFileName(m);
  std::optional<fs::path> host = folder.empty() ? std::optional<fs::path>(fs::current_path()) : Map(folder);
  if (!host) return found;
  DIR* dir = ::opendir(host->c_str());
  if (dir == nullptr) {
    Fail(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : WindowsErrorFromErrno(errno));
    return found;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || !WildcardMatch(pattern, name)) continue;
    struct stat st {};
    if (::stat((*host / name).c_str(), &st) != 0) continue;
    FindData data;
    data.name = name;
    data.attributes = AttributesOf(st, name);
    data.lastWriteTime = FileTimeFromTimespec(st.st_mtim);
    data.size = static_cast<std::uint64_t>(st.st_size);
    found.push_back(std::move(data));
  }
  ::closedir(dir);
  if (found.empty()) Fail(ERROR_FILE_NOT_FOUND);
  return found;
}

// ---------------------------------------------------------------------------------------------

void File::Close() {
  if (fd_ >= 0) {
    ::close(fd_);  // closing the description releases its lock
    fd_ = -1;
  }
}

std::optional<File> File::Create(const std::string& path, DWORD access, DWORD shareMode, DWORD disposition) {
  const auto host = Map(path);
  if (!host) return std::nullopt;
  struct stat st {};
  const bool exists = ::stat(host->c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    Fail(ERROR_ACCESS_DENIED);
    return std::nullopt;
  }
  const bool wantsWrite = (access & GENERIC_WRITE) != 0;
  if (exists) {
    if (disposition == CREATE_NEW) {
      Fail(ERROR_FILE_EXISTS);
      return std::nullopt;
    }
    if ((wantsWrite || disposition == CREATE_ALWAYS) && IsReadOnly(st)) {
      Fail(ERROR_ACCESS_DENIED);
      return std::nullopt;
    }
  } else if (disposition == OPEN_EXISTING) {
    FailErrno(*host);
    return std::nullopt;
  }
  int flags = O_CLOEXEC | (wantsWrite || disposition != OPEN_EXISTING ? O_RDWR : O_RDONLY);
  if (disposition == CREATE_NEW) flags |= O_CREAT | O_EXCL;
  if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) flags |= O_CREAT;
  const int fd = ::open(host->c_str(), flags, 0666);
  if (fd < 0) {
    FailErrno(*host);
    return std::nullopt;
  }
  if (const DWORD sharing = Share(fd, RequestFor(access, shareMode)); sharing != ERROR_SUCCESS) {
    ::close(fd);
    Fail(sharing);
    return std::nullopt;
  }
  if (disposition == CREATE_ALWAYS && ::ftruncate(fd, 0) != 0) {
    FailErrno(*host);
    ::close(fd);
    return std::nullopt;
  }
  lastError = exists && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                     : ERROR_SUCCESS;
  return File(fd, host->string());
}

long long File::Read(void* buffer, std::size_t size) {
  const ssize_t got = ::read(fd_, buffer, size);
  if (got < 0) {
    lastError = WindowsErrorFromErrno(errno);
    return -1;
  }
  return got;
}

bool File::Write(const void* buffer, std::size_t size) {
  const char* p = static_cast<const char*>(buffer);
  while (size > 0) {
    const ssize_t put = ::write(fd_, p, size);
    if (put < 0) return Fail(WindowsErrorFromErrno(errno));
    p += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

bool File::SetLastWriteTime(FileTime time) {
  const timespec times[2] = {{0, UTIME_OMIT}, TimespecFromFileTime(time)};
  if (::futimens(fd_, times) != 0) return Fail(WindowsErrorFromErrno(errno));
  return true;
}

std::optional<std::uint64_t> File::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

bool File::Flush() {
  // A disk that cannot write its cache through, as tests reproduce it: [files] flush_error=CODE.
  if (const auto code = Prefix::Current().Ini("files", "flush_error")) {
    char* end = nullptr;
    const unsigned long error = std::strtoul(code->c_str(), &end, 10);
    if (!code->empty() && *end == '\0' && error != 0) return Fail(static_cast<DWORD>(error));
  }
  if (::fsync(fd_) != 0) return Fail(WindowsErrorFromErrno(errno));
  return true;
}

bool File::Rename(const std::string& target, DWORD flags) {
  const auto to = Map(target);
  if (!to) return false;
  struct stat dst {};
  if (::stat(to->c_str(), &dst) == 0) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
    if (S_ISDIR(dst.st_mode) || IsReadOnly(dst)) return Fail(ERROR_ACCESS_DENIED);
    if (const DWORD sharing = SharingState(*to, kDeleteAccess); sharing != ERROR_SUCCESS)
      return Fail(sharing);
  }
  const fs::path from = hostPath_;
  if (::rename(from.c_str(), to->c_str()) != 0) {
    return Fail(errno == EXDEV ? ERROR_NOT_SAME_DEVICE : ErrorFor(errno, *to));
  }
  hostPath_ = to->string();
  if ((flags & MOVEFILE_WRITE_THROUGH) && !SyncFoldersOf(from, *to)) return false;
  return true;
}

// ---------------------------------------------------------------------------------------------

std::uint32_t GetTickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void Sleep(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace kv::win
