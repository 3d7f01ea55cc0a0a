// The program's command line and exit codes: for administrators who roll an update out to many
// workstations, and for end-to-end tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kv {

enum ExitCode : int {
  kExitCompleted = 0,
  kExitFailed = 1,
  kExitNotPerformed = 2,
  kExitCompletedWithWarnings = 3,
  kExitNoUpdate = 4,  // no recognised key, or a product without updater
  kExitStoppedByChecks = 5,
  kExitAlreadyRunning = 6,
  kExitNoPackage = 7,
  kExitUsage = 64,           // the command line is wrong
  kExitCannotCreateLog = 73  // the log file cannot be created
};

struct CommandLine {
  bool unattended = false;
  bool answerYes = false;  // the answer to every question in unattended mode
  bool help = false;
  std::optional<std::string> logFile;      // host path
  std::optional<std::string> packageFile;  // host path
  std::string error;                       // French; set when the command line is wrong
};

// The arguments without the program's name: --unattended (or /SILENT), --answer yes|no,
// --log FILE (or /LOG=FILE), --package FILE, --help; "--option=VALUE" is read as well.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);
// The French help text.
std::string UsageText(const std::string& programName);

}  // namespace kv
