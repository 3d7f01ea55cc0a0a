// TWindowsInstaller, system half: folders, operating system, terminal services, rights, addresses,
// drives, restart, shortcuts and registry chores.
#include <algorithm>
#include <array>
#include <cstdlib>

#include "formats/Text.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/InstallTools2.h"
#include "platform/Messages.h"

namespace kv {

namespace {

bool IsNt(win::DWORD major, win::DWORD minor) {
  const win::OsVersion v = win::GetVersion();
  return v.nt && v.major == major && v.minor == minor;
}

// A COM failure as the system's error for that result.
void OleCheck(win::HRESULT result) {
  if (win::SUCCEEDED(result)) return;
  const auto code = static_cast<std::uint32_t>(result);
  const bool win32 = (code & 0xFFFF0000u) == 0x80070000u;
  throw SystemError(code, SystemErrorText(win32 ? code & 0xFFFF : code));
}

}  // namespace

// ---- Folders

std::string TWindowsInstaller::GetWinPath() {
  return AddBackslash(win::GetWindowsDirectory());
}

std::string TWindowsInstaller::GetWinSystemPath() {
  const std::string windows = GetWinPath();
  std::string system = win::GetSystemDirectory();
  if (!text::IStartsWith(system, windows)) {
    // A system folder outside the Windows folder is used only when it can be written.
    bool writable = false;
    try {
      const std::string probe = MakeTempNameInDir(system, ".tmp");
      if (auto file = win::File::Create(probe, win::GENERIC_WRITE, 0, win::CREATE_NEW)) {
        file->Close();
        writable = win::DeleteFile(probe);
      }
    } catch (const Error&) {
      writable = false;
    }
    if (!writable) system = windows;
  }
  return AddBackslash(system);
}

std::string TWindowsInstaller::GetTempPath() {
  const std::string temp = win::GetTempPath();
  if (temp.empty()) RaiseLastOSError();
  return AddBackslash(temp);
}

std::string TWindowsInstaller::FolderPath(int id) {
  return AddBackslash(GetFolderBySpecialId(id));
}

std::string TWindowsInstaller::GetCurrentProfilePath() {
  if (IsWindowsNT4()) {
    const std::string windows = GetWinPath();
    if (windows.empty()) return {};
    return windows + "profiles\\" + GetUsername() + "\\";
  }
  return FolderPath(win::CSIDL_PROFILE);
}

std::string TWindowsInstaller::GetMyDocumentsPath() {
  win::ItemIdList list;
  if (win::SUCCEEDED(win::SHGetSpecialFolderLocation(0, win::CSIDL_PERSONAL, list))) {
    char path[win::MAX_PATH] = {};
    if (win::SHGetPathFromIDList(list, path) && path[0] != '\0') return AddBackslash(path);
  }
  return FolderPath(win::CSIDL_MYDOCUMENTS);
}

std::string TWindowsInstaller::GetLocalAppDataPath() {
  return FolderPath(win::CSIDL_LOCAL_APPDATA);
}
std::string TWindowsInstaller::GetUserAppDataPath() {
  return FolderPath(win::CSIDL_APPDATA);
}
std::string TWindowsInstaller::GetAllUsersAppDataPath() {
  return FolderPath(win::CSIDL_COMMON_APPDATA);
}
std::string TWindowsInstaller::GetCommonDesktopPath() {
  return FolderPath(win::CSIDL_COMMON_DESKTOPDIRECTORY);
}
std::string TWindowsInstaller::GetDesktopPath() {
  return FolderPath(win::CSIDL_DESKTOPDIRECTORY);
}

std::string TWindowsInstaller::GetProgramsPath() {
  std::string path = GetFolderBySpecialId(win::CSIDL_PROGRAM_FILES);
  if (path.empty()) {
    win::RegKey key;
    if (win::RegKey::Open(win::HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                          win::KEY_READ, key) == win::ERROR_SUCCESS) {
      win::RegValue value;
      if (key.QueryValue("ProgramFilesDir", value) == win::ERROR_SUCCESS &&
          (value.type == win::REG_SZ || value.type == win::REG_EXPAND_SZ)) {
        path = value.AsString();
      }
    }
  }
  if (path.empty()) {
    // Older systems named the folder in their own language.
    static constexpr std::array<std::uint16_t, 5> kGerman = {1031, 2055, 3079, 4103, 5127};
    static constexpr std::array<std::uint16_t, 2> kItalian = {1040, 2064};
    const std::uint16_t language = win::GetSystemDefaultLangID();
    const auto localised = [&](const char* windows, const char* winnt) {
      path = windows;
      if (!IsExistingFolder(path)) path = winnt;
    };
    if (std::find(kGerman.begin(), kGerman.end(), language) != kGerman.end()) {
      localised("C:\\Windows\\Programme", "C:\\WinNT\\Programme");
    } else if (std::find(kItalian.begin(), kItalian.end(), language) != kItalian.end()) {
      localised("C:\\Windows\\programmi", "C:\\WinNT\\programmi");
    }
    if (!IsExistingFolder(path)) path = "C:\\Windows\\Program files";
    if (!IsExistingFolder(path)) path = "C:\\WinNT\\Program files";
    if (!IsExistingFolder(path)) path.clear();
  }
  return AddBackslash(path);
}

std::string TWindowsInstaller::GetUsername() {
  const auto name = win::GetUserName(64);
  if (!name) {
    if (win::GetLastError() == win::ERROR_NOT_LOGGED_ON) return "?";
    RaiseLastOSError();
  }
  return *name;
}

void TWindowsInstaller::GetIEVersion(std::uint16_t& v1, std::uint16_t& v2, std::uint16_t& v3,
                                     std::uint16_t& v4) {
  std::string version;
  win::RegKey key;
  if (win::RegKey::Open(win::HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer", win::KEY_READ,
                        key) == win::ERROR_SUCCESS) {
    win::RegValue value;
    if (key.QueryValue("Version", value) != win::ERROR_SUCCESS) {
      version = "0.0.0.0";
    } else if (value.type == win::REG_SZ || value.type == win::REG_EXPAND_SZ) {
      version = value.AsString();
    } else {
      throw Error(RegistryTypeErrorText("Version"));
    }
  }
  std::array<std::uint16_t, 4> numbers{};
  const auto parts = text::Split(version, '.');
  for (std::size_t i = 0; i < numbers.size() && i < parts.size(); ++i) {
    const std::string part = text::Trim(parts[i]);
    char* end = nullptr;
    const long n = std::strtol(part.c_str(), &end, 10);
    numbers[i] = (part.empty() || *end != '\0') ? 0 : static_cast<std::uint16_t>(n);
  }
  v1 = numbers[0];
  v2 = numbers[1];
  v3 = numbers[2];
  v4 = numbers[3];
}

// ---- Terminal services

bool TWindowsInstaller::IsTSInstalled() {
  win::RegKey key;
  if (win::RegKey::Open(win::HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions",
                        win::KEY_READ, key) != win::ERROR_SUCCESS) {
    return false;
  }
  win::RegValue value;
  if (key.QueryValue("ProductSuite", value) != win::ERROR_SUCCESS) return false;
  if (value.data.size() > 128) throw Error(RegistryTypeErrorText("ProductSuite"));
  // The suite is a list of UTF-16 names: its non-zero bytes spell them out.
  std::string suite;
  for (std::uint8_t b : value.data) {
    if (b != 0) suite += static_cast<char>(b);
  }
  return suite.find("Terminal Server") != std::string::npos;
}

bool TWindowsInstaller::IsOnNT4TS() {
  const win::OsVersion v = win::GetVersion();
  return v.nt && v.major == 4 && IsTSInstalled();
}

bool TWindowsInstaller::IsRunningInsideTSSession() {
  return !IsWindows9X() && IsTSInstalled() && win::GetSessionInfo().remoteSession;
}

int TWindowsInstaller::GetTSESessionID() {
  // Never inside a session on the 9x family, so the lookup below runs on NT only.
  if (!IsRunningInsideTSSession()) return 0;
  const auto processIdToSessionId = reinterpret_cast<win::ProcessIdToSessionIdFunction>(
      win::GetProcAddress(win::GetModuleHandle("kernel32.dll"), "ProcessIdToSessionId"));
  if (processIdToSessionId == nullptr) throw Error("API CALL ERROR");
  win::DWORD session = 0;
  if (!processIdToSessionId(win::GetCurrentProcessId(), &session)) return 0;
  return static_cast<int>(session);
}

bool TWindowsInstaller::IsAcroreadInstalled() {
  return win::RegKey::Exists(win::HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Adobe\\Acrobat Reader") ||
         win::RegKey::Exists(win::HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Adobe\\Acrobat");
}

// ---- Operating system

bool TWindowsInstaller::IsWindows9X() {
  return !win::GetVersion().nt;
}
bool TWindowsInstaller::IsWindowsNT4() {
  return IsNt(4, 0);
}
bool TWindowsInstaller::IsWindowsXP() {
  return IsNt(5, 1);
}
bool TWindowsInstaller::IsWindows2003() {
  return IsNt(5, 2);
}
bool TWindowsInstaller::IsWindowsVista() {
  return IsNt(6, 0);
}
bool TWindowsInstaller::IsWindowsSeven() {
  return IsNt(6, 1);
}

bool TWindowsInstaller::IsAdministrator() {
  if (IsWindows9X()) return true;
  return win::GetSessionInfo().administrator;
}

bool TWindowsInstaller::IsNTFS(char volume) {
  const auto name = win::GetVolumeFileSystemName(std::string(1, volume) + ":\\");
  if (!name) RaiseLastOSError();
  return name->substr(0, 29).starts_with("NTFS");  // the 30-character buffer of the system call
}

void TWindowsInstaller::GetLocalIPAdresses(std::vector<std::string>& list) {
  const auto addresses = win::GetHostAddresses();
  const std::size_t count = std::min<std::size_t>(addresses.size(), 256);
  list.insert(list.end(), addresses.begin(), addresses.begin() + static_cast<std::ptrdiff_t>(count));
}

void TWindowsInstaller::GetLocalDriveLetters(std::vector<std::string>& DriveList) {
  DriveList.clear();
  const win::DWORD mask = win::GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if ((mask & (1u << i)) == 0) continue;
    const char letter = static_cast<char>('A' + i);
    if (win::GetDriveType(std::string(1, letter) + ":\\") == win::DRIVE_FIXED) {
      DriveList.emplace_back(1, static_cast<char>('a' + i));
    }
  }
}

bool TWindowsInstaller::FindCDRomLetter(const std::string& FileToFind, char& DriveLetter) {
  const auto& wait = TheSeams().wait;
  for (int pass = 0; pass < 10; ++pass) {
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
      const std::string root = std::string(1, letter) + ":\\";
      if (win::GetDriveType(root) == win::DRIVE_CDROM && FileExists(root + FileToFind)) {
        DriveLetter = letter;
        return true;
      }
    }
    if (wait) {
      wait(1000);
    } else {
      win::Sleep(1000);
    }
  }
  return false;
}

void TWindowsInstaller::RestartComputer() {
  // Both families end in the same request; the rights to shut down are the session's.
  win::RequestRestart();
}

bool TWindowsInstaller::NeedsVBRun60R5() {
  struct Minimum {
    const char* file;
    std::array<std::uint16_t, 4> version;
  };
  static constexpr Minimum kMinimums[] = {
      {"asycfilt.dll", {2, 40, 4275, 1}}, {"comcat.dll", {4, 71, 1460, 1}},
      {"msvbvm60.dll", {6, 0, 89, 64}},   {"oleaut32.dll", {2, 40, 4275, 1}},
      {"olepro32.dll", {5, 0, 4275, 1}},  {"stdole2.tlb", {2, 40, 4275, 1}},
  };
  for (const Minimum& m : kMinimums) {
    std::array<std::uint16_t, 4> v{};
    if (!GetFileVersion(m.file, v[0], v[1], v[2], v[3])) return true;
    if (v < m.version) return true;
  }
  return false;
}

void TWindowsInstaller::CheckShellExResult(const std::string& OperationText, int value) {
  static const std::pair<int, const char*> kTexts[] = {
      {0, "The operating system is out of memory or resources."},
      {2, "The specified file was not found."},
      {3, "The specified path was not found."},
      {5, "The operating system denied access to the specified file."},
      {8, "There was not enough memory to complete the operation."},
      {11, "The .EXE file is invalid (non-Win32 .EXE or error in .EXE image)."},
      {26, "A sharing violation occurred."},
      {27, "The filename association is incomplete or invalid."},
      {28, "The DDE transaction could not be completed because the request timed out."},
      {29, "The DDE transaction failed."},
      {30, "The DDE transaction could not be completed because other DDE transactions were being processed."},
      {31, "There is no application associated with the given filename extension."},
      {32, "The specified dynamic-link library was not found."},
  };
  for (const auto& [code, message] : kTexts) {
    if (code == value) throw Error(OperationText + "\r\n\r\n" + message);
  }
  if (value <= 32) RaiseLastOSError();
}

// ---- Shortcuts

bool TWindowsInstaller::GetShellLinkInfo(const std::string& LinkFile, TShellLinkInfoRec& ShellInfo) {
  win::ShellLink link;
  OleCheck(link.Load(LinkFile, win::STGM_READ));
  OleCheck(link.Resolve(0, win::SLR_ANY_MATCH | win::SLR_NO_UI));
  OleCheck(link.GetPath(ShellInfo.PathName, win::SLGP_SHORTPATH));
  OleCheck(link.GetArguments(ShellInfo.Arguments));
  OleCheck(link.GetDescription(ShellInfo.Description));
  OleCheck(link.GetWorkingDirectory(ShellInfo.WorkingDirectory));
  OleCheck(link.GetIconLocation(ShellInfo.IconLocation, ShellInfo.IconIndex));
  OleCheck(link.GetShowCmd(ShellInfo.ShowCmd));
  OleCheck(link.GetHotkey(ShellInfo.HotKey));
  return !ShellInfo.PathName.empty();
}

void TWindowsInstaller::SetShellLinkInfo(const std::string& LinkFile, const TShellLinkInfoRec& ShellInfo) {
  win::ShellLink link;
  OleCheck(link.Load(LinkFile, win::STGM_SHARE_DENY_WRITE));
  OleCheck(link.Resolve(0, win::SLR_ANY_MATCH | win::SLR_UPDATE | win::SLR_NO_UI));
  OleCheck(link.SetPath(ShellInfo.PathName));
  OleCheck(link.SetArguments(ShellInfo.Arguments));
  OleCheck(link.SetDescription(ShellInfo.Description));
  OleCheck(link.SetWorkingDirectory(ShellInfo.WorkingDirectory));
  OleCheck(link.SetIconLocation(ShellInfo.IconLocation, ShellInfo.IconIndex));
  OleCheck(link.SetShowCmd(ShellInfo.ShowCmd));
  OleCheck(link.SetHotkey(ShellInfo.HotKey));
  // A failed save is not reported: the shortcut simply keeps its old content.
  link.Save(LinkFile, true);
}

// ---- Registry

void TWindowsInstaller::ExtractParentPath(const std::string& APath, std::string& ParentPath,
                                          std::string& ChildItem) {
  // The last character is never taken as the separator: "A\B\" is "A\" and "B\".
  for (std::size_t i = APath.size() >= 2 ? APath.size() - 1 : 0; i-- > 0;) {
    if (APath[i] == '\\') {
      ParentPath = APath.substr(0, i + 1);
      ChildItem = APath.substr(i + 1, 255);
      return;
    }
  }
  ParentPath.clear();
  ChildItem = APath;
}

void TWindowsInstaller::RegDeleteKeyIfEmpty(win::HKEY root, const std::string& Key) {
  std::string parent, child;
  ExtractParentPath(Key, parent, child);
  if (!parent.empty() && parent.back() == '\\') parent.pop_back();
  const win::DWORD access = win::KEY_READ | win::KEY_SET_VALUE | win::KEY_CREATE_SUB_KEY;
  bool empty = true;
  if (win::RegKey::Exists(root, Key)) {
    empty = false;
    win::RegKey key;
    if (win::RegKey::Open(root, Key, access, key) == win::ERROR_SUCCESS) {
      win::DWORD subKeys = 0, values = 0;
      empty = key.QueryInfo(subKeys, values) == win::ERROR_SUCCESS && subKeys == 0 && values == 0;
    }
  }
  if (!empty) return;
  win::RegKey parentKey;
  if (win::RegKey::Open(root, parent, access, parentKey) == win::ERROR_SUCCESS) parentKey.DeleteSubKey(child);
}

}  // namespace kv
