// The wizard window: the view of the wizard's controller in Qt. It lays out the title band, the
// left column with the page's picture, the page area and the button bar, shows the page the
// controller names, and forwards the buttons, the one-shot timer, the first show and the close box
// to the controller, which decides everything else.
#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "wizard/WizardView.h"

class QAction;
class QFrame;
class QLabel;
class QPushButton;
class QTimer;

namespace kv {

class TFrmStep;
class TfrmWelcome;
class QtRichTextControl;
class WizardController;

class TfrmMain : public QWidget, public WizardView {
  Q_OBJECT

 public:
  // Design values at 96 pixels per inch.
  static constexpr int kClientWidth = 579;
  static constexpr int kClientHeight = 383;
  // The designed minimum counts the frame of a Windows dialog window.
  static constexpr int kMinimumWidth = 500;
  static constexpr int kMinimumHeight = 400;
  static constexpr int kImageColumnWidth = 154;
  static constexpr int kTitleBandHeight = 37;
  static constexpr int kDesignButtonBarHeight = 39;
  static constexpr int kHintHidePauseMs = 20000;

  TfrmMain();
  ~TfrmMain() override;

  // The controller and the pages it names, created after the window; until then the window shows
  // no page and forwards nothing.
  void Attach(WizardController& controller, TfrmWelcome& welcome, QtRichTextControl& report);
  WizardController& Controller() { return *controller_; }

  // Event handlers ---------------------------------------------------------------------------
  void FormCreate();
  void PanelCurrStepResize();
  void PanelImageResize();

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

  // The page shown, nullptr before the first.
  TFrmStep* CurrentPage() const { return current_; }

  // Components -------------------------------------------------------------------------------
  QFrame* PanelMain;
  QFrame* PanelImage;
  QLabel* ImageStep;
  QFrame* PanelSteps;
  QLabel* RzLabelTitle;
  QFrame* PanelCurrStep;
  QFrame* PanelButtons;
  QFrame* BevelButtons;
  QLabel* RzLabelVersion;
  QPushButton* ButtonPrev;
  QPushButton* ButtonNext;
  QPushButton* ButtonCancel;
  QObject* ActionListMain;
  QAction* ActionAnnuler;
  QAction* ActionBack;
  QAction* ActionNext;
  QTimer* TimerOneTime;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct ButtonAnchor {
    QPushButton* button;
    int right;   // from the bar's right edge to the button's left edge
    int bottom;  // from the bar's bottom edge to the button's top edge
  };

  void AlignControls();
  void AnchorButtons();

  int buttonBarHeight_ = kDesignButtonBarHeight;
  std::vector<ButtonAnchor> anchors_;
  WizardController* controller_ = nullptr;
  TfrmWelcome* welcome_ = nullptr;
  QtRichTextControl* report_ = nullptr;
  TFrmStep* current_ = nullptr;
};

}  // namespace kv
