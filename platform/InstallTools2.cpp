// TWindowsInstaller, file half: existence, versions, newer-wins copies with backups and replacement
// at restart, fonts, shared-use counts, unique names and the folder library.
#include "platform/InstallTools2.h"

#include <cstdio>
#include <random>

#include "formats/Text.h"
#include "formats/VersionResource.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"

namespace kv {

namespace {

constexpr const char* kSharedDllsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr std::uint32_t kTempNumberMask = (1u << 25) - 1;

// The text of a move that could not be made, shown above the system's message.
std::string CannotMoveText(const std::string& source, const std::string& target) {
  return "Cannot move : \r\n" + source + " to" + "\r\n" + target;
}

std::string ThreeDigits(int i) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%.3d", i);
  return digits;
}

// Critical errors fail at once instead of asking the user (an empty drive); the mode comes back
// on every way out.
class QuietErrorMode {
 public:
  QuietErrorMode() : previous_(win::SetErrorMode(win::SEM_FAILCRITICALERRORS)) {}
  ~QuietErrorMode() { win::SetErrorMode(previous_); }
  QuietErrorMode(const QuietErrorMode&) = delete;
  QuietErrorMode& operator=(const QuietErrorMode&) = delete;

 private:
  unsigned previous_;
};

// ---- Shared-use counts

enum class CountType { Number, Binary, Text };

struct SharedCount {
  std::int64_t count;
  CountType type;
};

[[noreturn]] void RaiseRegistryAccessError() {
  throw Error(std::string("Registry access error : \r\n") + kSharedDllsKey);
}

win::RegKey OpenSharedKey() {
  win::RegKey key;
  if (win::RegKey::Create(win::HKEY_LOCAL_MACHINE, kSharedDllsKey, win::KEY_QUERY_VALUE | win::KEY_SET_VALUE,
                          key) != win::ERROR_SUCCESS) {
    RaiseRegistryAccessError();
  }
  return key;
}

std::optional<std::int64_t> ParseCountText(const std::string& text) {
  const std::string t = text::Trim(text);
  if (t.empty() || t.size() > 10) return std::nullopt;
  std::int64_t n = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return std::nullopt;  // a sign makes it unreadable as well
    n = n * 10 + (c - '0');
  }
  if (n > 0x7FFFFFFF) return std::nullopt;
  return n;
}

// The count in the type it is stored in; nullopt when there is no such value. A value that cannot
// be read, or not as a count, gives the fallback as a number.
std::optional<SharedCount> ReadSharedCount(const win::RegKey& key, const std::string& name,
                                           std::int64_t fallback) {
  win::RegValue value;
  const win::DWORD rc = key.QueryValue(name, value);
  if (rc == win::ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (rc != win::ERROR_SUCCESS) return SharedCount{fallback, CountType::Number};
  switch (value.type) {
    case win::REG_SZ:
      if (const auto n = ParseCountText(value.AsString())) return SharedCount{*n, CountType::Text};
      break;
    case win::REG_BINARY:
      if (!value.data.empty() && value.data.size() <= 4) {
        std::uint32_t n = 0;
        for (std::size_t i = value.data.size(); i-- > 0;) n = (n << 8) | value.data[i];
        return SharedCount{static_cast<std::int32_t>(n), CountType::Binary};
      }
      break;
    case win::REG_DWORD:
      if (value.data.size() == 4) {
        const std::uint32_t n = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                (static_cast<std::uint32_t>(value.data[3]) << 24);
        return SharedCount{static_cast<std::int32_t>(n), CountType::Number};
      }
      break;
    default:
      break;
  }
  return SharedCount{fallback, CountType::Number};
}

void WriteSharedCount(win::RegKey& key, const std::string& name, const SharedCount& c) {
  const auto n = static_cast<std::uint32_t>(static_cast<std::int32_t>(c.count));
  win::RegValue value;
  switch (c.type) {
    case CountType::Text:
      value = win::RegValue::String(std::to_string(c.count));
      break;
    case CountType::Binary:
      value = win::RegValue::Binary({static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                                     static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)});
      break;
    case CountType::Number:
      value = win::RegValue::Dword(n);
      break;
  }
  if (const win::DWORD rc = key.SetValue(name, value); rc != win::ERROR_SUCCESS)
    throw SystemError::FromCode(rc);
}

// ---- WININIT.INI

