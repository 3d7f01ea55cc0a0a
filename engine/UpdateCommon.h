// The update engine: the module the wizard creates once at start-up and the updaters work through.
// It reads the package's resources, hands out the temporary files packaged files are extracted
// to, writes the installation report and decides by version whether a packaged file replaces an
// installed one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "db/dmDBConnectionUnit.h"
#include "engine/UpdateOutcome.h"
#include "platform/InstallTools2.h"
#include "platform/RichTextControl.h"
#include "platform/Win32.h"

namespace kv {

// A file-open dialog as the engine keeps it: the request it shows through the user-interface port.
struct TOpenDialog {
  std::string Title;
  std::string Filter;      // "Programmes (*.exe)|*.exe" style; empty: no filter
  std::string InitialDir;  // Windows path
  std::string FileName;    // in: proposed name; out: the chosen file

  // Shows the dialog; true with FileName set to the chosen file.
  bool Execute();
};

class TFMultiSte;
class TdmStructurePrinting;

// The engine's parts that the products layer defines, the company list and the print structure
// store: the engine owns them, and makes them through the factories the products layer installs
// once at start-up (InstallEngineParts). Without factories the engine has neither, and no company
// database is reached.
struct TEngineParts {
  template <typename T>
  using Owned = std::unique_ptr<T, std::function<void(T*)>>;
  std::function<Owned<TFMultiSte>()> CreateCompanyList;
  std::function<Owned<TdmStructurePrinting>(TdmDBConnection& Connection)> CreateStructurePrinting;
};
// Installs the factories every engine made afterwards uses; empty ones remove them.
void SetEngineParts(TEngineParts parts);

// The size in points of the report's header and outcome lines.
inline constexpr int kReportHeadingSize = 10;

// "Mise à jour : <title>  dd.mm.yyyy hh:nn:ss" + CR LF, the first line of a run's report, for a
// local time.
std::string ReportHeaderText(const std::string& title, win::FileTime localTime);
// The outcome line, CR LF first so an empty line precedes it; nullopt for an outcome without line.
std::optional<std::string> OutcomeText(UpdateOutcome outcome);
// What the report says of an error that escaped the updaters.
std::string EscapedErrorText(const std::string& message);
// The lines of a text resource: its bytes decoded (UTF-8 or UTF-16 after their byte-order mark,
// otherwise code page 1252) and split at CR LF, CR or LF.
std::vector<std::string> ResourceTextLines(const std::string& bytes);

class TdmUpdateCommon {
 public:
  // A uniform draw below `bound`, for temporary file names.
  using RandomSource = std::function<std::uint32_t(std::uint32_t bound)>;

  // Temporary names are below this number.
  static constexpr std::uint32_t kTempNumberBound = 10000000;

  TdmUpdateCommon();           // DataModuleCreate
  virtual ~TdmUpdateCommon();  // DataModuleDestroy; never throws
  TdmUpdateCommon(const TdmUpdateCommon&) = delete;
  TdmUpdateCommon& operator=(const TdmUpdateCommon&) = delete;

  // Package resources ------------------------------------------------------------------------

  // Replaces `lines` with the lines of a text resource; the number of lines, 0 when the resource
  // is missing or empty.
  int LoadResourceLines(std::string_view name, std::vector<std::string>& lines);
  // Replaces the control's content with a Rich Text Format resource; the control's line count,
  // 0 when the resource is missing.
  int LoadResourceRichText(std::string_view name, RichTextControl& control);

  // Temporary files --------------------------------------------------------------------------

  // Seeds the generator of temporary names from the clock; the wizard calls it once when shown.
  void Randomize();
  // Replaces the generator (tests); an empty source restores the built-in one.
  void SetRandomSource(RandomSource source);
  // A temporary file name (the file is not created): temporary folder + prefix + a number below
  // kTempNumberBound + ".tmp". Never a name handed out before in this run; a stale file left
  // under the name is deleted and reported. Throws SystemError when it cannot be deleted. The
  // first call removes the part files that killed runs left in the temporary folder.
  std::string NewTempFileName(const std::string& prefix);
  // Deletes the files of the temporary folder matching the mask; false when an error occurred.
  bool DeleteTempFiles(const std::string& mask) noexcept;

