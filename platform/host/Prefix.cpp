#include "platform/host/Prefix.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>

#include "formats/Text.h"
#include "platform/Errors.h"
#include "platform/Win32.h"

namespace kv::host {

namespace fs = std::filesystem;

namespace {

fs::path PrefixRootFromEnvironment() {
  if (const char* env = std::getenv("KORVANE_PREFIX"); env != nullptr && *env != '\0') return fs::path(env);
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr && *home != '\0' ? home : "/tmp") / ".korvane";
}

std::string DefaultUserName() {
  const char* user = std::getenv("USER");
  return user != nullptr && *user != '\0' ? user : "utilisateur";
}

std::string DefaultComputerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "KORVANE-PC";
  std::string upper = text::ToUpper(name);
  if (const auto dot = upper.find('.'); dot != std::string::npos) upper.resize(dot);
  return upper.substr(0, 15);  // a NetBIOS name has at most 15 characters
}

// Writes a file through a temporary name and a rename, so readers never see half of it.
void WriteFileAtomically(const fs::path& target, const std::string& content) {
  const fs::path temp = target.string() + ".tmp." + std::to_string(getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) throw Error("Écriture impossible : " + temp.string());
  }
  fs::rename(temp, target);
}

bool IsDirectory(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

template <typename Entries>
auto FindEntry(Entries& entries, const std::string& key) {
  return std::find_if(entries.begin(), entries.end(),
                      [&](const auto& entry) { return text::IEquals(entry.first, key); });
}

// An existing key keeps its place and spelling; a new one goes last.
void SetEntry(std::vector<std::pair<std::string, std::string>>& entries, const std::string& key,
              const std::string& value) {
  if (const auto it = FindEntry(entries, key); it != entries.end()) {
    it->second = value;
  } else {
    entries.emplace_back(key, value);
  }
}

}  // namespace

std::optional<unsigned> DriveTypeFromName(const std::string& name) {
  const std::string n = text::ToLower(text::Trim(name));
  if (n == "fixed") return win::DRIVE_FIXED;
  if (n == "remote") return win::DRIVE_REMOTE;
  if (n == "cdrom") return win::DRIVE_CDROM;
  if (n == "removable") return win::DRIVE_REMOVABLE;
  if (n == "ramdisk") return win::DRIVE_RAMDISK;
  return std::nullopt;
}

std::string DriveTypeName(unsigned type) {
  switch (type) {
    case win::DRIVE_REMOTE:
      return "remote";
    case win::DRIVE_CDROM:
      return "cdrom";
    case win::DRIVE_REMOVABLE:
      return "removable";
    case win::DRIVE_RAMDISK:
      return "ramdisk";
    default:
      return "fixed";
  }
}

std::uint32_t WindowsErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return win::ERROR_SUCCESS;
    case ENOENT:
      return win::ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return win::ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return win::ERROR_ACCESS_DENIED;
    case EEXIST:
      return win::ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
      return win::ERROR_DISK_FULL;
    case ENOTEMPTY:
      return win::ERROR_DIR_NOT_EMPTY;
    case EBUSY:
    case ETXTBSY:
    case EAGAIN:
      return win::ERROR_SHARING_VIOLATION;
    case ENAMETOOLONG:
      return win::ERROR_FILENAME_EXCED_RANGE;
    case EROFS:
      return win::ERROR_WRITE_PROTECT;
    case ENOMEM:
      return win::ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return win::ERROR_INVALID_PARAMETER;
    case EBADF:
      return win::ERROR_INVALID_HANDLE;
    default:
      return win::ERROR_GEN_FAILURE;
  }
}

Prefix& Prefix::Current() {
  static std::mutex mutex;
  // Prefixes stay alive once made, so a reference handed out earlier never dangles when a test
  // switches KORVANE_PREFIX.
  static std::map<fs::path, std::unique_ptr<Prefix>> prefixes;
  const fs::path root = PrefixRootFromEnvironment();
  std::lock_guard lock(mutex);
  auto& slot = prefixes[root];
  if (!slot) slot.reset(new Prefix(root));
  return *slot;
}

Prefix::Prefix(fs::path root) : root_(std::move(root)) {
  EnsureCreated();
}

