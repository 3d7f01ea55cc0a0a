// Drives, folders, identity and messages of the host backend, read from the prefix.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>

#include "formats/Text.h"
#include "platform/FileUtils.h"
#include "platform/Win32.h"
#include "platform/Win32Shell.h"
#include "platform/host/Prefix.h"

namespace kv::win {

namespace fs = std::filesystem;
using host::Prefix;

namespace {

std::string WithoutTrailingBackslash(std::string s) {
  while (s.size() > 3 && s.back() == '\\') s.pop_back();
  return s;
}

bool IniFlag(const char* key, bool fallback) {
  const auto v = Prefix::Current().Ini("system", key);
  if (!v) return fallback;
  return *v == "1" || text::IEquals(*v, "yes") || text::IEquals(*v, "true");
}

// Whether a name fits a buffer of `size` UTF-16 characters beside its terminating null.
bool FitsBuffer(const std::string& name, DWORD size) {
  return text::Utf8ToUtf16(name).size() < size;
}

}  // namespace

unsigned GetDriveType(const std::string& root) {
  // Only a drive root names a drive ("C:\" or "C:").
  if (root.size() < 2 || root.size() > 3 || root[1] != ':' ||
      !std::isalpha(static_cast<unsigned char>(root[0])) || (root.size() == 3 && root[2] != '\\')) {
    return DRIVE_NO_ROOT_DIR;
  }
  return Prefix::Current().DriveType(root[0]);
}

DWORD GetLogicalDrives() {
  return Prefix::Current().LogicalDrives();
}

std::string GetLogicalDriveStrings() {
  std::string out;
  const DWORD mask = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if (mask & (1u << i)) {
      out += static_cast<char>('A' + i);
      out += ":\\";
      out += '\0';
    }
  }
  return out;
}

std::optional<std::string> GetVolumeFileSystemName(const std::string& root) {
  const unsigned type = GetDriveType(root);
  if (type == DRIVE_NO_ROOT_DIR) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return std::nullopt;
  }
  const std::string letter(1, static_cast<char>(std::toupper(static_cast<unsigned char>(root[0]))));
  if (const auto name = Prefix::Current().Ini("filesystems", letter)) return *name;
  switch (type) {
    case DRIVE_CDROM:
      return std::string("CDFS");
    case DRIVE_REMOVABLE:
      return std::string("FAT32");
    default:
      return std::string("NTFS");
  }
}

std::string GetWindowsDirectory() {
  return WithoutTrailingBackslash(Prefix::Current().Ini("system", "windows", "C:\\Windows"));
}

std::string GetSystemDirectory() {
  return WithoutTrailingBackslash(
      Prefix::Current().Ini("system", "system", GetWindowsDirectory() + "\\System32"));
}

std::string GetTempPath() {
  std::string temp = Prefix::Current().Ini("system", "temp", "C:\\Windows\\Temp");
  if (temp.empty()) return temp;
  if (temp.back() != '\\') temp += '\\';
  if (const auto host = Prefix::Current().ToHost(temp)) {
    std::error_code ec;
    fs::create_directories(*host, ec);
  }
  return temp;
}

std::string GetModuleFileName() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return Prefix::Current().ToWindows(exe);
}

