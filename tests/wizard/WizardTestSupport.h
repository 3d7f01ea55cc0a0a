// Fixtures of the wizard's tests, without any toolkit: a view that records what the controller
// tells it, and the whole wizard (pages that show nothing, the engine, the controller) on a fresh
// host prefix with a package in memory.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/Package.h"
#include "products/ProductCatalog.h"
#include "tests/support/TempPrefix.h"
#include "tests/support/WizardPackage.h"
#include "wizard/UnattendedRunner.h"
#include "wizard/WizardController.h"
#include "wizard/WizardStep.h"
#include "wizard/WizardView.h"

namespace kv::test {

// Records what a window would show.
class ScriptedView : public WizardView {
 public:
  void SetCaption(const std::string& text) override { caption = text; }
  void SetTitle(const std::string& text) override { title = text; }
  void SetVersionText(const std::string& text) override { version = text; }
  void BringToFront() override { ++broughtToFront; }
  void SetWelcomeTexts(const std::string& t, const std::string& d) override { welcomeTexts = {t, d}; }
  void ShowStep(WizardStep& step, const std::vector<WizardStep*>&) override {
    shown.push_back(step.StepName());
  }
  void SetButtons(const WizardButtons& state) override { buttons = state; }
  void StopFirstStepTimer() override { timerStopped = true; }
  void ScrollReportToEnd() override { ++reportScrolled; }
  void CloseWindow() override { closed = true; }

  std::string caption, title, version;
  int broughtToFront = 0;
  std::vector<std::string> welcomeTexts;
  std::vector<std::string> shown;  // the pages shown, in order
  WizardButtons buttons;
  bool timerStopped = false;
  int reportScrolled = 0;
  bool closed = false;
};

// The whole wizard on a fresh prefix with a package in memory, on a scripted view.
class ScriptedWizard {
 public:
  explicit ScriptedWizard(const PackageTexts& texts = {}, UpdaterTable updaters = {})
      : package_(MakeWizardPackage(texts)) {
    SetCurrentPackage(package_.get());
    wizard_ = std::make_unique<WindowlessWizard>(view, catalog_, std::move(updaters));
  }
  ~ScriptedWizard() {
    wizard_.reset();
    SetCurrentPackage(nullptr);
  }
  ScriptedWizard(const ScriptedWizard&) = delete;
  ScriptedWizard& operator=(const ScriptedWizard&) = delete;

  // The window is shown and the one-shot timer shows the first page.
  void Start() {
    Controller().Shown();
    Controller().FirstStepTimer();
  }

  WindowlessWizard& Parts() { return *wizard_; }
  WizardController& Controller() { return *wizard_->Controller; }
  UpdaterTable& Updaters() { return wizard_->Updaters; }
  const MemoryRichText& Report() { return wizard_->ReportText; }
  std::string Current() {
    const WizardStep* step = Controller().GetCurrentStep();
    return step ? step->StepName() : std::string();
  }

  ScriptedView view;

 private:
  TempPrefix prefix_;
  std::unique_ptr<MemoryPackage> package_;
  SuiteProductCatalog catalog_;
  std::unique_ptr<WindowlessWizard> wizard_;
};

}  // namespace kv::test
