// The wizard window and the controller of the whole dialogue: it reads the package's texts when
// first shown, builds the ordered list of pages, shows one page at a time inside itself, moves
// forward and back, asks before cancelling, and starts the update run as soon as the report page
// is reached.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/UpdateOutcome.h"
#include "products/ProductTable.h"

class QAction;
class QFrame;
class QLabel;
class QPushButton;
class QTimer;

namespace kv {

class TFrmStep;
struct WizardApplication;

class TfrmMain : public QWidget {
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
  static constexpr int kOneTimeIntervalMs = 10;
  static constexpr int kHintHidePauseMs = 20000;

  // How the run ended, for unattended mode's exit code.
  struct RunResult {
    bool started = false;
    UpdateOutcome outcome = UpdateOutcome::NoOutcome;
    // An error escaped the updater (or the end of the run); its text closes the report.
    bool errorEscaped = false;
  };

  // The pages and the engine are reached through the application, which creates them after the
  // window.
  explicit TfrmMain(WizardApplication& application);
  ~TfrmMain() override;

  // Event handlers ---------------------------------------------------------------------------
  void FormCreate();
  void FormShow();
  void FormDestroy();
  void TimerOneTimeTimer();
  void PanelCurrStepResize();
  void PanelImageResize();
  void ActionListMainUpdate();
  void ActionBackExecute();
  void ActionNextExecute();
  void ActionAnnulerExecute();

  // Methods ----------------------------------------------------------------------------------
  void LoadAppInfo();
  void LoadUpdateNotice();
  void BuildStepList();
  bool LoadUpdateKeys();
  void UpdateNavigation();
  void ShowCurrentStep();
  TFrmStep* GetNextStep(TFrmStep* step);
  TFrmStep* GetCurrentStep();
  void ShowReportStep();
  void RunUpdate();

  const RunResult& LastRun() const { return lastRun_; }

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

  // Fields -----------------------------------------------------------------------------------
  std::unique_ptr<std::vector<TFrmStep*>> Steps;    // the pages of this package, in order
  std::unique_ptr<std::vector<TFrmStep*>> History;  // the pages shown so far; the last is current
  std::unique_ptr<std::vector<std::string>> UpdateKeys;
  std::unique_ptr<std::vector<std::string>> InfoLines;
  bool FirstStepShown = false;
  bool UpdateStarted = false;
  std::string Description;
  ProductCode CurrentProductCode = pcNone;

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

  // Runs a handler as the toolkit runs event handlers: an error is shown in the default error box
  // and ends the handler only; then the actions are refreshed.
  void Dispatch(const std::function<void()>& handler);
  void AlignControls();
  void AnchorButtons();
  void SetActionsLocked(bool locked);

  WizardApplication& application_;
  int buttonBarHeight_ = kDesignButtonBarHeight;
  std::vector<ButtonAnchor> anchors_;
  // Set while an updater works: the actions stay disabled and the window stays open.
  bool actionsLocked_ = false;
  // Set while the show handler runs.
  bool showing_ = false;
  RunResult lastRun_;
};

// The box the toolkit shows for an error that ends an event handler: the application title as
// caption, the error's text. The silent abort is never shown.
void ShowException(const std::exception& error);

}  // namespace kv
