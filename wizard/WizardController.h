// The controller of the wizard's dialogue with the user, whatever window shows it: it reads the
// package's texts when the window is first shown, builds the ordered list of pages, shows one page
// at a time, moves forward and back, asks before cancelling, starts the update run as soon as the
// report page is reached, and keeps the run's outcome and the program's exit code. It decides;
// the view (WizardView) only shows what it is told and forwards the user's clicks.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/UpdateOutcome.h"
#include "products/ProductTable.h"
#include "wizard/WizardView.h"

namespace kv {

class ProductCatalog;
class RichTextControl;
class TdmUpdateCommon;
class UpdaterTable;
class WizardStep;

// What the controller drives, owned by the application: the three pages, the notice's and the
// report's rich-text controls, the engine, the products and their updaters.
struct WizardParts {
  WizardStep& welcome;
  WizardStep& notice;
  WizardStep& report;
  RichTextControl& noticeText;
  RichTextControl& reportText;
  TdmUpdateCommon& engine;
  const ProductCatalog& products;
  const UpdaterTable& updaters;
};

class WizardController {
 public:
  static constexpr int kFirstStepDelayMs = 10;

  // How the run ended.
  struct RunResult {
    bool started = false;
    UpdateOutcome outcome = UpdateOutcome::NoOutcome;
    // An error escaped the updater (or the end of the run); its text closes the report.
    bool errorEscaped = false;
  };

  // Sets the buttons as they are before the first page.
  WizardController(WizardView& view, WizardParts parts);
  ~WizardController();
  WizardController(const WizardController&) = delete;
  WizardController& operator=(const WizardController&) = delete;

  // The user's requests, as the view forwards them. Each runs as the toolkit runs an event
  // handler: an error is shown in the default error box and ends the request only; the buttons
  // are then refreshed.
  void Shown();            // the window is shown for the first time
  void FirstStepTimer();   // the one-shot timer, kFirstStepDelayMs after the window's creation
  void Next();
  void Back();
  void Cancel();
  // Whether the window may close now (its close box, or the program's end): not while an updater
  // works.
  bool CanClose() const { return !actionsLocked_; }

  // The handlers and methods of the dialogue; unattended mode calls them directly, so that an
  // error reaches it.
  void FormShow();
  void TimerOneTimeTimer();
  void ActionListMainUpdate();
  void ActionBackExecute();
  void ActionNextExecute();
  void ActionAnnulerExecute();
  void LoadAppInfo();
  void LoadUpdateNotice();
  void BuildStepList();
  bool LoadUpdateKeys();
  void UpdateNavigation();
  void ShowCurrentStep();
  WizardStep* GetNextStep(WizardStep* step) const;
  WizardStep* GetCurrentStep() const;
  void ShowReportStep();
  void RunUpdate();

  const RunResult& LastRun() const { return lastRun_; }
  // The program's exit code once the window has closed: the run's (ExitCodeOf), when it started;
  // before the run, the pre-flight checks' when they stopped the program, else "not performed"
  // (cancelled, or closed with the close box).
  int ExitCode() const;
  const WizardButtons& Buttons() const { return buttons_; }
  const std::string& Title() const { return title_; }
  bool Closed() const { return closed_; }

  std::vector<WizardStep*> Steps;    // the pages of this package, in order
  std::vector<WizardStep*> History;  // the pages shown so far; the last is current
  std::vector<std::string> UpdateKeys;
  std::vector<std::string> InfoLines;
  bool FirstStepShown = false;
  bool UpdateStarted = false;
  std::string Description;
  ProductCode CurrentProductCode = pcNone;

 private:
  void Dispatch(const std::function<void()>& handler);
  void SetButtons(const WizardButtons& buttons);
  void SetActionsLocked(bool locked);
  void Close();

  WizardView& view_;
  WizardParts parts_;
  WizardButtons buttons_;
  std::string title_;  // the title band's caption
  // Set while an updater works: the actions stay disabled and the window stays open.
  bool actionsLocked_ = false;
  // Set while the show handler runs.
  bool showing_ = false;
  bool closed_ = false;
  RunResult lastRun_;
};

// The exit code of a run that has ended (unattended mode's, and the window's once the run started).
int ExitCodeOf(const WizardController::RunResult& run);

// The box the toolkit shows for an error that ends an event handler: the application title as
// caption, the error's text. The silent abort is never shown.
void ShowException(const std::exception& error);

}  // namespace kv
