// The host prefix: the folder from which the host backend answers every Windows question.
//
//   <prefix>/drives/<letter>/   drive <LETTER>: (a folder or a symlink to one)
//   <prefix>/prefix.ini         [drives] C=fixed D=cdrom ...; [system] windows=C:\Windows ...
//   <prefix>/registry.reg       HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, as regedit exports them
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kv::host {

class Prefix {
 public:
  // The prefix named by KORVANE_PREFIX (default ~/.korvane), created with defaults on first use.
  // A change of KORVANE_PREFIX is seen by the next call.
  static Prefix& Current();

  const std::filesystem::path& Root() const { return root_; }
  std::filesystem::path RegistryFile() const { return root_ / "registry.reg"; }
  std::filesystem::path IniFile() const { return root_ / "prefix.ini"; }
  std::filesystem::path DrivesFolder() const { return root_ / "drives"; }

  // A value of prefix.ini (section and key without regard to case); prefix.ini is read again
  // when another process changed it.
  std::optional<std::string> Ini(const std::string& section, const std::string& key) const;
  std::string Ini(const std::string& section, const std::string& key, const std::string& fallback) const;
  // Writes the value and rewrites prefix.ini atomically.
  void SetIni(const std::string& section, const std::string& key, const std::string& value);

  // 'A'..'Z'. The drive's folder when the drive exists.
  std::optional<std::filesystem::path> DriveFolder(char letter) const;
  // DRIVE_* type of an existing drive from [drives] (unlisted: fixed); DRIVE_NO_ROOT_DIR otherwise.
  unsigned DriveType(char letter) const;
  std::uint32_t LogicalDrives() const;
  // Maps a drive to a host folder (creating the entry) and records its type.
  void MapDrive(char letter, const std::string& type, const std::optional<std::filesystem::path>& hostDir);

  // "X:\a\b" to the host path, each existing component matched without regard to case. A drive
  // that is not mapped maps nothing, except Z:, which reaches the host's own root. UNC paths map
  // nothing. nullopt carries the Windows error in the thread's last error.
  std::optional<std::filesystem::path> ToHost(const std::string& windowsPath) const;
  // The Windows path of a host path: below a drive's folder that drive, otherwise Z:\ + the path.
  std::string ToWindows(const std::filesystem::path& hostPath) const;

 private:
  explicit Prefix(std::filesystem::path root);
  void EnsureCreated();
  void ReloadIniIfChanged() const;
  void WriteIni() const;

  using IniEntries = std::vector<std::pair<std::string, std::string>>;

  std::filesystem::path root_;
  mutable std::mutex mutex_;
  // The sections under their lower-case names; the entries in file order, so that a rewrite keeps
  // it, their names compared without regard to case.
  mutable std::map<std::string, IniEntries> ini_;
  mutable std::filesystem::file_time_type iniTime_{};
};

// Drive type names of prefix.ini and their DRIVE_* values.
std::optional<unsigned> DriveTypeFromName(const std::string& name);
std::string DriveTypeName(unsigned type);

// errno to the Windows error code a Windows call would give.
std::uint32_t WindowsErrorFromErrno(int err);

}  // namespace kv::host