void Prefix::EnsureCreated() {
  std::error_code ec;
  fs::create_directories(DrivesFolder() / "c", ec);
  if (Exists(IniFile())) {
    ReloadIniIfChanged();
    return;
  }
  const std::string user = DefaultUserName();
  std::ostringstream ini;
  ini << "; Host prefix of the Korvane update wizard: the Windows this machine pretends to be.\n"
      << "[drives]\nC=fixed\n\n"
      << "[filesystems]\nC=NTFS\n\n"
      << "[system]\n"
      << "windows=C:\\Windows\n"
      << "system=C:\\Windows\\System32\n"
      << "temp=C:\\Users\\" << user << "\\AppData\\Local\\Temp\n"
      << "version=10.0\n"
      << "platform=nt\n"
      << "user=" << user << "\n"
      << "computer=" << DefaultComputerName() << "\n"
      << "language=1036\n"
      << "logged_on=1\n"
      << "remote_session=0\n"
      << "session=0\n"
      << "administrator=1\n";
  const fs::path c = DrivesFolder() / "c";
  for (const fs::path& dir : {c / "Windows" / "System32", c / "Windows" / "Fonts", c / "ProgramData",
                              c / "Users" / user / "AppData" / "Local" / "Temp"}) {
    fs::create_directories(dir, ec);
  }
  // Another process may be creating the same prefix; the first complete file wins.
  if (!Exists(IniFile())) WriteFileAtomically(IniFile(), ini.str());
  ReloadIniIfChanged();
}

void Prefix::ReloadIniIfChanged() const {
  std::error_code ec;
  const auto time = fs::last_write_time(IniFile(), ec);
  if (ec || (time == iniTime_ && !ini_.empty())) return;
  std::ifstream in(IniFile(), std::ios::binary);
  ini_.clear();
  std::string line, section;
  while (std::getline(in, line)) {
    const std::string t = text::Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t.front() == '[' && t.back() == ']') {
      section = text::ToLower(text::Trim(t.substr(1, t.size() - 2)));
      ini_[section];
      continue;
    }
    const auto eq = t.find('=');
    if (eq == std::string::npos) continue;
    SetEntry(ini_[section], text::Trim(t.substr(0, eq)), text::Trim(t.substr(eq + 1)));
  }
  iniTime_ = time;
}

void Prefix::WriteIni() const {
  std::ostringstream out;
  for (const auto& [section, entries] : ini_) {
    out << "[" << section << "]\n";
    for (const auto& [k, v] : entries) out << k << "=" << v << "\n";
    out << "\n";
  }
  WriteFileAtomically(IniFile(), out.str());
  std::error_code ec;
  iniTime_ = fs::last_write_time(IniFile(), ec);
}

std::optional<std::string> Prefix::Ini(const std::string& section, const std::string& key) const {
  std::lock_guard lock(mutex_);
  ReloadIniIfChanged();
  const auto s = ini_.find(text::ToLower(section));
  if (s == ini_.end()) return std::nullopt;
  const auto k = FindEntry(s->second, key);
  if (k == s->second.end()) return std::nullopt;
  return k->second;
}

std::string Prefix::Ini(const std::string& section, const std::string& key,
                        const std::string& fallback) const {
  return Ini(section, key).value_or(fallback);
}

void Prefix::SetIni(const std::string& section, const std::string& key, const std::string& value) {
  std::lock_guard lock(mutex_);
  ReloadIniIfChanged();
  SetEntry(ini_[text::ToLower(section)], key, value);
  WriteIni();
}

std::optional<fs::path> Prefix::DriveFolder(char letter) const {
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  if (lower < 'a' || lower > 'z') return std::nullopt;
  const fs::path folder = DrivesFolder() / std::string(1, lower);
  if (IsDirectory(folder)) return folder;
  return std::nullopt;
}

unsigned Prefix::DriveType(char letter) const {
  if (!DriveFolder(letter)) return win::DRIVE_NO_ROOT_DIR;
  const auto name = Ini("drives", std::string(1, static_cast<char>(std::toupper(letter))));
  return name ? DriveTypeFromName(*name).value_or(win::DRIVE_FIXED) : win::DRIVE_FIXED;
}

