#include "platform/FileUtils.h"

#include <algorithm>
#include <cctype>

#include "formats/VersionResource.h"
#include "platform/Errors.h"
#include "platform/Messages.h"

namespace kv {

namespace {

std::string TranslationCode(const win::VersionResource& info) {
  return info.translations.empty() ? std::string() : win::TranslationKey(info.translations.front());
}

std::string ToText(const RegistryValue& value) {
  if (const auto* i = std::get_if<std::int32_t>(&value)) return std::to_string(*i);
  return std::get<std::string>(value);
}

}  // namespace

TFileVersionInfo ReadFileVersionInfo(const std::string& fileName) {
  TFileVersionInfo record;
  const auto info = win::GetFileVersionInfo(fileName.empty() ? win::GetModuleFileName() : fileName);
  const std::string translation = info ? TranslationCode(*info) : std::string();
  record.LangId = translation.substr(0, 4);
  // Without a translation the language is 0, which the system names too ("Langue neutre").
  record.LangName = win::VerLanguageName(static_cast<std::uint16_t>(HexToInt(record.LangId)));
  record.CharSet = translation.substr(std::min<std::size_t>(4, translation.size()), 4);
  if (translation.empty()) return record;
  const std::pair<std::string TFileVersionInfo::*, const char*> fields[] = {
      {&TFileVersionInfo::CompanyName, "CompanyName"},
      {&TFileVersionInfo::FileDescription, "FileDescription"},
      {&TFileVersionInfo::FileVersion, "FileVersion"},
      {&TFileVersionInfo::InternalName, "InternalName"},
      {&TFileVersionInfo::LegalCopyRight, "LegalCopyRight"},
      {&TFileVersionInfo::LegalTradeMark, "LegalTradeMark"},
      {&TFileVersionInfo::OriginalFileName, "OriginalFileName"},
      {&TFileVersionInfo::ProductName, "ProductName"},
      {&TFileVersionInfo::ProductVersion, "ProductVersion"},
      {&TFileVersionInfo::Comments, "Comments"},
  };
  for (const auto& [field, key] : fields) record.*field = info->QueryString(translation, key).value_or("");
  return record;
}

std::uint32_t HexToInt(const std::string& text) {
  if (text.empty() || text.size() > 8) return 0;
  std::uint32_t value = 0;
  for (char ch : text) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (c == ' ') continue;
    if (c >= '0' && c <= '9') {
      value = value * 16 + static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      value = value * 16 + static_cast<std::uint32_t>(c - 'a' + 10);
    } else {
      return 0;
    }
  }
  return value;
}

std::string PathWithDelimiter(const std::string& path) {
  if (path.empty() || path.back() == '\\') return path;
  return path + '\\';
}

std::string ParentFolder(const std::string& path) {
  // From the last character down to the second, a backslash that is not the very last one.
  for (std::size_t p = path.size(); p >= 2; --p) {
    if (path[p - 1] == '\\' && p != path.size()) return path.substr(0, p);
  }
  return path.substr(0, 3);
}

