// What the wizard's controller asks of a window: show this page, set these buttons, show these
// texts, close. The Qt window, the Win32 window, unattended mode's hidden view and the tests'
// scripted view implement it. Questions and message boxes go through the user-interface port
// (platform/UserInterface.h), report lines through the report's rich-text control.
#pragma once

#include <string>
#include <vector>

namespace kv {

class WizardStep;

struct WizardButton {
  bool enabled = false;
  std::string caption;

  bool operator==(const WizardButton&) const = default;
};

// The three buttons of the bar, bound to the actions ActionBack, ActionNext and ActionAnnuler.
struct WizardButtons {
  WizardButton back;
  WizardButton next;
  WizardButton cancel;

  bool operator==(const WizardButtons&) const = default;
};

class WizardView {
 public:
  virtual ~WizardView() = default;

  // The window's caption, the title band, the version label.
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void SetTitle(const std::string& title) = 0;
  virtual void SetVersionText(const std::string& text) = 0;
  virtual void BringToFront() = 0;
  // The welcome page's texts from the package title and description (WelcomeInfoText).
  virtual void SetWelcomeTexts(const std::string& title, const std::string& description) = 0;
  // Hides every page of `steps` and takes it out of the window, then places `step` in the page
  // area with its picture in the left column, and shows it. The step's Init has run.
  virtual void ShowStep(WizardStep& step, const std::vector<WizardStep*>& steps) = 0;
  virtual void SetButtons(const WizardButtons& buttons) = 0;
  // The first page is shown: the one-shot timer that showed it stops.
  virtual void StopFirstStepTimer() = 0;
  // The report's end (its insertion point) comes into view.
  virtual void ScrollReportToEnd() = 0;
  // Closes the window, which ends the program.
  virtual void CloseWindow() = 0;
};

}  // namespace kv
