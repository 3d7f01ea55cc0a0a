// The files several products share (PDF libraries, spelling dictionaries, language files), kept
// in Common\Programs\ below the suite root, and the installation of a package's listed files.
#pragma once

#include <string>

#include "engine/UpdateOutcome.h"

namespace kv {

class TdmUpdateCommon;

// Names this work in the report's error lines.
inline constexpr const char* kCommonFilesWorkName = "Common_Programs";

// Common\Programs\ below the suite root; empty when no product of the suite is registered.
std::string CommonProgramsFolder();

// Copies every file named in engine.FileNames from the package into targetFolder, over whatever
// is installed (no version comparison), reporting each copy when report is set. A name the
// package lacks or a target that cannot be written fails that one file; a name that may not be
// installed (IsSafeResourceFileName: it would leave the folder, name a device, ...) or that goes
// through a link below the folder (LeadsThroughLink) fails it too, nothing is extracted or
// written for it, and with report set it gets its own two lines (ReportFileNameRefused,
// ReportFileBehindLink). The others are still copied. True when every file was copied.
bool InstallListedFiles(TdmUpdateCommon& engine, const std::string& targetFolder, bool report);
// The work of the update key "Common": the package's FileNames.txt installed into the common
// folder, created with its parents when missing. Completed, or Failed (also, silently, when no
// suite is installed).
UpdateOutcome InstallCommonFiles(TdmUpdateCommon& engine);
// Copies the package's "wPDF300A.dll" into the common folder, after an empty report line.
// Completed; NotPerformed, silently, when there is no suite or no such file in the package;
// Failed when the copy or another step failed (reported).
UpdateOutcome UpdateCommonPdfLibrary(TdmUpdateCommon& engine);

}  // namespace kv
