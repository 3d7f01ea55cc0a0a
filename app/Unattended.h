// The command line and unattended mode: for administrators who roll an update out to many
// workstations, and for end-to-end tests. Unattended mode runs the same wizard through the same
// pages without showing a window, answers every question by a fixed policy, writes every message
// box to standard error and the report to a log as it grows, and ends with an exit code that
// tells how the update went.
#pragma once

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/frmMainUnit.h"

namespace kv {

struct WizardApplication;

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

// The exit code of a run that has ended.
int ExitCodeOf(const TfrmMain::RunResult& run);
// The exit code of the window's program once the window has closed: the run's, when it started;
// before the run, the pre-flight checks' when they stopped the program, else "not performed"
// (cancelled, or closed with the close box).
int ExitCodeOfWindow(const TfrmMain::RunResult& run, bool stoppedByChecks);

// The report's log: each line as the report receives it, UTF-8, one line per report line, written
// through at once; when the run has ended the file equals the report's plain text.
class ReportLog {
 public:
  // Creates or empties the file; throws kv::Error when it cannot.
  explicit ReportLog(const std::string& hostPath);
  void Append(const std::string& line);

 private:
  std::ofstream out_;
  bool first_ = true;
};

// Drives the wizard as a user pressing Next would: the window's show handler, the first page,
// Next until the run has ended, then Next ("Quitter"). Questions go to the interface in effect.
// Answers the exit code.
int RunUnattended(WizardApplication& application);

}  // namespace kv
