#include "wizard/WizardController.h"

#include <algorithm>

#include "engine/PreflightChecks.h"
#include "engine/UpdateCommon.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "platform/RichTextControl.h"
#include "formats/Text.h"
#include "platform/Win32.h"
#include "wizard/CommandLine.h"
#include "wizard/InstanceGuard.h"
#include "wizard/UpdaterTable.h"
#include "wizard/WizardStep.h"

namespace kv {

namespace {

bool Contains(const std::vector<WizardStep*>& steps, const WizardStep* step) {
  return std::find(steps.begin(), steps.end(), step) != steps.end();
}

}  // namespace

void ShowException(const std::exception& error) {
  if (dynamic_cast<const SilentAbort*>(&error) != nullptr) return;
  Ui().MessageBeep(MB_ICONEXCLAMATION);
  Ui().MessageBox(ApplicationTitle(), error.what(), MessageKind::Error, mbOK);
}

WizardController::WizardController(WizardView& view, WizardParts parts) : view_(view), parts_(parts) {
  buttons_.back.caption = "< Précédant";
  buttons_.cancel.caption = "Annuler";
  buttons_.cancel.enabled = true;
  ActionListMainUpdate();
}

WizardController::~WizardController() = default;

// ---------------------------------------------------------------------------------------------
// The user's requests

void WizardController::Shown() {
  Dispatch([this] { FormShow(); });
}

void WizardController::FirstStepTimer() {
  Dispatch([this] { TimerOneTimeTimer(); });
}

// A request for a disabled button does nothing: a view may forward a click or key that reached it
// before it drew the new state (while an updater works, say).
void WizardController::Next() {
  if (buttons_.next.enabled) Dispatch([this] { ActionNextExecute(); });
}

void WizardController::Back() {
  if (buttons_.back.enabled) Dispatch([this] { ActionBackExecute(); });
}

void WizardController::Cancel() {
  if (buttons_.cancel.enabled) Dispatch([this] { ActionAnnulerExecute(); });
}

// ---------------------------------------------------------------------------------------------
// Event handlers

void WizardController::FormShow() {
  // A box of this handler runs the event loop; the first page waits until the package is read.
  struct Showing {
    bool& flag;
    explicit Showing(bool& f) : flag(f) { flag = true; }
    ~Showing() { flag = false; }
  } showing(showing_);
  view_.BringToFront();
  view_.SetCaption("Mise à jour Korvane");
  view_.SetVersionText("Version : " + ReadFileVersionInfo("").FileVersion);
  TdmUpdateCommon& engine = parts_.engine;
  engine.SetReportControl(&parts_.reportText);
  engine.Randomize();
  LoadAppInfo();
  LoadUpdateNotice();
  BuildStepList();
  // Last, so its answer changes nothing here: false means no keys (the run will find nothing to
  // do) or failed checks (the program is already terminating), and neither needs a word more.
  LoadUpdateKeys();
}

void WizardController::TimerOneTimeTimer() {
  // A tick already queued when the timer was stopped must not show the page twice.
  if (FirstStepShown) return;
  // The show handler is still reading the package (a box of its own is open), or it has ended the
  // program: no page yet, or none at all.
  if (showing_ || Ui().TerminationRequested()) return;
  FirstStepShown = true;
  view_.StopFirstStepTimer();
  view_.SetWelcomeTexts(title_, Description);
  History.push_back(&parts_.welcome);
  ShowCurrentStep();
}

void WizardController::ActionListMainUpdate() {
  if (actionsLocked_) return;
  UpdateNavigation();
}

void WizardController::ActionBackExecute() {
  if (!History.empty()) History.pop_back();
  ShowCurrentStep();
}

void WizardController::ActionNextExecute() {
  if (UpdateStarted) {
    Close();
    return;
  }
  WizardStep* current = GetCurrentStep();
  if (current != nullptr) current->BeforeGoNext();
  WizardStep* next = GetNextStep(current);
  if (next == nullptr) throw Error("Next step is missing.");
  History.push_back(next);
  ShowCurrentStep();
  if (GetCurrentStep() == &parts_.report) RunUpdate();
}

void WizardController::ActionAnnulerExecute() {
  if (AskWarning("Voulez-vous annuler cette mise à jour")) Close();
}

// ---------------------------------------------------------------------------------------------
// Methods

void WizardController::LoadAppInfo() {
  TdmUpdateCommon& engine = parts_.engine;
  if (engine.LoadResourceLines("AppInfo1.txt", InfoLines) > 0) {
    title_ = InfoLines.front();
    view_.SetTitle(title_);
  }
  if (engine.LoadResourceLines("AppInfo2.txt", InfoLines) > 0) {
    Description.clear();
    for (const std::string& line : InfoLines) Description += line + "\r\n";
  }
}

void WizardController::LoadUpdateNotice() {
  constexpr const char* kNotice = "UpdateInfo.txt";
  if (parts_.engine.LoadResourceRichText(kNotice, parts_.noticeText) == 0) {
    // A plain box: the application title as caption and an OK button.
    Ui().MessageBeep(MB_OK);
    Ui().MessageBox(ApplicationTitle(), std::string("Cannot load resource file ") + kNotice, MessageKind::Plain,
                    mbOK);
  }
}

void WizardController::BuildStepList() {
  Steps.clear();
  Steps.push_back(&parts_.welcome);
  Steps.push_back(&parts_.notice);
  if (parts_.noticeText.LineCount() == 0) {
    parts_.noticeText.Clear();
    parts_.noticeText.AppendLine("\r\nCette mise à jour comporte uniquement des corrections internes.", 0);
  }
  std::vector<std::string> names;
  parts_.engine.LoadResourceLines("Steps.txt", names);
  for (const std::string& name : names) {
    // Only pages can be steps: the window is no page of itself.
    for (WizardStep* page : WizardStep::Instances()) {
      if (!text::IEquals(page->StepName(), name)) continue;
      if (!Contains(Steps, page)) Steps.push_back(page);
      break;
    }
  }
  if (!Contains(Steps, &parts_.report)) Steps.push_back(&parts_.report);
}

bool WizardController::LoadUpdateKeys() {
  return kv::LoadUpdateKeys(parts_.engine, parts_.products, UpdateKeys);
}

void WizardController::UpdateNavigation() {
  WizardButtons buttons = buttons_;
  if (WizardStep* current = GetCurrentStep()) {
    buttons.back.enabled = current != &parts_.welcome && !UpdateStarted;
    buttons.cancel.enabled = !UpdateStarted;
    buttons.next.enabled = current->CanGoNext();
    buttons.next.caption = current->GetNextCaption();
  } else {
    buttons.next.caption.clear();
    buttons.back.enabled = false;
    buttons.next.enabled = false;
  }
  SetButtons(buttons);
}

void WizardController::ShowCurrentStep() {
  BusyCursor busy;
  WizardStep* current = GetCurrentStep();
  if (current == nullptr) throw Error("Cannot get current step");
  current->Init();
  view_.ShowStep(*current, Steps);
}

WizardStep* WizardController::GetNextStep(WizardStep* step) const {
  const auto it = std::find(Steps.begin(), Steps.end(), step);
  if (it == Steps.end()) return Steps.empty() ? nullptr : Steps.front();
  const auto next = std::next(it);
  return next == Steps.end() ? nullptr : *next;
}

WizardStep* WizardController::GetCurrentStep() const {
  return History.empty() ? nullptr : History.back();
}

void WizardController::ShowReportStep() {
  History.push_back(&parts_.report);
  ShowCurrentStep();
  UpdateNavigation();
}

void WizardController::RunUpdate() {
  UpdateStarted = true;
  lastRun_ = RunResult{true, UpdateOutcome::NoOutcome, false};
  TdmUpdateCommon& engine = parts_.engine;
  try {
    for (const std::string& key : UpdateKeys) {
      CurrentProductCode = ProductKeyToCode(key);
      if (CurrentProductCode == pcNone) continue;
      engine.ProductCode = CurrentProductCode;
      const win::FileTime now = win::FileTimeToLocalFileTime(win::GetSystemTimeAsFileTime());
      engine.ReportLine(ReportHeaderText(title_, now), kReportHeadingSize);
      {
        // Unlocked however the updater ends; the action update then keeps only Next ("Quitter").
        struct Lock {
          WizardController& controller;
          explicit Lock(WizardController& c) : controller(c) { controller.SetActionsLocked(true); }
          ~Lock() { controller.SetActionsLocked(false); }
        } lock(*this);
        // Lets the report page and the header be painted before the updater takes over.
        Delay(100);
        if (const Updater* updater = parts_.updaters.Find(CurrentProductCode)) {
          lastRun_.outcome = (*updater)(engine, CurrentProductCode);
        }
      }
      ActionListMainUpdate();
      break;
    }
    ShowReportStep();
    if (const auto line = OutcomeText(lastRun_.outcome)) engine.ReportLine(*line, kReportHeadingSize);
    view_.ScrollReportToEnd();
    if (parts_.reportText.CanFocus()) parts_.reportText.SetFocus();
  } catch (const SilentAbort& error) {
    // Its box has been shown already.
    lastRun_.errorEscaped = true;
    engine.ReportLine(EscapedErrorText(error.what()));
  } catch (const std::exception& error) {
    lastRun_.errorEscaped = true;
    ShowError(error.what());
    engine.ReportLine(EscapedErrorText(error.what()));
  } catch (...) {
    const std::string message = "Erreur inattendue";
    lastRun_.errorEscaped = true;
    ShowError(message);
    engine.ReportLine(EscapedErrorText(message));
  }
}

int WizardController::ExitCode() const {
  if (lastRun_.started) return ExitCodeOf(lastRun_);
  return Ui().TerminationRequested() ? kExitStoppedByChecks : kExitNotPerformed;
}

// ---------------------------------------------------------------------------------------------

int ExitCodeOf(const WizardController::RunResult& run) {
  if (!run.started) return kExitNoUpdate;
  if (run.errorEscaped) return kExitFailed;
  switch (run.outcome) {
    case UpdateOutcome::Completed:
      return kExitCompleted;
    case UpdateOutcome::Failed:
      return kExitFailed;
    case UpdateOutcome::NotPerformed:
      return kExitNotPerformed;
    case UpdateOutcome::CompletedWithWarnings:
      return kExitCompletedWithWarnings;
    case UpdateOutcome::NoOutcome:
      break;
  }
  // Any other value behaves like no outcome.
  return kExitNoUpdate;
}

void WizardController::Dispatch(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    ShowException(Error("Erreur inattendue"));
  }
  ActionListMainUpdate();
}

void WizardController::SetButtons(const WizardButtons& buttons) {
  buttons_ = buttons;
  view_.SetButtons(buttons_);
}

void WizardController::SetActionsLocked(bool locked) {
  actionsLocked_ = locked;
  WizardButtons buttons = buttons_;
  buttons.back.enabled = buttons.next.enabled = buttons.cancel.enabled = !locked;
  SetButtons(buttons);
}

void WizardController::Close() {
  closed_ = true;
  view_.CloseWindow();
}

}  // namespace kv
