// TWindowsInstaller: the installer toolkit the update engine keeps for its whole life. Its file half
// tells whether files exist, reads file versions, decides which of two files wins, copies or
// replaces a file only when the new one is newer (with backups and, for a target in use, a
// replacement at the next restart), installs fonts, keeps the system's shared-use counts and makes
// unique folders. Its system half answers the Windows, temporary and shell folders, the operating
// system, terminal services, rights, addresses, drives, shortcuts and a few registry chores.
//
// Errors are kv::Error with the texts below; after an error box the operation ends with
// kv::SilentAbort.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Win32.h"
#include "platform/Win32Shell.h"

namespace kv {

// The content of a shell shortcut.
struct TShellLinkInfoRec {
  std::string PathName;
  std::string Arguments;
  std::string Description;
  std::string WorkingDirectory;
  std::string IconLocation;
  int IconIndex = 0;
  int ShowCmd = 0;
  std::uint16_t HotKey = 0;  // virtual key in the low byte, modifiers in the high byte
};

class TWindowsInstaller {
 public:
  // SourceToolsPath is the folder prefix of the folder library, used as given (empty, or ending
  // with a backslash). No library is loaded yet.
  explicit TWindowsInstaller(const std::string& SourceToolsPath);
  ~TWindowsInstaller();
  TWindowsInstaller(const TWindowsInstaller&) = delete;
  TWindowsInstaller& operator=(const TWindowsInstaller&) = delete;

  // ---- Files and versions

  // S with one trailing backslash; an empty S and one already ending with a backslash unchanged.
  static std::string AddBackslash(const std::string& S);
  static bool FileExists(const std::string& Name);
  static bool FileOrDirExists(const std::string& Name);
  // The file version of the fixed version information; the numbers are set only when it exists.
  static bool GetFileVersion(const std::string& FileName, std::uint16_t& v1, std::uint16_t& v2,
                             std::uint16_t& v3, std::uint16_t& v4);
  // "5.2.0.117", or "?" for a file without version information.
  static std::string GetFileVersion(const std::string& FileName);

  // 1: take NewFile (newer, CurrentFile missing, or undecided); 0: the same; -1: CurrentFile is
  // newer. Versions decide when both files have one, otherwise the local last-write times.
  int CompareFileVersion(const std::string& CurrentFile, const std::string& NewFile);
  bool IsFileNewer(const std::string& CurrentFile, const std::string& NewFile);

  // Installs SourceFileName into DestDir when it is newer than the file there, after backing that
  // one up into BackupDir (empty: DestDir). A target in use is replaced at the next restart
  // (MustReboot). True when the file was installed.
  bool CopyOrReplaceFileIfNewer(const std::string& SourceFileName, const std::string& DestDir,
                                const std::string& BackupDir, bool& MustReboot);
  // Copies SourceFileName into TargetPath when absent there or newer; no backup, no deferral.
  void CopyOrReplaceFileIfNewer(const std::string& SourceFileName, const std::string& TargetPath);
  void CopyToSystem(const std::string& FileName);
  void CopyAndInstallFont(const std::string& SourceFilename, const std::string& FontName);

  // The shared-use counts of HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\SharedDLLs.
  static void IncrementSharedCount(const std::string& Filename, bool AlreadyExisted);
  // True when the count reached zero and the value was removed.
  static bool DecrementSharedCount(const std::string& Filename);
  static void RemoveSharedCount(const std::string& Filename);

  // Creates Path\Name000 (or the next free number up to 999) and answers its full path.
  static std::string CreateUniqueDir(const std::string& Path, const std::string& Name);

  // ---- System information (paths end with a backslash unless empty)

