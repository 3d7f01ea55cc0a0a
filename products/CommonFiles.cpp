#include "products/CommonFiles.h"

#include <exception>

#include "engine/Package.h"
#include "engine/UpdateCommon.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Win32.h"
#include "products/ProductFiles.h"
#include "products/ProductLocation.h"
#include "products/ProductTable.h"

namespace kv {

namespace {

constexpr const char* kTempPrefix = "Update";
constexpr const char* kFileList = "FileNames.txt";
constexpr const char* kPdfLibrary = "wPDF300A.dll";

std::string ErrorLine(const std::exception& error) {
  return std::string("Une erreur s'est produite lors de la mise à jour du ") + kCommonFilesWorkName + "\r\n" +
         error.what();
}

}  // namespace

std::string CommonProgramsFolder() {
  // The program path of the key Common is that folder.
  return GetProductProgramPath(ProductKeyName(pcCommon), false);
}

bool InstallListedFiles(TdmUpdateCommon& engine, const std::string& targetFolder, bool report) {
  bool result = true;
  for (const std::string& name : *engine.FileNames) {
    // A name that would lead outside the folder, or through a link planted in it: nothing is
    // extracted or written for it, and the step fails.
    const TargetNameCheck check = CheckTargetName(targetFolder, name);
    if (check != TargetNameCheck::Safe) {
      if (report && check == TargetNameCheck::NameRefused) engine.ReportFileNameRefused(name);
      if (report && check == TargetNameCheck::BehindLink)
        engine.ReportFileBehindLink(PathWithDelimiter(targetFolder) + name);
      result = false;
      continue;
    }
    std::string source;
    ExtractResourceToFile(name, engine.NewTempFileName(kTempPrefix), source);
    try {
      // A name the package lacks leaves the source empty, and the copy fails for that file.
      engine.CopyPackagedFile(source, PathWithDelimiter(targetFolder) + name, report);
    } catch (const std::exception&) {
      // The "Copie de" and "vers" lines name the file; the step's outcome tells the failure.
      result = false;
    }
  }
  return result;
}

UpdateOutcome InstallCommonFiles(TdmUpdateCommon& engine) {
  try {
    const std::string folder = CommonProgramsFolder();
    if (folder.empty()) return UpdateOutcome::Failed;
    ForceDirectories(folder);
    engine.LoadResourceLines(kFileList, *engine.FileNames);
    return InstallListedFiles(engine, folder, true) ? UpdateOutcome::Completed : UpdateOutcome::Failed;
  } catch (const std::exception& error) {
    engine.ReportLine(ErrorLine(error));
    return UpdateOutcome::Failed;
  }
}

UpdateOutcome UpdateCommonPdfLibrary(TdmUpdateCommon& engine) {
  try {
    const std::string folder = CommonProgramsFolder();
    if (folder.empty()) return UpdateOutcome::NotPerformed;
    ForceDirectories(folder);
    std::string source;
    ExtractResourceToFile(kPdfLibrary, engine.NewTempFileName(kTempPrefix), source);
    if (source.empty()) return UpdateOutcome::NotPerformed;
    engine.ReportLine("");
    engine.CopyPackagedFile(source, folder + kPdfLibrary, true);
    return UpdateOutcome::Completed;
  } catch (const std::exception& error) {
    engine.ReportLine(ErrorLine(error));
    return UpdateOutcome::Failed;
  }
}

}  // namespace kv