std::string SearchLibrary(const std::string& name) {
  if (name.find_first_of("\\/:") != std::string::npos) return name;
  // An empty folder setting names no folder (not the working folder).
  for (const std::string& folder :
       {ExtractFilePath(GetModuleFileName()), PathWithDelimiter(GetSystemDirectory()),
        PathWithDelimiter(GetWindowsDirectory())}) {
    if (folder.empty()) continue;
    const std::string candidate = folder + name;
    if (IsExistingFile(candidate)) {
      // Report the name as it is spelled on disk.
      if (const auto host = Prefix::Current().ToHost(candidate)) return Prefix::Current().ToWindows(*host);
      return candidate;
    }
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return {};
}

std::optional<std::vector<ModuleResource>> OwnModuleResources(std::uint16_t /*type*/) {
  return std::nullopt;  // the host's programs are ELF files
}

void NamedSemaphore::Close() {
  if (handle_ != kNone) ::close(static_cast<int>(handle_));
  handle_ = kNone;
}

NamedSemaphore NamedSemaphore::Create(const std::string& name) {
  fs::path folder;
  try {
    folder = Prefix::Current().Root() / "semaphores";
  } catch (const std::exception&) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return {};
  }
  std::error_code ec;
  fs::create_directories(folder, ec);
  // Close-on-exec: a program started from here must not keep the name held.
  const int fd = ::open((folder / text::ToLower(name)).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return {};
  }
  // flock belongs to the open file description: a second open of the name, in this process or
  // another, is refused while the first is open, and the system drops the lock when the last
  // descriptor closes, which process exit does however the process ends.
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  SetLastError(rc != 0 && errno == EWOULDBLOCK ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return NamedSemaphore(fd);
}

OsVersion GetVersion() {
  OsVersion v;
  const std::string version = Prefix::Current().Ini("system", "version", "10.0");
  const auto parts = text::Split(version, '.');
  v.major = static_cast<DWORD>(std::strtoul(parts[0].c_str(), nullptr, 10));
  v.minor = parts.size() > 1 ? static_cast<DWORD>(std::strtoul(parts[1].c_str(), nullptr, 10)) : 0;
  v.nt = !text::IEquals(Prefix::Current().Ini("system", "platform", "nt"), "9x");
  return v;
}

std::optional<std::string> GetComputerName(DWORD size) {
  if (!IniFlag("logged_on", true)) {
    SetLastError(ERROR_NOT_LOGGED_ON);
    return std::nullopt;
  }
  std::string name = Prefix::Current().Ini("system", "computer", "KORVANE-PC");
  if (!FitsBuffer(name, size)) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return std::nullopt;
  }
  return name;
}

std::optional<std::string> GetUserName(DWORD size) {
  if (!IniFlag("logged_on", true)) {
    SetLastError(ERROR_NOT_LOGGED_ON);
    return std::nullopt;
  }
  std::string name = Prefix::Current().Ini("system", "user", "utilisateur");
  if (!FitsBuffer(name, size)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return std::nullopt;
  }
  SetLastError(ERROR_SUCCESS);
  return name;
}

std::uint16_t GetSystemDefaultLangID() {
  return static_cast<std::uint16_t>(
      std::strtoul(Prefix::Current().Ini("system", "language", "1036").c_str(), nullptr, 0));
}

std::string VerLanguageName(std::uint16_t langId) {
  static const std::map<std::uint16_t, const char*> names = {
      {0x0000, "Langue neutre"},          {0x0407, "Allemand (Allemagne)"},
      {0x0409, "Anglais (États-Unis)"},   {0x040C, "Français (France)"},
      {0x0410, "Italien (Italie)"},       {0x0413, "Néerlandais (Pays-Bas)"},
      {0x0807, "Allemand (Suisse)"},      {0x0809, "Anglais (Royaume-Uni)"},
      {0x080C, "Français (Belgique)"},    {0x0810, "Italien (Suisse)"},
      {0x0813, "Néerlandais (Belgique)"}, {0x0C07, "Allemand (Autriche)"},
      {0x0C0C, "Français (Canada)"},      {0x100C, "Français (Suisse)"},
      {0x140C, "Français (Luxembourg)"},  {0x0C0A, "Espagnol (Espagne, tri moderne)"},
      {0x0816, "Portugais (Portugal)"},
  };
  const auto it = names.find(langId);
  return it == names.end() ? "Langue inconnue" : it->second;
}