std::string ExtractFileName(const std::string& path) {
  const auto cut = path.find_last_of("\\:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ExtractFilePath(const std::string& path) {
  const auto cut = path.find_last_of("\\:");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool IsExistingFile(const std::string& path) {
  const win::DWORD attributes = win::GetFileAttributes(path);
  return attributes != win::INVALID_FILE_ATTRIBUTES && (attributes & win::FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsExistingFolder(const std::string& path) {
  const win::DWORD attributes = win::GetFileAttributes(path);
  return attributes != win::INVALID_FILE_ATTRIBUTES && (attributes & win::FILE_ATTRIBUTE_DIRECTORY) != 0;
}

win::DWORD FileInUseError(const std::string& fileName) {
  // A folder is no file: opening it would fail with ERROR_ACCESS_DENIED.
  if (!IsExistingFile(fileName)) return 0;
  auto file = win::File::Create(fileName, win::GENERIC_READ | win::GENERIC_WRITE, 0, win::OPEN_EXISTING);
  if (!file) return win::GetLastError();
  return 0;
}

int ShellFileOperation(unsigned operation, const std::string& source, const std::string& destination,
                       WindowHandle owner, unsigned flags, const std::string& progressTitle) {
  win::ShFileOperation op;
  op.window = owner;
  op.func = operation;
  op.from = source + '\0';
  op.to = destination + '\0';
  op.flags = progressTitle.empty() ? flags : win::FOF_SIMPLEPROGRESS;
  op.progressTitle = progressTitle;
  const int result = win::SHFileOperation(op);
  return op.anyOperationsAborted ? -1 : result;
}

std::string GetDriveLetters() {
  std::string letters;
  for (char ch : win::GetLogicalDriveStrings().substr(0, 255)) {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (c >= 'A' && c <= 'Z') letters += c;
  }
  return letters;
}

bool BrowseForFolder(const std::string& title, WindowHandle /*owner*/, std::string& folder,
                     const std::string& root, unsigned flags) {
  std::string chosen = folder;
  if (!Ui().BrowseForFolder(title, chosen, root, flags | BIF_NEWDIALOGSTYLE)) return false;
  folder = chosen;
  return true;
}

std::uint32_t TickElapsed(std::uint32_t start, std::uint32_t now) {
  return now - start;
}

void Delay(int milliseconds) {
  const std::uint32_t start = win::GetTickCount();
  const std::uint32_t wait = milliseconds < 0 ? 0u - static_cast<std::uint32_t>(milliseconds)
                                              : static_cast<std::uint32_t>(milliseconds);
  while (TickElapsed(start, win::GetTickCount()) < wait) {
    if (Ui().TerminationRequested()) return;
    if (milliseconds > 0) Ui().ProcessEvents();
    win::Sleep(1);
  }
}

RegistryValue ReadRegistryValue(win::HKEY root, const std::string& key, const std::string& name,
                                std::int64_t access, const std::string& defaultText, bool mayCreate) {
  RegistryValue result = std::int32_t{0};
  if (root == 0) root = win::HKEY_CURRENT_USER;
  const win::DWORD mask = access == -1 ? win::KEY_ALL_ACCESS : static_cast<win::DWORD>(access);
  win::RegKey k;
  const win::DWORD rc =
      mayCreate ? win::RegKey::Create(root, key, mask, k) : win::RegKey::Open(root, key, mask, k);
  if (rc != win::ERROR_SUCCESS) {
    if (defaultText != "0") result = defaultText;
    return result;
  }
  win::RegValue value;
  if (k.QueryValue(name, value) != win::ERROR_SUCCESS) return std::string();
  if (value.type == win::REG_DWORD && value.data.size() >= 4) {
    return static_cast<std::int32_t>(value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                     (static_cast<std::uint32_t>(value.data[3]) << 24));
  }
  if (value.type != win::REG_SZ && value.type != win::REG_EXPAND_SZ) throw Error(RegistryTypeErrorText(name));
  return value.AsString();
}

bool WriteRegistryValue(win::HKEY root, const std::string& key, const std::string& name, bool mayCreate,
                        const RegistryValue& value) {
  if (key.empty()) return false;
  win::RegKey k;
  const win::DWORD rc = mayCreate ? win::RegKey::Create(root, key, win::KEY_ALL_ACCESS, k)
                                  : win::RegKey::Open(root, key, win::KEY_ALL_ACCESS, k);
  if (rc != win::ERROR_SUCCESS) return false;
  win::RegValue existing;
  const std::string text = ToText(value);
  if (k.QueryValue(name, existing) == win::ERROR_SUCCESS && existing.type == win::REG_DWORD) {
    std::size_t used = 0;
    long long number = 0;
    try {
      number = std::stoll(text, &used, 10);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used == 0 || used != text.size() || number < INT32_MIN || number > INT32_MAX) {
      throw Error("'" + text + "' n'est pas une valeur entière correcte");
    }
    return k.SetValue(name, win::RegValue::Dword(static_cast<std::uint32_t>(number))) == win::ERROR_SUCCESS;
  }
  return k.SetValue(name, win::RegValue::String(text)) == win::ERROR_SUCCESS;
}

bool ForceForegroundWindow(WindowHandle window) {
  return Ui().ForceForegroundWindow(window);
}

}  // namespace kv