std::uint32_t Prefix::LogicalDrives() const {
  std::uint32_t mask = 0;
  for (char c = 'a'; c <= 'z'; ++c) {
    if (DriveFolder(c)) mask |= 1u << (c - 'a');
  }
  return mask;
}

void Prefix::MapDrive(char letter, const std::string& type, const std::optional<fs::path>& hostDir) {
  if (!DriveTypeFromName(type)) throw Error("Type de lecteur inconnu : " + type);
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  if (lower < 'a' || lower > 'z') throw Error(std::string("Lettre de lecteur invalide : ") + letter);
  const fs::path entry = DrivesFolder() / std::string(1, lower);
  std::error_code ec;
  if (hostDir) {
    fs::create_directories(*hostDir);
    if (fs::is_symlink(fs::symlink_status(entry, ec)) || fs::is_regular_file(entry, ec)) fs::remove(entry);
    if (fs::exists(entry, ec)) throw Error("Le lecteur existe déjà comme dossier : " + entry.string());
    fs::create_directory_symlink(fs::absolute(*hostDir), entry);
  } else {
    fs::create_directories(entry);
  }
  SetIni("drives", std::string(1, static_cast<char>(std::toupper(lower))), text::ToLower(type));
}

std::optional<fs::path> Prefix::ToHost(const std::string& windowsPath) const {
  std::string p = windowsPath;
  for (char& ch : p) {
    if (ch == '/') ch = '\\';
  }
  if (p.empty()) {
    win::SetLastError(win::ERROR_PATH_NOT_FOUND);
    return std::nullopt;
  }
  if (windowsPath.front() == '/') return fs::path(windowsPath);  // already a host path
  if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
    win::SetLastError(win::ERROR_BAD_NETPATH);  // UNC paths name nothing here
    return std::nullopt;
  }
  fs::path current;
  std::string rest;
  if (p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]))) {
    const auto drive = DriveFolder(p[0]);
    if (drive) {
      current = *drive;
    } else if (std::toupper(static_cast<unsigned char>(p[0])) == 'Z') {
      current = "/";
    } else {
      win::SetLastError(win::ERROR_PATH_NOT_FOUND);
      return std::nullopt;
    }
    rest = p.substr(2);
  } else {
    // A relative path stays relative to the working folder.
    current = fs::current_path();
    rest = p;
  }
  bool matching = true;  // once a component is missing, nothing below it can be matched
  std::vector<std::string> components;
  for (const std::string& part : text::Split(rest, '\\')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!components.empty()) components.pop_back();
      continue;
    }
    components.push_back(part);
  }
  for (const std::string& part : components) {
    if (matching) {
      std::error_code ec;
      if (Exists(current / part)) {
        current /= part;
        continue;
      }
      bool found = false;
      if (IsDirectory(current)) {
        for (const auto& entry : fs::directory_iterator(current, ec)) {
          if (text::IEquals(entry.path().filename().string(), part)) {
            current = entry.path();
            found = true;
            break;
          }
        }
      }
      if (found) continue;
      matching = false;
    }
    current /= part;
  }
  return current;
}

std::string Prefix::ToWindows(const fs::path& hostPath) const {
  std::error_code ec;
  const fs::path full = fs::weakly_canonical(fs::absolute(hostPath), ec);
  const fs::path& path = ec ? hostPath : full;
  for (char c = 'a'; c <= 'z'; ++c) {
    const auto drive = DriveFolder(c);
    if (!drive) continue;
    const fs::path root = fs::weakly_canonical(*drive, ec);
    const auto rel = path.lexically_relative(root);
    if (!rel.empty() && *rel.begin() != "..") {
      std::string out(1, static_cast<char>(std::toupper(c)));
      out += ":\\";
      if (rel != ".") out += rel.string();
      for (char& ch : out) {
        if (ch == '/') ch = '\\';
      }
      return out;
    }
  }
  std::string out = "Z:" + path.string();
  for (char& ch : out) {
    if (ch == '/') ch = '\\';
  }
  return out;
}

}  // namespace kv::host
