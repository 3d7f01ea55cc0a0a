// The shell on the real API: special folders, short names, the profile cache, fonts and shell
// shortcuts (the shell-link object through COM).
#include <cstring>

#include "platform/Win32.h"
#include "platform/Win32Shell.h"
#include "platform/win32/Api.h"

namespace kv::win {

using win32::Utf8;
using win32::Wide;
using win32::WidePath;

namespace {

bool CopyToBuffer(const std::string& text, char* buffer) {
  if (text.size() >= MAX_PATH) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

// COM for the time of one shell-link call: a thread that already has it keeps its own.
class ComScope {
 public:
  ComScope() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  ~ComScope() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }

 private:
  ::HRESULT result_;
};

// An interface pointer released by its destructor.
template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  Interface* operator->() const { return pointer_; }
  Interface** Out() { return &pointer_; }
  void** OutVoid() { return reinterpret_cast<void**>(&pointer_); }

 private:
  Interface* pointer_ = nullptr;
};

struct LinkObject {
  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> file;
  ::HRESULT Create() {
    ::HRESULT rc =
        ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.OutVoid());
    if (SUCCEEDED(rc)) rc = link->QueryInterface(IID_IPersistFile, file.OutVoid());
    return rc;
  }
};

// Reads a text field of the link through a wide buffer of INFOTIPSIZE characters.
template <typename Getter>
std::string LinkText(Getter getter) {
  wchar_t buffer[INFOTIPSIZE] = {};
  if (FAILED(getter(buffer, INFOTIPSIZE))) return {};
  return Utf8(buffer);
}

}  // namespace

HRESULT SHGetFolderPath(std::uintptr_t window, int folder, std::uintptr_t token, DWORD flags, char* path) {
  wchar_t buffer[MAX_PATH] = {};
  const ::HRESULT rc = ::SHGetFolderPathW(reinterpret_cast<HWND>(window), folder,
                                          reinterpret_cast<HANDLE>(token), flags, buffer);
  path[0] = '\0';
  if (rc != S_OK) return rc;
  return CopyToBuffer(Utf8(buffer), path) ? S_OK : E_FAIL;
}

HRESULT SHGetSpecialFolderLocation(std::uintptr_t window, int folder, ItemIdList& list) {
  wchar_t buffer[MAX_PATH] = {};
  const ::HRESULT rc =
      ::SHGetFolderPathW(reinterpret_cast<HWND>(window), folder, nullptr, SHGFP_TYPE_CURRENT, buffer);
  if (rc != S_OK) return E_FAIL;
  const DWORD attributes = ::GetFileAttributesW(buffer);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return E_FAIL;
  list.path = Utf8(buffer);
  return S_OK;
}

bool SHGetPathFromIDList(const ItemIdList& list, char* path) {
  path[0] = '\0';
  return !list.path.empty() && CopyToBuffer(list.path, path);
}

std::optional<std::string> GetShortPathName(const std::string& longPath) {
  const std::wstring wide = WidePath(longPath);
  const DWORD needed = ::GetShortPathNameW(wide.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring buffer(needed, L'\0');
  const DWORD n = ::GetShortPathNameW(wide.c_str(), buffer.data(), needed);
  if (n == 0 || n >= needed) return std::nullopt;
  buffer.resize(n);
  return Utf8(buffer);
}

bool FlushPrivateProfileCache(const std::string& iniFile) {
  return ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, WidePath(iniFile).c_str()) != 0;
}

int AddFontResource(const std::string& fontFile) {
  return ::AddFontResourceW(WidePath(fontFile).c_str());
}

bool RemoveFontResource(const std::string& fontFile) {
  return ::RemoveFontResourceW(WidePath(fontFile).c_str()) != 0;
}

