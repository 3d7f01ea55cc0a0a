// The rules by which a packaged file replaces an installed one.
#include <exception>

#include "engine/UpdateCommon.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "platform/UserInterface.h"

namespace kv {

namespace {

// Copies source to a new file beside target and renames it over target. The last error is left
// set on failure, and no file of the attempt remains.
bool CopyThroughSibling(const std::string& source, const std::string& target) {
  // A partly written copy (a full disk) or one that could not take the target's place must not stay
  // behind; it carries the source's attributes, and a read-only one could not be removed.
  const auto discard = [](const std::string& sibling, win::DWORD error) {
    win::SetFileAttributes(sibling, win::FILE_ATTRIBUTE_NORMAL);
    win::DeleteFile(sibling);
    win::SetLastError(error);
    return false;
  };
  const std::string stem = ExtractFilePath(target) + "~" + ExtractFileName(target);
  // A leftover of an interrupted earlier attempt is not ours to remove: take the next name.
  constexpr int kNames = 100;
  for (int i = 0; i < kNames; ++i) {
    const std::string sibling = stem + (i == 0 ? std::string() : "." + std::to_string(i)) + ".kvnew";
    if (win::GetFileAttributes(sibling) != win::INVALID_FILE_ATTRIBUTES) continue;
    if (!win::CopyFile(source, sibling, true)) {
      const win::DWORD error = win::GetLastError();
      if (error == win::ERROR_FILE_EXISTS) continue;  // made meanwhile by someone else
      return discard(sibling, error);
    }
    if (win::MoveFileEx(sibling, target, win::MOVEFILE_REPLACE_EXISTING)) return true;
    return discard(sibling, win::GetLastError());
  }
  win::SetLastError(win::ERROR_FILE_EXISTS);
  return false;
}

}  // namespace

void TdmUpdateCommon::CopyPackagedFile(const std::string& Source, const std::string& Target, bool Report) {
  if (Report) {
    ReportLine("Copie de " + Source);
    ReportLine("vers " + Target + "\r\n");
    Delay(10);
  }
  bool ok = true;
  if (IsExistingFile(Target)) ok = win::SetFileAttributes(Target, win::FILE_ATTRIBUTE_NORMAL);
  if (ok) ok = CopyThroughSibling(Source, Target);
  const win::DWORD error = win::GetLastError();
  win::SetFileAttributes(Target, win::FILE_ATTRIBUTE_NORMAL);
  if (!ok) {
    throw SystemError(error, "Source: " + Source + "\r\n" + "Target: " + Target + "\r\n" + "\r\n" +
                                 "Error: " + SystemError::FromCode(error).what());
  }
}

UpdateOutcome TdmUpdateCommon::ReplaceFileByVersion(const std::string& Source, const std::string& Target,
                                                    bool MustExist, bool DeferCopy) {
  if (MustExist && !IsExistingFile(Target)) throw Error("Fichier pas trouvé : " + Target);
  UpdateOutcome outcome = UpdateOutcome::Completed;
  switch (CompareFileVersion(Target, Source)) {
    case -1:
      Ui().MessageBeep(MB_ICONEXCLAMATION);
      if (!AskConfirmation("Le fichier " + ExtractFileName(Target) +
                           " présent sur votre système est plus récent\r\n" +
                           "que celui qui est contenu dans cette mise à jour.\r\n" +
                           "Voulez-vous installer un ancien fichier ?")) {
        ReportFileNotReplaced(Target);
        return UpdateOutcome::NotPerformed;
      }
      break;
    case 0:
      Ui().MessageBeep(MB_ICONEXCLAMATION);
      if (!AskConfirmation("Le fichier " + ExtractFileName(Target) +
                           " présent sur votre système est à jour.\r\n" +
                           "Voulez-vous tout de même continuer la mise à jour ?")) {
        ReportFileUpToDate(Target);
        return UpdateOutcome::NotPerformed;
      }
      break;
    case 1:
      break;
    default:
      throw Error("Une erreur de comparaison des fichiers s'est produite lors de la mise à jour du " +
                  Target);
  }
  if (!DeferCopy) {
    try {
      CopyPackagedFile(Source, Target, true);
    } catch (const std::exception&) {
      // The "Copie de" and "vers" lines already name the file; the caller reports the failure.
      outcome = UpdateOutcome::Failed;
    }
  }
  return outcome;
}

int TdmUpdateCommon::CompareFileVersion(const std::string& CurrentFile, const std::string& NewFile) {
  return Installer->CompareFileVersion(CurrentFile, NewFile);
}

}  // namespace kv
