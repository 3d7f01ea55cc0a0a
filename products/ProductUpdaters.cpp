#include "products/ProductUpdaters.h"

#include <array>
#include <cstdint>
#include <exception>
#include <string>

#include "engine/Package.h"
#include "engine/UpdateCommon.h"
#include "formats/Text.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/InstallTools2.h"
#include "platform/Messages.h"
#include "platform/Win32.h"
#include "products/CommonFiles.h"
#include "products/PrintListUpdate.h"
#include "products/ProductFiles.h"
#include "products/ProductLocation.h"

namespace kv {

namespace {

constexpr const char* kTempPrefix = "Update";
constexpr const char* kFileList = "FileNames.txt";
constexpr const char* kRefusedText = "Mise à jour impossible, merci de contacter Korvane.";

// The package resource extracted into a new temporary file; empty when the package lacks it.
std::string Extract(TdmUpdateCommon& engine, const std::string& name) {
  std::string source;
  ExtractResourceToFile(name, engine.NewTempFileName(kTempPrefix), source);
  return source;
}

// The same for a file without which the update cannot go on.
std::string ExtractRequired(TdmUpdateCommon& engine, const std::string& name) {
  std::string source = Extract(engine, name);
  if (source.empty()) throw Error("Cannot find " + name);
  return source;
}

std::string UpdateErrorText(const std::string& what) {
  return "Une erreur s'est produite lors de la mise à jour du " + what;
}

std::string NotFoundText(const std::string& what) {
  return "Programme " + what + " pas trouvé.";
}

std::string IncompatibleVersionText(const std::string& file) {
  return file + "\r\n" + "Version du fichier inconnue ou incompatible.";
}

// The major number of the file version; raises when the file has none.
std::uint16_t MajorVersion(const std::string& file) {
  std::uint16_t v1 = 0, v2 = 0, v3 = 0, v4 = 0;
  if (!TWindowsInstaller::GetFileVersion(file, v1, v2, v3, v4)) throw Error(IncompatibleVersionText(file));
  return v1;
}

// A jump of major version over `guarded` needs the maker: refused, unless the updater runs from
// the maker's CD-ROM. True when refused (reported and shown).
bool RefusedMajorVersion(TdmUpdateCommon& engine, std::uint16_t installedMajor, std::uint16_t packagedMajor,
                         std::uint16_t guarded) {
  if (engine.GetUpdaterDriveType() == win::DRIVE_CDROM) return false;
  if (installedMajor != guarded || packagedMajor <= installedMajor) return false;
  Ui().MessageBeep(MB_ICONEXCLAMATION);
  engine.ReportLine(std::string("\r\n") + kRefusedText);
  ShowMessageBox(kRefusedText, MessageKind::Plain, mbOK, 0);
  return true;
}

// True (and shown) when another process holds the file.
bool ShownInUse(const std::string& file) {
  const win::DWORD code = FileInUseError(file);
  if (code == 0) return false;
  ShowMessageBox(UpdateErrorText(file) + "\r\n" + SystemErrorText(code) + " (" + std::to_string(code) + ")",
                 MessageKind::Plain, mbOK, 0);
  return true;
}

// The installed program is not where it is registered: the user is asked for it. The chosen file,
// or empty when the dialog was cancelled.
std::string AskForProgram(TdmUpdateCommon& engine, const std::string& installed) {
  ShowError(NotFoundText(installed) + " " + "Veuillez indiquer son emplacement.");
  return engine.OpenDialogProg.Execute() ? engine.OpenDialogProg.FileName : std::string();
}

// Copies a companion file of the package beside the installed main file when the package has it.
void CopyCompanion(TdmUpdateCommon& engine, std::string& currentFile, const std::string& name,
                   const std::string& folder) {
  currentFile = name;
  const std::string source = Extract(engine, name);
  if (!source.empty()) engine.CopyPackagedFile(source, PathWithDelimiter(folder) + name, true);
}

// The suite root, or the folder WKorvane the drives or the user give.
std::string SuiteRootOrLocated(TdmUpdateCommon& engine) {
  const std::string root = GetSuiteRootFolder();
  return root.empty() ? PathWithDelimiter(LocateProductFolder(engine, "WKorvane")) : root;
}

void LoadFileNames(TdmUpdateCommon& engine) {
  engine.LoadResourceLines(kFileList, *engine.FileNames);
}

}  // namespace

UpdateOutcome UpdateMainProduct(TdmUpdateCommon& engine) {
  std::string currentFile = "WinTessivo.exe";
  const std::string packagedExe = ExtractRequired(engine, currentFile);
  try {
    const std::string root = SuiteRootOrLocated(engine);
    if (!IsExistingFolder(root)) return UpdateOutcome::Failed;
    const std::string edition = engine.ProductCode == pcWinTessivoIngenieur ? "TSI" : "TSV";
    std::string installed =
        root + PathWithDelimiter(edition) + PathWithDelimiter("Programs") + "WinTessivo.exe";
    if (!IsExistingFile(installed)) {
      installed = AskForProgram(engine, installed);
      if (!IsExistingFile(installed)) return UpdateOutcome::Failed;
    }
    const std::uint16_t packagedMajor = MajorVersion(packagedExe);
    const std::uint16_t installedMajor = MajorVersion(installed);
    if (RefusedMajorVersion(engine, installedMajor, packagedMajor, 4)) return UpdateOutcome::Failed;
    if (ShownInUse(installed)) return UpdateOutcome::Failed;

    const std::string folder = PathWithDelimiter(ExtractFilePath(installed));
    currentFile = "TSV_DB_INTF.dll";
    const std::string packagedDbIntf = Extract(engine, currentFile);
    std::string installedDbIntf;
    if (!packagedDbIntf.empty()) {
      installedDbIntf = folder + "TSV_DB_INTF" + ".dll";
      if (ShownInUse(installedDbIntf)) return UpdateOutcome::Failed;
    }
    const UpdateOutcome replaced = engine.ReplaceFileByVersion(packagedExe, installed, true, false);
    if (replaced != UpdateOutcome::Completed) return replaced;
    // The interface library is only ever replaced, never installed.
    if (!installedDbIntf.empty() && IsExistingFile(installedDbIntf)) {
      engine.CopyPackagedFile(packagedDbIntf, installedDbIntf, true);
    }
    CopyCompanion(engine, currentFile, "Korvane.dll", folder);
    CopyCompanion(engine, currentFile, "WinTessivo.chm", folder);
    currentFile.clear();
    const UpdateOutcome result = UpdatePrintLists(engine, "");
    // The library the package carries and could not be copied (held by a running program) is
    // reported there: the update ends with warnings.
    if (UpdateCommonPdfLibrary(engine) == UpdateOutcome::Failed) return UpdateOutcome::CompletedWithWarnings;
    return result;
  } catch (const std::exception& error) {
    engine.ReportLine(currentFile.empty() ? std::string(error.what())
                                          : UpdateErrorText(currentFile) + "\r\n" + error.what());
    return UpdateOutcome::Failed;
  }
}

UpdateOutcome UpdateAddressModule(TdmUpdateCommon& engine) {
  std::string currentFile = "TSAdresses2.dll";
  const std::string packaged = ExtractRequired(engine, currentFile);
  try {
    const std::string root = SuiteRootOrLocated(engine);
    if (!IsExistingFolder(root)) return UpdateOutcome::Failed;
    const std::string folder = root + PathWithDelimiter("Adresses") + PathWithDelimiter("Programs");
    const std::string installed = folder + "TSAdresses2.dll";
    // A missing library is raised by the policy: "Fichier pas trouvé : <path>".
    const UpdateOutcome replaced = engine.ReplaceFileByVersion(packaged, installed, true, false);
    if (replaced != UpdateOutcome::Completed) return replaced;
    SetProductProgramPath(ProductKeyName(pcAdresses), installed);
    CopyCompanion(engine, currentFile, "AcctCore.dll", folder);
    CopyCompanion(engine, currentFile, "Adresses.chm", folder);
    currentFile.clear();
    return UpdatePrintLists(engine, "");
  } catch (const std::exception& error) {
    engine.ReportLine(UpdateErrorText(currentFile) + "\r\n" + error.what());
    return UpdateOutcome::Failed;
  }
}

UpdateOutcome UpdateZorbalt(TdmUpdateCommon& engine) {
  // No handler of its own: every error reaches the update run.
  const std::string packaged = ExtractRequired(engine, "Zorbalt.exe");
  const std::string base = GetProductProgramPath(ProductKeyName(pcZorbalt), true);
  if (base.empty()) throw Error(NotFoundText("Zorbalt"));
  const std::string installed = PathWithDelimiter(base) + "Zorbalt.exe";
  if (!IsExistingFile(installed)) throw Error(NotFoundText(installed));
  std::uint16_t v1 = 0, v2 = 0, v3 = 0, v4 = 0;
  if (!TWindowsInstaller::GetFileVersion(installed, v1, v2, v3, v4) || v1 != 3) {
    throw Error(IncompatibleVersionText(installed));
  }
  const UpdateOutcome replaced = engine.ReplaceFileByVersion(packaged, installed, true, false);
  if (replaced != UpdateOutcome::Completed) return replaced;
  // A package without the template makes this copy raise.
  engine.CopyPackagedFile(Extract(engine, "Zorbalt.etf"), PathWithDelimiter(base) + "Zorbalt" + ".etf", true);
  LoadFileNames(engine);
  std::erase_if(*engine.FileNames,
                [](const std::string& name) { return text::IEquals(name, "Zorbalt.etf"); });
  engine.ReportLine(std::string("Copie de ") + "fichiers de données...");
  Delay(100);
  if (!InstallListedFiles(engine, PathWithDelimiter(base) + "Data", false)) return UpdateOutcome::Failed;
  return replaced;
}

UpdateOutcome UpdateBrisklane(TdmUpdateCommon& engine) {
  std::string currentFile;
  try {
    std::string installed = GetProductProgramPath(ProductKeyName(pcBrisklane), true);
    if (!IsExistingFile(installed)) {
      installed = AskForProgram(engine, installed);
      if (!IsExistingFile(installed)) return UpdateOutcome::Failed;
    }
    const std::string folder = PathWithDelimiter(ExtractFilePath(installed));
    const std::string interfaceLibrary = folder + "BLE_INTF" + ".dll";
    if (!IsExistingFile(interfaceLibrary)) {
      throw Error("L'installation de " + interfaceLibrary + " n'a certainement pas été effectuée !!!");
    }
    currentFile = "Brisklane.exe";
    const std::string packaged = ExtractRequired(engine, currentFile);
    const std::uint16_t packagedMajor = MajorVersion(packaged);
    const std::uint16_t installedMajor = MajorVersion(installed);
    if (RefusedMajorVersion(engine, installedMajor, packagedMajor, 5)) return UpdateOutcome::Failed;
    if (ShownInUse(installed) || ShownInUse(interfaceLibrary)) return UpdateOutcome::Failed;
    const UpdateOutcome replaced = engine.ReplaceFileByVersion(packaged, installed, true, false);
    if (replaced != UpdateOutcome::Completed) return replaced;

    currentFile = "BLE_INTF.dll";
    engine.CopyPackagedFile(ExtractRequired(engine, currentFile), folder + "BLE_INTF.dll", true);
    // The sibling tools are only replaced where the installation has them.
    for (const char* tool : {"BLTOOLA.exe", "BLTOOLB.exe", "BLTOOLC.exe", "BLTOOLD.exe", "BLTOOLE.exe"}) {
      currentFile = tool;
      const std::string source = Extract(engine, currentFile);
      if (!source.empty() && IsExistingFile(folder + tool))
        engine.CopyPackagedFile(source, folder + tool, true);
    }
    CopyCompanion(engine, currentFile, "Brisklane.chm", folder);
    currentFile.clear();
    return UpdatePrintLists(engine, "");
  } catch (const std::exception& error) {
    engine.ReportLine(UpdateErrorText(currentFile) + "\r\n" + error.what());
    return UpdateOutcome::Failed;
  }
}

UpdateOutcome UpdateQuaymart(TdmUpdateCommon& engine) {
  const std::string currentFile = "TSVQuaymart.exe";
  const std::string packaged = ExtractRequired(engine, currentFile);
  try {
    const std::string root =
        ParentFolder(ParentFolder(GetProductProgramPath(ProductKeyName(pcWinTessivo), false)));
    const std::string folder = root + "Quaymart" + "\\" + "Programs" + "\\";
    const std::string installed = folder + "TSVQuaymart.exe";
    if (!IsExistingFile(installed)) throw Error(NotFoundText(installed));
    UpdateOutcome result = engine.ReplaceFileByVersion(packaged, installed, true, true);
    if (result == UpdateOutcome::Completed) {
      LoadFileNames(engine);
      // The program follows its files: it is copied only when all of them are in place.
      if (InstallListedFiles(engine, folder, true)) {
        // A printing list refused by its name is not in the folder: the update has warnings.
        if (UpdatePrintLists(engine, folder) != UpdateOutcome::Completed)
          result = UpdateOutcome::CompletedWithWarnings;
        engine.CopyPackagedFile(packaged, installed, true);
      } else {
        result = UpdateOutcome::CompletedWithWarnings;
      }
    }
    return result;
  } catch (const std::exception& error) {
    engine.ReportLine(UpdateErrorText(currentFile) + "\r\n" + error.what());
    return UpdateOutcome::Failed;
  }
}

UpdateOutcome UpdateKorvane5Data(TdmUpdateCommon& engine, ProductCode code) {
  const std::string currentFile = code == pcPelmora ? "pls\\SA-00.int" : "gs\\GS-00.int";
  const std::string key = ProductKeyName(code);
  const std::string packaged = ExtractRequired(engine, currentFile);
  std::string folder = ParentFolder(GetProductProgramPath(key, false));
  if (folder.empty()) folder = LocateProductFolder(engine, "Korvane5");
  if (folder.empty()) throw Error("Répertoire Korvane5 pas trouvé.");
  try {
    const std::string installed = PathWithDelimiter(folder) + currentFile;
    // Only a folder that holds the data is registered: a registered folder is never searched again.
    if (IsExistingFile(installed)) SetProductProgramPath(key, installed);
    UpdateOutcome result = engine.ReplaceFileByVersion(packaged, installed, true, true);
    if (result == UpdateOutcome::Completed) {
      LoadFileNames(engine);
      ForceDirectories(PathWithDelimiter(folder) + "Images07");
      if (InstallListedFiles(engine, folder, true)) {
        engine.CopyPackagedFile(packaged, installed, true);
      } else {
        result = UpdateOutcome::CompletedWithWarnings;
      }
    }
    return result;
  } catch (const std::exception& error) {
    engine.ReportLine(UpdateErrorText(currentFile) + "\r\n" + error.what());
    return UpdateOutcome::Failed;
  }
}

UpdateOutcome UpdateZrq(TdmUpdateCommon& engine) {
  std::string currentFile = "ZRQ.exe";
  const std::string packaged = ExtractRequired(engine, currentFile);
  try {
    std::string installed = GetProductProgramPath(ProductKeyName(pcZrq), true);
    if (!IsExistingFile(installed)) {
      installed = AskForProgram(engine, installed);
      if (!IsExistingFile(installed)) return UpdateOutcome::Failed;
    }
    const UpdateOutcome replaced = engine.ReplaceFileByVersion(packaged, installed, true, false);
    if (replaced != UpdateOutcome::Completed) return replaced;
    const std::string folder = ExtractFilePath(installed);
    CopyCompanion(engine, currentFile, "ZRQDOC.pdf", folder);
    CopyCompanion(engine, currentFile, "ZRQHELP.rtf", folder);
    // An error of the printing lists is reported under the last companion file's name.
    return UpdatePrintLists(engine, "");
  } catch (const std::exception& error) {
    engine.ReportLine(UpdateErrorText(currentFile) + "\r\n" + error.what());
    return UpdateOutcome::Failed;
  }
}

UpdateOutcome UpdateOptaris(TdmUpdateCommon& engine) {
  const std::string currentFile = "Optaris.exe";
  const std::string packaged = ExtractRequired(engine, currentFile);
  try {
    const std::string root = GetSuiteRootFolder();
    if (root.empty()) return UpdateOutcome::Failed;
    const std::string folder = root + PathWithDelimiter("Common") + PathWithDelimiter("Programs");
    ForceDirectories(folder);
    const std::string installed = folder + "Optaris.exe";
    if (!IsExistingFile(installed)) throw Error(NotFoundText(installed));
    UpdateOutcome result = engine.ReplaceFileByVersion(packaged, installed, true, false);
    if (result == UpdateOutcome::Completed) {
      LoadFileNames(engine);
      if (!InstallListedFiles(engine, folder, true)) result = UpdateOutcome::Failed;
    }
    return result;
  } catch (const std::exception& error) {
    engine.ReportLine(UpdateErrorText(currentFile) + "\r\n" + error.what());
    return UpdateOutcome::Failed;
  }
}

}  // namespace kv
