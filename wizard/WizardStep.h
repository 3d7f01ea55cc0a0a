// A page of the wizard as the controller drives it: whether Next is allowed, what Next is called,
// and what to do when the page is entered or left. Each front end's pages implement it; every
// page made is registered, so that a package's step list can name it.
#pragma once

#include <string>
#include <vector>

namespace kv {

// The pages' names, as a package's "Steps.txt" names them.
inline constexpr const char* kWelcomeStepName = "frmWelcome";
inline constexpr const char* kNoticeStepName = "frmDisplayFile";
inline constexpr const char* kReportStepName = "frmEndInstall";

// The captions of Next on the pages.
inline constexpr const char* kNextCaption = "Suivant >";
inline constexpr const char* kStartCaption = "Démarrer";
inline constexpr const char* kQuitCaption = "Quitter";

class WizardStep {
 public:
  WizardStep();
  virtual ~WizardStep();
  WizardStep(const WizardStep&) = delete;
  WizardStep& operator=(const WizardStep&) = delete;

  // The page's component name.
  virtual std::string StepName() const = 0;
  // Each time the page is shown, before it becomes visible.
  virtual void Init() {}
  // Whether Next is enabled on this page.
  virtual bool CanGoNext() { return true; }
  virtual std::string GetNextCaption() { return kNextCaption; }
  // When the user presses Next on this page, before the next page is looked up.
  virtual void BeforeGoNext() {}

  // Every page of the program, in creation order: the pages a package's step list may name.
  static const std::vector<WizardStep*>& Instances();
};

// A page that shows nothing: a name and a caption of Next (unattended mode's pages, tests).
class NamedStep : public WizardStep {
 public:
  NamedStep(std::string name, std::string nextCaption) : name_(std::move(name)), caption_(std::move(nextCaption)) {}
  std::string StepName() const override { return name_; }
  std::string GetNextCaption() override { return caption_; }

 private:
  std::string name_;
  std::string caption_;
};

// The welcome page's two texts: the warning to close the suite, and the information text made of
// the package title (empty: "?") and description.
std::string WelcomeWarningText();
std::string WelcomeInfoText(const std::string& title, const std::string& description);

}  // namespace kv