  static std::string GetWinPath();
  // The system folder, or the Windows folder when the system folder lies elsewhere and cannot
  // be written.
  static std::string GetWinSystemPath();
  std::string GetTempPath();
  std::string GetCurrentProfilePath();
  std::string GetMyDocumentsPath();
  std::string GetLocalAppDataPath();
  std::string GetUserAppDataPath();
  std::string GetAllUsersAppDataPath();
  std::string GetCommonDesktopPath();
  std::string GetDesktopPath();
  std::string GetProgramsPath();
  // "?" when no user is logged on.
  std::string GetUsername();
  void GetIEVersion(std::uint16_t& v1, std::uint16_t& v2, std::uint16_t& v3, std::uint16_t& v4);

  static bool IsRunningInsideTSSession();
  static bool IsTSInstalled();
  static bool IsOnNT4TS();
  static int GetTSESessionID();
  static bool IsAcroreadInstalled();

  static bool IsWindowsXP();
  static bool IsWindows9X();
  static bool IsWindows2003();
  static bool IsWindowsNT4();
  static bool IsWindowsVista();
  static bool IsWindowsSeven();

  static bool IsAdministrator();
  static bool IsNTFS(char volume);
  // Appends the IPv4 addresses of the computer's name, dotted decimal; the list is not cleared.
  static void GetLocalIPAdresses(std::vector<std::string>& list);
  // The lower-case letters of the fixed drives.
  static void GetLocalDriveLetters(std::vector<std::string>& DriveList);
  // Searches the CD-ROM drives C: to Z: for FileToFind, ten times a second apart.
  static bool FindCDRomLetter(const std::string& FileToFind, char& DriveLetter);
  static void RestartComputer();
  static bool NeedsVBRun60R5();
  // Raises the text of a failed shell execution (value 32 or less).
  static void CheckShellExResult(const std::string& OperationText, int value);
  static bool GetShellLinkInfo(const std::string& LinkFile, TShellLinkInfoRec& ShellInfo);
  static void SetShellLinkInfo(const std::string& LinkFile, const TShellLinkInfoRec& ShellInfo);
  static void RegDeleteKeyIfEmpty(win::HKEY root, const std::string& Key);
  // "A\B\C" gives "A\B\" and "C"; without a backslash, an empty parent and the whole text.
  static void ExtractParentPath(const std::string& APath, std::string& ParentPath, std::string& ChildItem);

 private:
  friend struct TWindowsInstallerTestAccess;

  // Where the unit draws the start of temporary names, tests whether a temporary name is taken and
  // waits between CD-ROM searches; tests replace them.
  struct Seams {
    std::function<std::uint32_t()> randomStart;
    std::function<bool(const std::string&)> nameTaken;
    std::function<void(std::uint32_t)> wait;
  };
  static Seams& TheSeams();

  struct FixedVersion {
    std::uint32_t ms = 0;
    std::uint32_t ls = 0;
  };

  static std::string StripTrailingBackslash(const std::string& P);
  static win::DWORD GetAttributesQuiet(const std::string& P);
  static bool DirectoryExists(const std::string& P);
  static bool GetFileWriteTime(const std::string& F, win::FileTime& time);
  static bool GetFixedFileVersion(const std::string& F, FixedVersion& version);
  static std::string ShortPathOf(const std::string& P);
  static std::string EncodeBase32Digits(std::uint32_t N);
  static std::string MakeTempNameInDir(const std::string& Dir, const std::string& Ext);
  static std::string MakeNumberedFileName(const std::string& F);
  static void ScheduleReplaceAtRestart(const std::string& Source, const std::string& Target);
  static void ReplaceTargetFile(const std::string& Source, const std::string& Target, bool& MustReboot);
  static void EnsureDirectoryExists(const std::string& Path);
  void LoadFolderFunction();
  void FreeFolderLibraries();
  // The shell folder of a CSIDL without trailing backslash, or empty.
  std::string GetFolderBySpecialId(int id, bool create = true);
  std::string FolderPath(int id);

  std::string FToolsPath;
  win::HMODULE SHFolderShell32Handle = 0;
  win::HMODULE SHFolderDLLHandle = 0;
  win::SHGetFolderPathFunction SHGetFolderPathFunc = nullptr;
};

}  // namespace kv