std::optional<std::string> FormatMessage(DWORD code) {
  // The system message table of a French Windows, for the codes this program meets.
  static const std::map<DWORD, const char*> texts = {
      {0, "L’opération a réussi."},
      {1, "Fonction incorrecte."},
      {2, "Le fichier spécifié est introuvable."},
      {3, "Le chemin d’accès spécifié est introuvable."},
      {4, "Le système ne peut pas ouvrir le fichier."},
      {5, "Accès refusé."},
      {6, "Descripteur non valide."},
      {8, "Espace insuffisant pour traiter cette commande."},
      {15, "Le lecteur spécifié est introuvable."},
      {17, "Le fichier ne peut pas être déplacé vers un lecteur de disque différent."},
      {18, "Il n’y a plus de fichier."},
      {19, "Le support est protégé en écriture."},
      {21, "Le périphérique n’est pas prêt."},
      {31, "Un périphérique attaché au système ne fonctionne pas correctement."},
      {32, "Le processus ne peut pas accéder au fichier car ce fichier est utilisé par un autre processus."},
      {33, "Le processus ne peut pas accéder au fichier car un autre processus en a verrouillé une partie."},
      {38, "Fin de fichier atteinte."},
      {53, "Le chemin réseau n’a pas été trouvé."},
      {80, "Le fichier existe."},
      {87, "Paramètre incorrect."},
      {111, "Le nom de fichier est trop long."},
      {112, "Espace insuffisant sur le disque."},
      {122, "La zone de données passée à un appel système est insuffisante."},
      {123, "La syntaxe du nom de fichier, de répertoire ou de volume est incorrecte."},
      {126, "Le module spécifié est introuvable."},
      {145, "Le répertoire n’est pas vide."},
      {183, "Impossible de créer un fichier déjà existant."},
      {206, "Le nom de fichier ou l’extension est trop long."},
      {234, "Plus de données sont disponibles."},
      {259, "Il n’y a plus de données."},
      {1009, "La base de données de configuration du Registre est endommagée."},
      {1010, "La clé de Registre de configuration n’est pas valide."},
      {1011, "Impossible d’ouvrir la clé de Registre de configuration."},
      {1012, "Impossible de lire la clé de Registre de configuration."},
      {1013, "Impossible d’écrire la clé de Registre de configuration."},
      {1245,
       "L’opération demandée n’a pas été effectuée car l’utilisateur n’a pas ouvert de session sur le "
       "réseau. Le service spécifié n’existe pas."},
      {1812, "Le fichier image spécifié ne contient aucune section ressource."},
      {1813, "Le type de ressource spécifié est introuvable dans le fichier image."},
      {1814, "Le nom de ressource spécifié est introuvable dans le fichier image."},
  };
  const auto it = texts.find(code);
  if (it == texts.end()) return std::nullopt;
  return std::string(it->second);
}

SessionInfo GetSessionInfo() {
  SessionInfo info;
  info.remoteSession = IniFlag("remote_session", false);
  info.sessionId =
      static_cast<DWORD>(std::strtoul(Prefix::Current().Ini("system", "session", "0").c_str(), nullptr, 10));
  info.administrator = IniFlag("administrator", true);
  return info;
}

std::vector<std::string> GetHostAddresses() {
  std::vector<std::string> addresses;
  if (const auto listed = Prefix::Current().Ini("system", "ip"); listed && !listed->empty()) {
    for (const std::string& a : text::Split(*listed, ',')) {
      if (const std::string t = text::Trim(a); !t.empty()) addresses.push_back(t);
    }
    return addresses;
  }
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return addresses;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &result) != 0) return addresses;
  for (const addrinfo* ai = result; ai != nullptr && addresses.size() < 256; ai = ai->ai_next) {
    char text[INET_ADDRSTRLEN] = {};
    const auto* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
    if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) == nullptr) continue;
    if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) addresses.emplace_back(text);
  }
  freeaddrinfo(result);
  return addresses;
}

bool RequestRestart() {
  std::ofstream marker(Prefix::Current().Root() / "restart-requested", std::ios::app);
  marker << GetSystemTimeAsFileTime() << "\n";
  return static_cast<bool>(marker);
}

// Windows keeps the moves for the next restart as pairs of NT paths in one multi-string value.
bool RecordMoveAtRestart(const std::string& source, const std::string& target, DWORD flags) {
  const std::string sessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  RegKey key;
  DWORD rc = RegKey::Create(HKEY_LOCAL_MACHINE, sessionManager, KEY_ALL_ACCESS, key);
  if (rc != ERROR_SUCCESS) {
    SetLastError(rc);
    return false;
  }
  RegValue value;
  std::vector<std::string> entries;
  if (key.QueryValue("PendingFileRenameOperations", value) == ERROR_SUCCESS) entries = value.AsMultiString();
  entries.push_back("\\??\\" + source);
  if (target.empty()) {
    entries.emplace_back();
  } else {
    entries.push_back(((flags & MOVEFILE_REPLACE_EXISTING) ? "!\\??\\" : "\\??\\") + target);
  }
  rc = key.SetValue("PendingFileRenameOperations", RegValue::MultiString(entries));
  if (rc != ERROR_SUCCESS) {
    SetLastError(rc);
    return false;
  }
  return true;
}

}  // namespace kv::win