  // Report -----------------------------------------------------------------------------------

  void SetReportControl(RichTextControl* control) { ReportControl = control; }
  // Appends the text (CR LF starts a new line) at the end of the report, with a size in points
  // (0: the format at the end of the report stays in effect). Does nothing without a control.
  void ReportLine(const std::string& text, int size = 0);
  // Reports the deletion, then deletes the file; throws SystemError when that fails.
  void DeleteFileReported(const std::string& fileName);
  void ReportFileUpToDate(const std::string& fileName);
  void ReportFileNotReplaced(const std::string& fileName);
  // A listed name that may not be installed (IsSafeResourceFileName): "Le fichier <name>", then
  // "n'est pas installé : son nom n'est pas autorisé." and an empty line.
  void ReportFileNameRefused(const std::string& fileName);
  // A target reached through a link (LeadsThroughLink): "Le fichier <target>", then "n'est pas
  // installé : son chemin passe par un lien." and an empty line.
  void ReportFileBehindLink(const std::string& fileName);

  // Replacement policy ------------------------------------------------------------------------

  // Copies Source over Target, reporting it first when Report is set. The new content is written
  // into a part file beside the target (engine/PartFile.h), written through to the disk, and takes
  // the target's place in one rename, so a failed copy, a kill or a power cut leaves the old file
  // whole. The first copy into a folder removes the part files killed runs left there. Throws
  // SystemError with "Source: ...\r\nTarget: ...\r\n\r\nError: <system text>".
  void CopyPackagedFile(const std::string& Source, const std::string& Target, bool Report);
  // Decides by version whether Source may replace Target, asking the user when the installed file
  // is the same or newer, and copies it unless DeferCopy. Completed: copied (or, with DeferCopy,
  // may be copied); Failed: the copy failed; NotPerformed: the user kept the installed file.
  UpdateOutcome ReplaceFileByVersion(const std::string& Source, const std::string& Target, bool MustExist,
                                     bool DeferCopy);
  // The drive type (DRIVE_*) of the drive the updater runs from.
  unsigned GetUpdaterDriveType() const;

  // Fields -----------------------------------------------------------------------------------

  TOpenDialog OpenDialogProg;
  RichTextControl* ReportControl = nullptr;  // not owned
  // The installation's companies, loaded first; destroyed last.
  TEngineParts::Owned<TFMultiSte> CompanyList;
  std::unique_ptr<TWindowsInstaller> Installer;
  std::unique_ptr<std::vector<std::string>> PrintLists;
  std::unique_ptr<std::vector<std::string>> FileNames;
  // The connection to a product's company database; created with the engine, destroyed after its
  // destructor's body (it outlives the print structure store, which works on it).
  std::unique_ptr<TdmDBConnection> DBConnection;
  // The printing lists' store on DBConnection; freed by the destructor's body.
  TEngineParts::Owned<TdmStructurePrinting> StructurePrinting;
  std::uint8_t ProductCode = 0;

 protected:
  // The running program's full path.
  virtual std::string UpdaterModulePath() const;
  // 1: NewFile is to be preferred, 0: the same, -1: CurrentFile is newer.
  virtual int CompareFileVersion(const std::string& CurrentFile, const std::string& NewFile);

 private:
  std::string TempFolder() const;
  std::uint32_t DrawTempNumber();
  // Removes the part files abandoned in the folder, once per folder and engine.
  void RemoveLeftoversOnce(const std::string& folder);

  std::mt19937 generator_;
  RandomSource randomSource_;
  // Upper-case names handed out by NewTempFileName.
  std::unordered_set<std::string> tempNames_;
  // Upper-case folders already rid of abandoned part files.
  std::unordered_set<std::string> cleanedFolders_;
};

}  // namespace kv
