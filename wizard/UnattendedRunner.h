// Unattended mode: the same wizard through the same pages, without a window and without any
// toolkit, so that it runs where no display or window system exists. Every question gets the
// answer of a fixed policy, every message box is written to standard error, the report to a log
// as it grows, and the exit code tells how the update went.
#pragma once

#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/RichTextControl.h"
#include "wizard/UpdaterTable.h"
#include "wizard/WizardController.h"
#include "wizard/WizardStep.h"
#include "wizard/WizardView.h"

namespace kv {

struct CommandLine;
class ProductCatalog;

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

// A view that shows nothing and remembers only whether it was closed.
class HiddenWizardView : public WizardView {
 public:
  void SetCaption(const std::string&) override {}
  void SetTitle(const std::string&) override {}
  void SetVersionText(const std::string&) override {}
  void BringToFront() override {}
  void SetWelcomeTexts(const std::string&, const std::string&) override {}
  void ShowStep(WizardStep&, const std::vector<WizardStep*>&) override {}
  void SetButtons(const WizardButtons&) override {}
  void StopFirstStepTimer() override {}
  void ScrollReportToEnd() override {}
  void CloseWindow() override {}
};

// The wizard without a window: pages that show nothing, the report and notice kept in memory,
// the engine and the controller on a view, created in the program's order (the pages before the
// engine, the notice after it) and destroyed in the reverse order. The package in effect is the
// one it reads.
class WindowlessWizard {
 public:
  WindowlessWizard(WizardView& view, const ProductCatalog& products, UpdaterTable updaters);
  ~WindowlessWizard();
  WindowlessWizard(const WindowlessWizard&) = delete;
  WindowlessWizard& operator=(const WindowlessWizard&) = delete;

  UpdaterTable Updaters;
  NamedStep Welcome{kWelcomeStepName, kNextCaption};
  NamedStep Report{kReportStepName, kQuitCaption};
  MemoryRichText ReportText;
  std::unique_ptr<TdmUpdateCommon> Engine;
  NamedStep Notice{kNoticeStepName, kStartCaption};
  MemoryRichText NoticeText;
  std::unique_ptr<WizardController> Controller;
};

// Drives the wizard as a user pressing Next would: the window's show handler, the first page,
// Next until the run has ended, then Next ("Quitter"). Questions go to the interface in effect.
// Answers the exit code.
int RunUnattended(WizardController& wizard);

// What every front end does once its guard is taken and its interface installed: opens the
// program's package (the one the command line names, else the one the program carries; the
// current package until `run` returns) and the log the command line names,
// if any, then answers run(log). kExitNoPackage or kExitCannotCreateLog, with the error shown, when
// either cannot be opened.
int RunWithPackageAndLog(const CommandLine& commandLine,
                         const std::function<int(std::optional<ReportLog>& log)>& run);

// The whole unattended program after its command line: the single-instance guard, the console's
// message boxes, the package, the log, the run. Answers the exit code.
int RunUnattendedProgram(const CommandLine& commandLine);

}  // namespace kv