std::vector<std::string> EnumFontFamilies() {
  std::vector<std::string> families;
  HDC screen = ::GetDC(nullptr);
  if (screen == nullptr) return families;
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  ::EnumFontFamiliesExW(
      screen, &wanted,
      [](const LOGFONTW* font, const TEXTMETRICW*, ::DWORD, LPARAM data) -> int {
        auto& names = *reinterpret_cast<std::vector<std::string>*>(data);
        std::string name = Utf8(font->lfFaceName);
        // Each family once, whatever its character sets.
        for (const std::string& known : names) {
          if (known == name) return 1;
        }
        names.push_back(std::move(name));
        return 1;
      },
      reinterpret_cast<LPARAM>(&families), 0);
  ::ReleaseDC(nullptr, screen);
  return families;
}

bool SendNotifyMessage(std::uintptr_t window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  return ::SendNotifyMessageW(reinterpret_cast<HWND>(window), message, wParam, lParam) != 0;
}

// ---------------------------------------------------------------------------------------------
// ShellLink

HRESULT ShellLink::Load(const std::string& linkFile, DWORD mode) {
  const ComScope com;
  LinkObject object;
  ::HRESULT rc = object.Create();
  if (SUCCEEDED(rc)) rc = object.file->Load(WidePath(linkFile).c_str(), mode);
  if (FAILED(rc)) return rc;
  IShellLinkW* link = object.link.operator->();
  path_ = LinkText([&](wchar_t* b, int n) { return link->GetPath(b, n, nullptr, SLGP_RAWPATH); });
  arguments_ = LinkText([&](wchar_t* b, int n) { return link->GetArguments(b, n); });
  description_ = LinkText([&](wchar_t* b, int n) { return link->GetDescription(b, n); });
  workingDirectory_ = LinkText([&](wchar_t* b, int n) { return link->GetWorkingDirectory(b, n); });
  int icon = 0;
  iconLocation_ = LinkText([&](wchar_t* b, int n) { return link->GetIconLocation(b, n, &icon); });
  iconIndex_ = icon;
  if (FAILED(link->GetShowCmd(&showCmd_))) showCmd_ = SW_SHOWNORMAL;
  WORD hotKey = 0;
  hotKey_ = SUCCEEDED(link->GetHotkey(&hotKey)) ? hotKey : 0;
  currentFile_ = linkFile;
  return S_OK;
}

HRESULT ShellLink::Save(const std::string& linkFile, bool remember) {
  const ComScope com;
  LinkObject object;
  ::HRESULT rc = object.Create();
  if (FAILED(rc)) return rc;
  IShellLinkW* link = object.link.operator->();
  const ::HRESULT results[] = {
      link->SetPath(WidePath(path_).c_str()),
      link->SetArguments(Wide(arguments_).c_str()),
      link->SetDescription(Wide(description_).c_str()),
      link->SetWorkingDirectory(WidePath(workingDirectory_).c_str()),
      link->SetIconLocation(WidePath(iconLocation_).c_str(), iconIndex_),
      link->SetShowCmd(showCmd_),
      link->SetHotkey(hotKey_),
  };
  for (const ::HRESULT result : results) {
    if (FAILED(result)) return result;
  }
  rc = object.file->Save(WidePath(linkFile).c_str(), remember ? TRUE : FALSE);
  if (SUCCEEDED(rc) && remember) currentFile_ = linkFile;
  return rc;
}

HRESULT ShellLink::Resolve(std::uintptr_t window, DWORD flags) {
  // The shell follows a moved target through the link's tracking data, then the fields are read
  // again from the resolved link.
  if (currentFile_.empty()) return S_OK;
  const ComScope com;
  LinkObject object;
  ::HRESULT rc = object.Create();
  if (SUCCEEDED(rc)) rc = object.file->Load(WidePath(currentFile_).c_str(), STGM_READ);
  if (SUCCEEDED(rc)) rc = object.link->Resolve(reinterpret_cast<HWND>(window), flags);
  if (rc != S_OK) return rc;
  wchar_t buffer[MAX_PATH] = {};
  if (SUCCEEDED(object.link->GetPath(buffer, MAX_PATH, nullptr, SLGP_RAWPATH))) path_ = Utf8(buffer);
  return S_OK;
}

}  // namespace kv::win
