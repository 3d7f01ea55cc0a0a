// The wizard window in native controls: the view of the wizard's controller. It lays out the
// title band, the left column with the company picture, the page area and the button bar, shows
// the page the controller names, and forwards the buttons, the one-shot timer, the first show
// and the close box to the controller, which decides everything else. The layout is designed at
// 96 dpi and scaled to the resolution of the monitor the window is on.
#pragma once

#include <string>
#include <vector>

#include "platform/Messages.h"
#include "wizard/WizardView.h"

#include "app/win32/SystemApi.h"

namespace kv {

class Win32Page;
class Win32RichText;
class WelcomePage;
class WizardController;

class WizardWindow : public WizardView {
 public:
  // Design values at 96 pixels per inch.
  static constexpr int kClientWidth = 579;
  static constexpr int kClientHeight = 383;
  // The designed minimum counts the frame of a dialog window.
  static constexpr int kMinimumWidth = 500;
  static constexpr int kMinimumHeight = 400;
  static constexpr int kImageColumnWidth = 154;
  static constexpr int kTitleBandHeight = 37;

  // Creates the window, hidden, and starts the one-shot timer.
  WizardWindow();
  ~WizardWindow() override;
  WizardWindow(const WizardWindow&) = delete;
  WizardWindow& operator=(const WizardWindow&) = delete;

  HWND Handle() const { return window_; }
  // The controller and the pages it names, created after the window; until then the window shows
  // no page and forwards nothing.
  void Attach(WizardController& controller, WelcomePage& welcome, Win32RichText& report);
  // Shows the window and tells the controller (the show handler runs).
  void Show();

  // The view -------------------------------------------------------------------------------
  void SetCaption(const std::string& caption) override;
  void SetTitle(const std::string& title) override;
  void SetVersionText(const std::string& text) override;
  void BringToFront() override;
  void SetWelcomeTexts(const std::string& title, const std::string& description) override;
  void ShowStep(WizardStep& step, const std::vector<WizardStep*>& steps) override;
  void SetButtons(const WizardButtons& buttons) override;
  void StopFirstStepTimer() override;
  void ScrollReportToEnd() override;
  void CloseWindow() override;

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Message(UINT message, WPARAM wParam, LPARAM lParam);
  int Scaled(int value) const { return winui::Scale(value, dpi_); }
  // Makes the fonts for the current resolution.
  void CreateFonts();
  // Places every control for the client area's size.
  void Layout();
  void Paint(HDC dc);
  void DrawItem(const DRAWITEMSTRUCT& item);
  // The button the user pressed, by its identifier.
  void Command(int id);
  // The focus goes to an enabled button when it was on one just disabled, or nowhere.
  void KeepFocus();
  // The button bar laid out for the client width: the buttons right to left from its right edge.
  ButtonPanel ButtonBar(int width) const;

  HWND window_ = nullptr;
  int dpi_ = USER_DEFAULT_SCREEN_DPI;
  HWND title_ = nullptr;
  HWND version_ = nullptr;
  HWND prev_ = nullptr;
  HWND next_ = nullptr;
  HWND cancel_ = nullptr;
  HWND focus_ = nullptr;  // the control that had the focus when the window was last deactivated
  winui::GdiObject<HFONT> windowFont_;
  winui::GdiObject<HFONT> titleFont_;
  winui::GdiObject<HFONT> pageFont_;
  WizardController* controller_ = nullptr;
  WelcomePage* welcome_ = nullptr;
  Win32RichText* report_ = nullptr;
  Win32Page* current_ = nullptr;
};

}  // namespace kv