std::string ReadWholeFile(const std::string& path) {
  auto file = win::File::Create(path, win::GENERIC_READ, win::FILE_SHARE_READ, win::OPEN_EXISTING);
  if (!file) RaiseLastOSError();
  std::string content;
  char buffer[8192];
  for (;;) {
    const long long got = file->Read(buffer, sizeof buffer);
    if (got < 0) RaiseLastOSError();
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  return content;
}

std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    auto end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// WININIT.INI with the entry placed at the end of its [rename] section (made when missing).
std::string WithRenameEntry(const std::vector<std::string>& lines, const std::string& entry) {
  std::string out;
  const auto put = [&](const std::string& line) { out += line + "\r\n"; };
  bool inRename = false, sawRename = false;
  std::size_t i = 0;
  for (; i < lines.size(); ++i) {
    const std::string trimmed = text::Trim(lines[i]);
    if (!trimmed.empty() && trimmed.front() == '[') {
      if (inRename) break;  // the next section ends the rename section
      if (text::IEquals(trimmed, "[rename]")) inRename = sawRename = true;
    }
    put(lines[i]);
  }
  if (!sawRename) put("[rename]");
  put(entry);
  for (; i < lines.size(); ++i) put(lines[i]);
  return out;
}

void WriteWholeFile(const std::string& path, const std::string& content) {
  auto file = win::File::Create(path, win::GENERIC_WRITE, 0, win::CREATE_ALWAYS);
  if (!file || !file->Write(content.data(), content.size())) RaiseLastOSError();
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TWindowsInstaller::TWindowsInstaller(const std::string& SourceToolsPath) : FToolsPath(SourceToolsPath) {}

TWindowsInstaller::~TWindowsInstaller() {
  FreeFolderLibraries();
}

TWindowsInstaller::Seams& TWindowsInstaller::TheSeams() {
  static Seams seams;
  return seams;
}

std::string TWindowsInstaller::AddBackslash(const std::string& S) {
  return PathWithDelimiter(S);
}

std::string TWindowsInstaller::StripTrailingBackslash(const std::string& P) {
  if (P.size() > 1 && P.back() == '\\' && P[P.size() - 2] != ':') return P.substr(0, P.size() - 1);
  return P;
}

win::DWORD TWindowsInstaller::GetAttributesQuiet(const std::string& P) {
  const QuietErrorMode quiet;
  return win::GetFileAttributes(StripTrailingBackslash(P));
}

bool TWindowsInstaller::FileOrDirExists(const std::string& Name) {
  return GetAttributesQuiet(Name) != win::INVALID_FILE_ATTRIBUTES;
}

bool TWindowsInstaller::FileExists(const std::string& Name) {
  const win::DWORD attributes = GetAttributesQuiet(Name);
  return attributes != win::INVALID_FILE_ATTRIBUTES && (attributes & win::FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool TWindowsInstaller::DirectoryExists(const std::string& P) {
  const win::DWORD attributes = GetAttributesQuiet(P);
  return attributes != win::INVALID_FILE_ATTRIBUTES && (attributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool TWindowsInstaller::GetFixedFileVersion(const std::string& F, FixedVersion& version) {
  const auto info = win::GetFileVersionInfo(F);
  if (!info || !info->hasFixedInfo) return false;
  version.ms = info->fileVersionMS;
  version.ls = info->fileVersionLS;
  return true;
}

bool TWindowsInstaller::GetFileVersion(const std::string& FileName, std::uint16_t& v1, std::uint16_t& v2,
                                       std::uint16_t& v3, std::uint16_t& v4) {
  FixedVersion version;
  if (!GetFixedFileVersion(FileName, version)) return false;
  v1 = static_cast<std::uint16_t>(version.ms >> 16);
  v2 = static_cast<std::uint16_t>(version.ms & 0xFFFF);
  v3 = static_cast<std::uint16_t>(version.ls >> 16);
  v4 = static_cast<std::uint16_t>(version.ls & 0xFFFF);
  return true;
}

std::string TWindowsInstaller::GetFileVersion(const std::string& FileName) {
  FixedVersion version;
  if (!GetFixedFileVersion(FileName, version)) return "?";
  return win::FormatVersionNumbers(version.ms, version.ls);
}

bool TWindowsInstaller::GetFileWriteTime(const std::string& F, win::FileTime& time) {
  time = 0;
  const auto found = win::FindFiles(F);
  if (found.empty() || (found.front().attributes & win::FILE_ATTRIBUTE_DIRECTORY)) return false;
  time = win::FileTimeToLocalFileTime(found.front().lastWriteTime);
  return true;
}

int TWindowsInstaller::CompareFileVersion(const std::string& CurrentFile, const std::string& NewFile) {
  if (!FileExists(NewFile)) throw Error("File not found : " + NewFile);
  if (!FileExists(CurrentFile)) return 1;
  FixedVersion current, candidate;
  if (GetFixedFileVersion(CurrentFile, current) && GetFixedFileVersion(NewFile, candidate)) {
    if (current.ms != candidate.ms) return current.ms < candidate.ms ? 1 : -1;
    if (current.ls != candidate.ls) return current.ls < candidate.ls ? 1 : -1;
    return 0;
  }
  win::FileTime currentTime = 0, newTime = 0;
  if (GetFileWriteTime(CurrentFile, currentTime) && GetFileWriteTime(NewFile, newTime)) {
    if (newTime == currentTime) return 0;
    return newTime > currentTime ? 1 : -1;
  }
  return 1;
}

bool TWindowsInstaller::IsFileNewer(const std::string& CurrentFile, const std::string& NewFile) {
  return CompareFileVersion(CurrentFile, NewFile) == 1;
}

namespace {

void WriteBase32Digits(std::uint32_t n, char* out) {
  static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
  for (int i = 4; i >= 0; --i) {
    out[i] = kDigits[n & 31];
    n >>= 5;
  }
}

}  // namespace

std::string TWindowsInstaller::EncodeBase32Digits(std::uint32_t N) {
  std::string out(5, '0');
  WriteBase32Digits(N, out.data());
  return out;
}

std::string TWindowsInstaller::MakeTempNameInDir(const std::string& Dir, const std::string& Ext) {
  Seams& seams = TheSeams();
  std::uint32_t start;
  if (seams.randomStart) {
    start = seams.randomStart() & kTempNumberMask;
  } else {
    static thread_local std::mt19937 generator{std::random_device{}()};
    start = std::uniform_int_distribution<std::uint32_t>(0, kTempNumberMask)(generator);
  }
  // One buffer whose five digits are rewritten: the search may visit all 2^25 numbers.
  std::string candidate = AddBackslash(Dir) + "is-00000" + Ext;
  const std::size_t digits = candidate.size() - Ext.size() - 5;
  std::uint32_t number = start;
  for (;;) {
    number = (number + 1) & kTempNumberMask;
    if (number == start) throw Error("Error Too many files in dir");
    WriteBase32Digits(number, candidate.data() + digits);
    const bool taken = seams.nameTaken ? seams.nameTaken(candidate) : FileOrDirExists(candidate);
    if (!taken) return candidate;
  }
}

std::string TWindowsInstaller::MakeNumberedFileName(const std::string& F) {
  const std::string name = ExtractFileName(F);
  const auto dot = name.rfind('.');
  const std::size_t extLength = dot == std::string::npos ? 0 : name.size() - dot;
  const std::string stem = F.substr(0, F.size() - extLength);
  const std::string ext = F.substr(F.size() - extLength);
  for (int i = 0; i <= 999; ++i) {
    const std::string candidate = stem + ThreeDigits(i) + ext;
    if (!FileExists(candidate)) return candidate;
  }
  throw Error("Cannot find unique filename for\r\n" + F);
}

std::string TWindowsInstaller::ShortPathOf(const std::string& P) {
  return win::GetShortPathName(P).value_or(P);
}

void TWindowsInstaller::ScheduleReplaceAtRestart(const std::string& Source, const std::string& Target) {
  if (win::GetVersion().nt) {
    if (!win::MoveFileEx(Source, Target, win::MOVEFILE_REPLACE_EXISTING | win::MOVEFILE_DELAY_UNTIL_REBOOT)) {
      ShowLastError(CannotMoveText(Source, Target), false);
    }
    return;
  }
  // The 9x family replaces files at boot from the [rename] section of WININIT.INI: target=source,
  // NUL as target deletes the source. Short names, as DOS reads them at that time.
  const std::string windows = GetWinPath();
  const std::string wininit = windows + "WININIT.INI";
  const std::string entry = text::Utf8ToCp1252((Target.empty() ? std::string("NUL") : ShortPathOf(Target)) +
                                               "=" + ShortPathOf(Source));
  if (!FileExists(wininit)) {
    WriteWholeFile(wininit, WithRenameEntry({}, entry));
    return;
  }
  const std::string temp = MakeTempNameInDir(windows, ".tmp");
  win::FlushPrivateProfileCache(wininit);
  try {
    WriteWholeFile(temp, WithRenameEntry(SplitLines(ReadWholeFile(wininit)), entry));
  } catch (...) {
    win::DeleteFile(temp);
    throw;
  }
  if (!win::DeleteFile(wininit)) FileDeleteError(wininit, false);
  if (!win::MoveFileEx(temp, wininit, 0)) ShowLastError(CannotMoveText(temp, wininit), false);
}

void TWindowsInstaller::ReplaceTargetFile(const std::string& Source, const std::string& Target,
                                          bool& MustReboot) {
  MustReboot = false;
  const auto copyTo = [&](const std::string& destination) {
    if (!win::CopyFile(Source, destination, true)) FileCopyError(Source, destination, false);
    if (!win::SetFileAttributes(destination, win::FILE_ATTRIBUTE_NORMAL))
      FileAttributesError(destination, false);
  };
  if (!FileExists(Target)) {
    copyTo(Target);
    return;
  }
  const win::DWORD attributes = win::GetFileAttributes(Target);
  if (attributes == win::INVALID_FILE_ATTRIBUTES) FileAttributesError(Target, false);
  if ((attributes & win::FILE_ATTRIBUTE_READONLY) &&
      !win::SetFileAttributes(Target, win::FILE_ATTRIBUTE_NORMAL)) {
    FileAttributesError(Target, false);
  }
  if (win::DeleteFile(Target)) {
    copyTo(Target);
    return;
  }
  const win::DWORD error = win::GetLastError();
  if (error != win::ERROR_ACCESS_DENIED && error != win::ERROR_SHARING_VIOLATION)
    FileDeleteError(Target, false);
  // In use: the new content waits beside the target until the system restarts.
  const std::string waiting = MakeNumberedFileName(Target);
  copyTo(waiting);
  MustReboot = true;
  ScheduleReplaceAtRestart(waiting, Target);
}

bool TWindowsInstaller::CopyOrReplaceFileIfNewer(const std::string& SourceFileName,
                                                 const std::string& DestDir, const std::string& BackupDir,
                                                 bool& MustReboot) {
  MustReboot = false;
  if (!BackupDir.empty() && !DirectoryExists(BackupDir)) {
    throw Error("Backup directry does not exist :\r\n" + BackupDir);
  }
  const std::string target = AddBackslash(DestDir) + ExtractFileName(SourceFileName);
  if (CompareFileVersion(target, SourceFileName) != 1) return false;
  const std::string backupDir = AddBackslash(BackupDir.empty() ? DestDir : BackupDir);
  if (FileExists(target)) {
    const std::string name = ExtractFileName(target);
    std::string backup = backupDir + name;
    for (int counter = 0; FileExists(backup); ++counter)
      backup = backupDir + name + "_" + std::to_string(counter);
    if (!win::CopyFile(target, backup, true)) FileCopyError(target, backup, false);
  }
  ReplaceTargetFile(SourceFileName, target, MustReboot);
  return true;
}

void TWindowsInstaller::CopyOrReplaceFileIfNewer(const std::string& SourceFileName,
                                                 const std::string& TargetPath) {
  const std::string target = AddBackslash(TargetPath) + ExtractFileName(SourceFileName);
  if (FileExists(target)) {
    if (CompareFileVersion(target, SourceFileName) != 1) return;
    win::SetFileAttributes(target, win::FILE_ATTRIBUTE_NORMAL);
  }
  if (!win::CopyFile(SourceFileName, target, false)) FileCopyError(SourceFileName, target, false);
}

void TWindowsInstaller::CopyToSystem(const std::string& FileName) {
  bool mustReboot = false;
  CopyOrReplaceFileIfNewer(FileName, win::GetSystemDirectory(), "", mustReboot);
}

void TWindowsInstaller::CopyAndInstallFont(const std::string& SourceFilename, const std::string& FontName) {
  for (const std::string& installed : win::EnumFontFamilies()) {
    if (text::IEquals(installed, FontName)) return;
  }
  std::string folder = GetFolderBySpecialId(win::CSIDL_FONTS);
  if (folder.empty()) folder = GetWinSystemPath();
  const std::string fileName = ExtractFileName(SourceFilename);
  const std::string destination = AddBackslash(folder) + fileName;
  if (!FileExists(destination)) {
    if (!win::CopyFile(SourceFilename, destination, true)) RaiseLastOSError();
    win::SetFileAttributes(destination, win::FILE_ATTRIBUTE_NORMAL);
  }
  const char* fontsKey = win::GetVersion().nt ? "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"
                                              : "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
  win::RegKey key;
  if (win::RegKey::Open(win::HKEY_LOCAL_MACHINE, fontsKey, win::KEY_SET_VALUE, key) == win::ERROR_SUCCESS) {
    key.SetValue(FontName, win::RegValue::String(fileName));
    key.Close();
  }
  if (win::AddFontResource(destination) > 0)
    win::SendNotifyMessage(win::HWND_BROADCAST, win::WM_FONTCHANGE, 0, 0);
}

void TWindowsInstaller::IncrementSharedCount(const std::string& Filename, bool /*AlreadyExisted*/) {
  win::RegKey key = OpenSharedKey();
  SharedCount c = ReadSharedCount(key, Filename, 0).value_or(SharedCount{0, CountType::Number});
  if (c.count < 0) c.count = 0;
  ++c.count;
  WriteSharedCount(key, Filename, c);
}

bool TWindowsInstaller::DecrementSharedCount(const std::string& Filename) {
  win::RegKey key = OpenSharedKey();
  const auto stored = ReadSharedCount(key, Filename, 2);
  if (!stored) return false;
  SharedCount c = *stored;
  --c.count;
  // A stored count of zero or below has no user left either: the value goes.
  if (c.count <= 0) {
    key.DeleteValue(Filename);
    return true;
  }
  WriteSharedCount(key, Filename, c);
  return false;
}

void TWindowsInstaller::RemoveSharedCount(const std::string& Filename) {
  win::RegKey key = OpenSharedKey();
  win::RegValue existing;
  if (key.QueryValue(Filename, existing) != win::ERROR_FILE_NOT_FOUND) key.DeleteValue(Filename);
}

void TWindowsInstaller::EnsureDirectoryExists(const std::string& Path) {
  if (!DirectoryExists(Path)) throw Error("Directory does not exist :\r\n" + Path);
}

std::string TWindowsInstaller::CreateUniqueDir(const std::string& Path, const std::string& Name) {
  EnsureDirectoryExists(Path);
  std::string base = Path;
  AddTrailingBackslash(base);
  for (int i = 0; i <= 999; ++i) {
    const std::string candidate = base + Name + ThreeDigits(i);
    if (DirectoryExists(candidate)) continue;
    if (!win::CreateDirectory(candidate)) ShowLastError("Cannot create directory :\r\n" + candidate, false);
    return candidate;
  }
  throw Error("Cannot create unique directory in\r\n" + Path);
}

// ---- The folder library

void TWindowsInstaller::LoadFolderFunction() {
  if (SHFolderShell32Handle != 0 || SHFolderDLLHandle != 0) return;
  SHFolderShell32Handle = win::LoadLibrary("shell32.dll");
  if (SHFolderShell32Handle == 0) RaiseLastOSError();
  SHFolderDLLHandle = win::LoadLibrary(FToolsPath + "shfolder.dll");
  if (SHFolderDLLHandle == 0) {
    const SystemError error = SystemError::FromLastError();
    // Released again so that the next lookup tries anew instead of calling no function.
    FreeFolderLibraries();
    throw SystemError(error.code(), std::string(error.what()) + "\r\n" + "\r\n" + "shfolder.dll");
  }
  SHGetFolderPathFunc = reinterpret_cast<win::SHGetFolderPathFunction>(
      win::GetProcAddress(SHFolderDLLHandle, "SHGetFolderPathA"));
  if (SHGetFolderPathFunc == nullptr) {
    FreeFolderLibraries();
    throw Error("Failed to get address of SHGetFolderPathA function");
  }
}

void TWindowsInstaller::FreeFolderLibraries() {
  SHGetFolderPathFunc = nullptr;
  if (SHFolderDLLHandle != 0) win::FreeLibrary(SHFolderDLLHandle);
  SHFolderDLLHandle = 0;
  if (SHFolderShell32Handle != 0) win::FreeLibrary(SHFolderShell32Handle);
  SHFolderShell32Handle = 0;
}

std::string TWindowsInstaller::GetFolderBySpecialId(int id, bool create) {
  LoadFolderFunction();
  char path[win::MAX_PATH] = {};
  const int folder = create ? id | win::CSIDL_FLAG_CREATE : id;
  if (!win::SUCCEEDED(SHGetFolderPathFunc(0, folder, 0, 0, path))) return {};
  return StripTrailingBackslash(path);
}

}  // namespace kv
