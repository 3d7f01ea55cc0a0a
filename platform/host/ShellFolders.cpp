// The shell on the host: special folders from the prefix, short names, the profile cache, fonts and
// shell shortcuts.
//
// Special folders are the usual ones of a current Windows below C:\Users\<user>\ and C:\ProgramData\;
// prefix.ini [shellfolders] <CSIDL number>=<Windows path> moves one, and an empty value makes the
// shell have none. A shortcut is a small UTF-8 text file (CR LF line ends):
//
//   [ShellLink]
//   Path=C:\WKorvane\TSV\Programs\TSV.exe
//   Arguments=/x
//   Description=...
//   WorkingDirectory=C:\WKorvane\TSV\Programs
//   IconLocation=C:\WKorvane\TSV\Programs\TSV.exe
//   IconIndex=0
//   ShowCmd=1
//   HotKey=0
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "formats/Text.h"
#include "platform/FileUtils.h"
#include "platform/Win32.h"
#include "platform/Win32Shell.h"
#include "platform/host/Prefix.h"

namespace kv::win {

namespace fs = std::filesystem;
using host::Prefix;

namespace {

std::string UserName() {
  return Prefix::Current().Ini("system", "user", "utilisateur");
}

// The folder the shell has for a CSIDL: nullopt for an identifier it does not know, an empty text
// for one it knows but has no folder for.
std::optional<std::string> SpecialFolder(int csidl) {
  if (const auto moved = Prefix::Current().Ini("shellfolders", std::to_string(csidl))) {
    std::string folder = text::Trim(*moved);
    while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
    return folder;
  }
  const std::string profile = "C:\\Users\\" + UserName();
  switch (csidl) {
    case CSIDL_PERSONAL:
    case CSIDL_MYDOCUMENTS:
      return profile + "\\Documents";
    case CSIDL_DESKTOPDIRECTORY:
      return profile + "\\Desktop";
    case CSIDL_FONTS:
      return GetWindowsDirectory() + "\\Fonts";
    case CSIDL_COMMON_DESKTOPDIRECTORY:
      return std::string("C:\\Users\\Public\\Desktop");
    case CSIDL_APPDATA:
      return profile + "\\AppData\\Roaming";
    case CSIDL_LOCAL_APPDATA:
      return profile + "\\AppData\\Local";
    case CSIDL_COMMON_APPDATA:
      return std::string("C:\\ProgramData");
    case CSIDL_PROGRAM_FILES:
      return std::string("C:\\Program Files");
    case CSIDL_PROFILE:
      return profile;
    default:
      return std::nullopt;
  }
}

bool CopyToBuffer(const std::string& text, char* buffer) {
  if (text.size() >= MAX_PATH) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

struct FontState {
  std::mutex mutex;
  std::vector<std::string> resources;
  unsigned broadcasts = 0;
};

FontState& Fonts() {
  static FontState state;
  return state;
}

HRESULT LastErrorResult() {
  const DWORD code = GetLastError();
  return code == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(code);
}

bool HasLineBreak(const std::string& s) {
  return s.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

HRESULT SHGetFolderPath(std::uintptr_t /*window*/, int folder, std::uintptr_t /*token*/, DWORD /*flags*/,
                        char* path) {
  if (path == nullptr) return E_INVALIDARG;
  path[0] = '\0';
  const auto known = SpecialFolder(folder & 0xFF);
  if (!known) return E_INVALIDARG;
  if (known->empty()) return E_FAIL;
  if (!IsExistingFolder(*known)) {
    if ((folder & CSIDL_FLAG_CREATE) == 0) return S_FALSE;
    const auto host = Prefix::Current().ToHost(*known);
    if (!host) return LastErrorResult();
    std::error_code ec;
    fs::create_directories(*host, ec);
    if (ec) return HRESULT_FROM_WIN32(host::WindowsErrorFromErrno(ec.value()));
  }
  if (!CopyToBuffer(*known, path)) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  return S_OK;
}

HRESULT SHGetSpecialFolderLocation(std::uintptr_t /*window*/, int folder, ItemIdList& list) {
  const auto known = SpecialFolder(folder & 0xFF);
  if (!known) return E_INVALIDARG;
  if (known->empty() || !IsExistingFolder(*known)) return E_FAIL;
  list.path = *known;
  return S_OK;
}

bool SHGetPathFromIDList(const ItemIdList& list, char* path) {
  if (path == nullptr) return false;
  path[0] = '\0';
  return !list.path.empty() && CopyToBuffer(list.path, path);
}

std::optional<std::string> GetShortPathName(const std::string& longPath) {
  // Host file systems have no 8.3 names: an existing path is its own short form.
  if (GetFileAttributes(longPath) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return longPath;
}

bool FlushPrivateProfileCache(const std::string& /*iniFile*/) {
  return true;  // the host keeps no cache of initialisation files
}

int AddFontResource(const std::string& fontFile) {
  const DWORD attributes = GetFileAttributes(fontFile);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  FontState& fonts = Fonts();
  std::lock_guard lock(fonts.mutex);
  fonts.resources.push_back(fontFile);
  return 1;
}

bool RemoveFontResource(const std::string& fontFile) {
  FontState& fonts = Fonts();
  std::lock_guard lock(fonts.mutex);
  const auto it = std::find_if(fonts.resources.begin(), fonts.resources.end(),
                               [&](const std::string& f) { return text::IEquals(f, fontFile); });
  if (it == fonts.resources.end()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  fonts.resources.erase(it);
  return true;
}

std::vector<std::string> EnumFontFamilies() {
  // The registered fonts are the installed ones; their value names carry the format in brackets.
  const char* key = GetVersion().nt ? "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"
                                    : "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
  std::vector<std::string> families;
  RegKey fonts;
  if (RegKey::Open(HKEY_LOCAL_MACHINE, key, KEY_READ, fonts) != ERROR_SUCCESS) return families;
  for (std::string name : fonts.ValueNames()) {
    if (const auto open = name.rfind(" ("); open != std::string::npos && name.back() == ')')
      name.resize(open);
    if (std::none_of(families.begin(), families.end(),
                     [&](const std::string& f) { return text::IEquals(f, name); })) {
      families.push_back(name);
    }
  }
  return families;
}

bool SendNotifyMessage(std::uintptr_t window, unsigned message, std::uintptr_t /*wParam*/,
                       std::intptr_t /*lParam*/) {
  // The host has no windows; only the broadcast of a font change is worth remembering.
  if (window == HWND_BROADCAST && message == WM_FONTCHANGE) {
    FontState& fonts = Fonts();
    std::lock_guard lock(fonts.mutex);
    ++fonts.broadcasts;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// ShellLink

HRESULT ShellLink::Load(const std::string& linkFile, DWORD mode) {
  const DWORD access = (mode & STGM_READWRITE) ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
  const DWORD share = (mode & STGM_SHARE_DENY_WRITE) ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
  auto file = File::Create(linkFile, access, share, OPEN_EXISTING);
  if (!file) return LastErrorResult();
  std::string content;
  char buffer[4096];
  for (;;) {
    const long long got = file->Read(buffer, sizeof buffer);
    if (got < 0) return LastErrorResult();
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  file->Close();
  std::map<std::string, std::string> fields;
  bool header = false;
  for (const std::string& raw : text::Split(content, '\n')) {
    std::string line = raw;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!header) {
      if (text::Trim(line).empty()) continue;
      if (!text::IEquals(text::Trim(line), "[ShellLink]")) return E_FAIL;
      header = true;
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    fields[text::ToLower(text::Trim(line.substr(0, eq)))] = line.substr(eq + 1);
  }
  if (!header) return E_FAIL;
  const auto field = [&](const char* name) {
    const auto it = fields.find(name);
    return it == fields.end() ? std::string() : it->second;
  };
  const auto number = [&](const char* name, long fallback) {
    const std::string v = text::Trim(field(name));
    return v.empty() ? fallback : std::strtol(v.c_str(), nullptr, 0);
  };
  path_ = field("path");
  arguments_ = field("arguments");
  description_ = field("description");
  workingDirectory_ = field("workingdirectory");
  iconLocation_ = field("iconlocation");
  iconIndex_ = static_cast<int>(number("iconindex", 0));
  showCmd_ = static_cast<int>(number("showcmd", SW_SHOWNORMAL));
  hotKey_ = static_cast<std::uint16_t>(number("hotkey", 0));
  currentFile_ = linkFile;
  return S_OK;
}

HRESULT ShellLink::Save(const std::string& linkFile, bool remember) {
  for (const std::string* s : {&path_, &arguments_, &description_, &workingDirectory_, &iconLocation_}) {
    if (HasLineBreak(*s)) return E_INVALIDARG;  // the text form keeps one field per line
  }
  const std::string content =
      "[ShellLink]\r\nPath=" + path_ + "\r\nArguments=" + arguments_ + "\r\nDescription=" + description_ +
      "\r\nWorkingDirectory=" + workingDirectory_ + "\r\nIconLocation=" + iconLocation_ +
      "\r\nIconIndex=" + std::to_string(iconIndex_) + "\r\nShowCmd=" + std::to_string(showCmd_) +
      "\r\nHotKey=" + std::to_string(hotKey_) + "\r\n";
  auto file = File::Create(linkFile, GENERIC_WRITE, 0, CREATE_ALWAYS);
  if (!file || !file->Write(content.data(), content.size())) return LastErrorResult();
  if (remember) currentFile_ = linkFile;
  return S_OK;
}

HRESULT ShellLink::Resolve(std::uintptr_t /*window*/, DWORD /*flags*/) {
  // The host does not track moved targets: a shortcut resolves to what it holds.
  return S_OK;
}

}  // namespace kv::win

namespace kv::host {

std::vector<std::string> SessionFontResources() {
  auto& fonts = win::Fonts();
  std::lock_guard lock(fonts.mutex);
  return fonts.resources;
}

unsigned FontChangeBroadcasts() {
  auto& fonts = win::Fonts();
  std::lock_guard lock(fonts.mutex);
  return fonts.broadcasts;
}

}  // namespace kv::host
