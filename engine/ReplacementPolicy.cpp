// The rules by which a packaged file replaces an installed one.
#include <cstdint>
#include <exception>
#include <optional>
#include <vector>

#include "engine/PartFile.h"
#include "engine/UpdateCommon.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "platform/UserInterface.h"

namespace kv {

namespace {

constexpr std::size_t kCopyBufferSize = std::size_t{256} << 10;

// Copies source to a part file beside target, written through to the disk, which then takes the
// target's place in one rename: a kill or a power cut at any moment leaves either the old target
// or the whole new one. The last error is left set on failure, and no file of the attempt remains.
bool CopyThroughPartFile(const std::string& source, const std::string& target) {
  // As CopyFile reads its source: sharing read only.
  auto in = win::File::Create(source, win::GENERIC_READ, win::FILE_SHARE_READ, win::OPEN_EXISTING);
  if (!in) return false;
  win::FileTime time = 0;
  if (!win::GetFileLastWriteTime(source, time)) return false;
  std::optional<PartFile> part;
  try {
    part.emplace(target);
  } catch (const SystemError& e) {
    win::SetLastError(e.code());
    return false;
  }
  std::vector<std::uint8_t> buffer(kCopyBufferSize);
  for (;;) {
    const long long got = in->Read(buffer.data(), buffer.size());
    if (got < 0) return false;
    if (got == 0) break;
    if (!part->File().Write(buffer.data(), static_cast<std::size_t>(got))) return false;
  }
  // The copy keeps the source's last-write time, as CopyFile does; stamped after the last write.
  if (!part->File().SetLastWriteTime(time)) return false;
  return part->ReplaceTarget(true);
}

}  // namespace

void TdmUpdateCommon::CopyPackagedFile(const std::string& Source, const std::string& Target, bool Report) {
  if (Report) {
    ReportLine("Copie de " + Source);
    ReportLine("vers " + Target + "\r\n");
    Delay(10);
  }
  RemoveLeftoversOnce(ExtractFilePath(Target));
  bool ok = true;
  if (IsExistingFile(Target)) ok = win::SetFileAttributes(Target, win::FILE_ATTRIBUTE_NORMAL);
  if (ok) ok = CopyThroughPartFile(Source, Target);
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
