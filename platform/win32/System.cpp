// Drives, folders, the running program and the system's identity on the real API.
#include <algorithm>

#include "platform/FileUtils.h"
#include "platform/Win32.h"
#include "platform/Win32Shell.h"
#include "platform/win32/Api.h"

namespace kv::win {

using win32::Utf8;
using win32::WidePath;

namespace {

// A Windows call that fills a wide buffer and answers the length it needs when the buffer is short.
template <typename Call>
std::wstring WideText(Call call) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(n + 1);
  }
}

std::string WithoutTrailingBackslash(std::string path) {
  if (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

unsigned GetDriveType(const std::string& root) {
  return ::GetDriveTypeW(WidePath(root).c_str());
}

DWORD GetLogicalDrives() {
  return ::GetLogicalDrives();
}

std::string GetLogicalDriveStrings() {
  std::wstring buffer(4 * 26 + 2, L'\0');
  const DWORD n = ::GetLogicalDriveStringsW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n == 0 || n > buffer.size()) return {};
  buffer.resize(n);
  return Utf8(buffer);
}

std::optional<std::string> GetVolumeFileSystemName(const std::string& root) {
  wchar_t name[MAX_PATH + 1] = {};
  if (!::GetVolumeInformationW(WidePath(root).c_str(), nullptr, 0, nullptr, nullptr, nullptr, name,
                               MAX_PATH + 1)) {
    return std::nullopt;
  }
  return Utf8(name);
}

std::string GetWindowsDirectory() {
  return WithoutTrailingBackslash(
      Utf8(WideText([](wchar_t* b, DWORD n) { return ::GetWindowsDirectoryW(b, n); })));
}

std::string GetSystemDirectory() {
  return WithoutTrailingBackslash(
      Utf8(WideText([](wchar_t* b, DWORD n) { return ::GetSystemDirectoryW(b, n); })));
}

std::string GetTempPath() {
  return Utf8(WideText([](wchar_t* b, DWORD n) { return ::GetTempPathW(n, b); }));
}

std::string GetModuleFileName() {
  // GetModuleFileNameW answers the buffer's size when the path is cut: grow until it fits.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return Utf8(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

void NamedSemaphore::Close() {
  if (handle_ != kNone) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kNone;
}

NamedSemaphore NamedSemaphore::Create(const std::string& name) {
  HANDLE semaphore = ::CreateSemaphoreW(nullptr, 0, 1, win32::Wide(name).c_str());
  if (!semaphore) return {};
  // The last error is the call's own: ERROR_ALREADY_EXISTS when the name was held.
  return NamedSemaphore(reinterpret_cast<std::intptr_t>(semaphore));
}

std::string SearchLibrary(const std::string& name) {
  if (name.find_first_of("\\/:") != std::string::npos) return name;
  for (const std::string& folder :
       {ExtractFilePath(GetModuleFileName()), PathWithDelimiter(GetSystemDirectory()),
        PathWithDelimiter(GetWindowsDirectory())}) {
    if (folder.empty()) continue;
    const std::string candidate = folder + name;
    if (IsExistingFile(candidate)) return candidate;
  }
  ::SetLastError(ERROR_MOD_NOT_FOUND);
  return {};
}

OsVersion GetVersion() {
  // RtlGetVersion answers the real version; GetVersionEx answers what the manifest declares.
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  OsVersion version;
  if (rtlGetVersion != nullptr && rtlGetVersion(&info) == 0) {
    version.nt = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    version.major = info.dwMajorVersion;
    version.minor = info.dwMinorVersion;
  }
  return version;
}

std::optional<std::string> GetComputerName(DWORD size) {
  std::wstring buffer(size, L'\0');
  ::DWORD n = size;
  if (!::GetComputerNameW(buffer.data(), &n)) return std::nullopt;
  buffer.resize(n);
  return Utf8(buffer);
}

std::optional<std::string> GetUserName(DWORD size) {
  std::wstring buffer(size, L'\0');
  ::DWORD n = size;
  if (!::GetUserNameW(buffer.data(), &n)) return std::nullopt;
  buffer.resize(n > 0 ? n - 1 : 0);  // the count includes the terminating null
  return Utf8(buffer);
}

std::uint16_t GetSystemDefaultLangID() {
  return ::GetSystemDefaultLangID();
}

std::string VerLanguageName(std::uint16_t langId) {
  wchar_t name[256] = {};
  const DWORD n = ::VerLanguageNameW(langId, name, 256);
  return Utf8(std::wstring_view(name, n));
}

std::optional<std::string> FormatMessage(DWORD code) {
  // The system's own text in the user's language, without its line end.
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (n == 0 || text == nullptr) return std::nullopt;
  std::wstring message(text, n);
  ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
    message.pop_back();
  }
  return Utf8(message);
}

SessionInfo GetSessionInfo() {
  SessionInfo info;
  info.remoteSession = ::GetSystemMetrics(SM_REMOTESESSION) != 0;
  ::DWORD session = 0;
  if (::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) info.sessionId = session;
  // Member of the Administrators group, whether or not the token is elevated.
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  BOOL member = FALSE;
  if (::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                 0, 0, 0, 0, &administrators)) {
    if (!::CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
    ::FreeSid(administrators);
  }
  info.administrator = member != FALSE;
  return info;
}

std::vector<std::string> GetHostAddresses() {
  std::vector<std::string> addresses;
  WSADATA data{};
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return addresses;
  char name[256] = {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (::gethostname(name, sizeof name - 1) == 0 && ::getaddrinfo(name, nullptr, &hints, &result) == 0) {
    for (const addrinfo* ai = result; ai != nullptr && addresses.size() < 256; ai = ai->ai_next) {
      char text[INET_ADDRSTRLEN] = {};
      const auto* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
      if (::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) == nullptr) continue;
      if (std::find(addresses.begin(), addresses.end(), text) == addresses.end())
        addresses.emplace_back(text);
    }
    ::freeaddrinfo(result);
  }
  ::WSACleanup();
  return addresses;
}

bool RequestRestart() {
  // The shut-down privilege first; a user who lacks it gets Windows' refusal.
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  const win32::Handle tokenHandle(token);
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid) ||
      !::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) ||
      ::GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
    return false;
  }
  return ::ExitWindowsEx(EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_FLAG_PLANNED) != 0;
}

}  // namespace kv::win
