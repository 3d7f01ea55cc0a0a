#include "app/frmMainUnit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <memory>

#include "app/InstanceGuard.h"
#include "app/QtRichTextControl.h"
#include "app/QtUserInterface.h"
#include "app/WizardApplication.h"
#include "app/frmDisplayFileUnit.h"
#include "app/frmEndInstallUnit.h"
#include "app/frmWelcomeUnit.h"
#include "engine/PreflightChecks.h"
#include "engine/UpdateCommon.h"
#include "formats/Text.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "platform/Win32.h"

namespace kv {

namespace {

// A Windows dialog frame: a 3-pixel border all round and a 23-pixel caption.
constexpr int kDialogFrameWidth = 2 * 3;
constexpr int kDialogFrameHeight = 2 * 3 + 23;

const QColor kClGray(128, 128, 128);

// A label whose text stands out of the surface: a light copy below and right of the text.
class RaisedLabel : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QRect area = contentsRect().adjusted(0, 0, -1, -1);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawText(area.translated(1, 1), int(alignment()), text());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(area, int(alignment()), text());
  }
};

// The application's hint display time: every tooltip stays this long.
class HintHidePause : public QObject {
 public:
  explicit HintHidePause(QObject* parent, int milliseconds) : QObject(parent), milliseconds_(milliseconds) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::ToolTip) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->toolTip().isEmpty() || widget->toolTipDuration() >= 0) return false;
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), widget->toolTip(), widget, QRect(),
                       milliseconds_);
    return true;
  }

 private:
  int milliseconds_;
};

// A button bound to an action, as the toolkit's action links bind them: the button follows the
// action's caption when the caption changes, and its state whenever it changes.
void BindButton(QPushButton* button, QAction* action) {
  button->setText(action->text());
  button->setEnabled(action->isEnabled());
  QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
  auto caption = std::make_shared<QString>(action->text());
  QObject::connect(action, &QAction::changed, button, [button, action, caption] {
    if (action->text() != *caption) {
      *caption = action->text();
      button->setText(*caption);
    }
    button->setEnabled(action->isEnabled());
  });
}

// The busy cursor for a scope, restored however the scope ends.
class BusyCursor {
 public:
  BusyCursor() { BeginBusyCursor(); }
  ~BusyCursor() { EndBusyCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

bool Contains(const std::vector<TFrmStep*>& steps, const TFrmStep* step) {
  return std::find(steps.begin(), steps.end(), step) != steps.end();
}

}  // namespace

void ShowException(const std::exception& error) {
  if (dynamic_cast<const SilentAbort*>(&error) != nullptr) return;
  Ui().MessageBeep(MB_ICONEXCLAMATION);
  Ui().MessageBox(ApplicationTitle(), error.what(), MessageKind::Error, mbOK);
}

TfrmMain::TfrmMain(WizardApplication& application) : QWidget(nullptr), application_(application) {
  setObjectName(QStringLiteral("frmMain"));
  // A dialog border: caption and close box, no minimise or maximise box.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  QFont windowFont(QStringLiteral("MS Sans Serif"));
  windowFont.setPixelSize(10);
  setFont(windowFont);
  resize(kClientWidth, kClientHeight);
  setMinimumSize(kMinimumWidth - kDialogFrameWidth, kMinimumHeight - kDialogFrameHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  PanelMain = new QFrame(this);
  PanelMain->setObjectName(QStringLiteral("PanelMain"));

  PanelImage = new QFrame(PanelMain);
  PanelImage->setObjectName(QStringLiteral("PanelImage"));
  PanelImage->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  PanelImage->setLineWidth(1);
  PanelImage->setAutoFillBackground(true);

  ImageStep = new QLabel(PanelImage);
  ImageStep->setObjectName(QStringLiteral("ImageStep"));

  PanelSteps = new QFrame(PanelMain);
  PanelSteps->setObjectName(QStringLiteral("PanelSteps"));

  RzLabelTitle = new QLabel(PanelSteps);
  RzLabelTitle->setObjectName(QStringLiteral("RzLabelTitle"));
  RzLabelTitle->setAlignment(Qt::AlignCenter);
  RzLabelTitle->setWordWrap(true);
  RzLabelTitle->setTextFormat(Qt::PlainText);
  RzLabelTitle->setAutoFillBackground(true);
  QPalette titleColours = RzLabelTitle->palette();
  titleColours.setColor(QPalette::Window, kClGray);
  titleColours.setColor(QPalette::WindowText, Qt::white);
  RzLabelTitle->setPalette(titleColours);
  QFont titleFont(QStringLiteral("Arial"));
  titleFont.setPixelSize(15);
  titleFont.setBold(true);
  RzLabelTitle->setFont(titleFont);

  PanelCurrStep = new QFrame(PanelSteps);
  PanelCurrStep->setObjectName(QStringLiteral("PanelCurrStep"));
  QFont pageFont(QStringLiteral("MS Sans Serif"));
  pageFont.setPixelSize(15);
  PanelCurrStep->setFont(pageFont);

  PanelButtons = new QFrame(PanelMain);
  PanelButtons->setObjectName(QStringLiteral("PanelButtons"));

  BevelButtons = new QFrame(PanelButtons);
  BevelButtons->setObjectName(QStringLiteral("BevelButtons"));
  BevelButtons->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  BevelButtons->setLineWidth(1);

  RzLabelVersion = new RaisedLabel(PanelButtons);
  RzLabelVersion->setObjectName(QStringLiteral("RzLabelVersion"));
  RzLabelVersion->setText(QStringLiteral("Version : "));
  RzLabelVersion->setGeometry(10, 10, 250, 16);

  ActionListMain = new QObject(this);
  ActionListMain->setObjectName(QStringLiteral("ActionListMain"));
  ActionAnnuler = new QAction(QStringLiteral("Annuler"), ActionListMain);
  ActionAnnuler->setObjectName(QStringLiteral("ActionAnnuler"));
  ActionBack = new QAction(QStringLiteral("< Précédant"), ActionListMain);
  ActionBack->setObjectName(QStringLiteral("ActionBack"));
  ActionNext = new QAction(ActionListMain);
  ActionNext->setObjectName(QStringLiteral("ActionNext"));
  connect(ActionAnnuler, &QAction::triggered, this, [this] { Dispatch([this] { ActionAnnulerExecute(); }); });
  connect(ActionBack, &QAction::triggered, this, [this] { Dispatch([this] { ActionBackExecute(); }); });
  connect(ActionNext, &QAction::triggered, this, [this] { Dispatch([this] { ActionNextExecute(); }); });

  const struct {
    QPushButton** button;
    const char* name;
    QAction* action;
    QRect design;
  } buttons[] = {
      {&ButtonPrev, "ButtonPrev", ActionBack, QRect(348, 8, 73, 25)},
      {&ButtonNext, "ButtonNext", ActionNext, QRect(431, 8, 73, 25)},
      {&ButtonCancel, "ButtonCancel", ActionAnnuler, QRect(510, 8, 61, 25)},
  };
  for (const auto& b : buttons) {
    *b.button = new QPushButton(PanelButtons);
    (*b.button)->setObjectName(QString::fromLatin1(b.name));
    (*b.button)->setGeometry(b.design);
    (*b.button)->setAutoDefault(false);
    BindButton(*b.button, b.action);
  }

  TimerOneTime = new QTimer(this);
  TimerOneTime->setObjectName(QStringLiteral("TimerOneTime"));
  TimerOneTime->setInterval(kOneTimeIntervalMs);
  connect(TimerOneTime, &QTimer::timeout, this, [this] { Dispatch([this] { TimerOneTimeTimer(); }); });

  AlignControls();
  FormCreate();
  // Enabled from the window's creation.
  TimerOneTime->start();
  ActionListMainUpdate();
}

TfrmMain::~TfrmMain() {
  FormDestroy();
  // The pages belong to the application, not to the panel that shows them.
  for (TFrmStep* page : PanelCurrStep->findChildren<TFrmStep*>(Qt::FindDirectChildrenOnly)) {
    page->hide();
    page->setParent(nullptr);
  }
}

// ---------------------------------------------------------------------------------------------
// Event handlers

void TfrmMain::FormCreate() {
  Steps = std::make_unique<std::vector<TFrmStep*>>();
  History = std::make_unique<std::vector<TFrmStep*>>();
  UpdateKeys = std::make_unique<std::vector<std::string>>();
  InfoLines = std::make_unique<std::vector<std::string>>();

  ActionBack->setText(QStringLiteral("< Précédant"));
  ActionAnnuler->setText(QStringLiteral("Annuler"));

  ButtonPanel bar;
  bar.clientWidth = PanelButtons->width();
  bar.clientHeight = PanelButtons->height();
  std::vector<QWidget*> controls;
  for (QObject* child : PanelButtons->children()) {
    auto* control = qobject_cast<QWidget*>(child);
    if (control == nullptr) continue;
    const QRect g = control->geometry();
    bar.children.push_back({qobject_cast<QPushButton*>(control) != nullptr, !control->isHidden(), g.left(),
                            g.top(), g.width(), g.height(), false});
    controls.push_back(control);
  }
  ArrangeButtons(bar);
  buttonBarHeight_ = bar.clientHeight;
  anchors_.clear();
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const ButtonRect& r = bar.children[i];
    controls[i]->setGeometry(r.left, r.top, r.width, r.height);
    if (r.anchoredRightBottom) {
      anchors_.push_back(
          {static_cast<QPushButton*>(controls[i]), bar.clientWidth - r.left, bar.clientHeight - r.top});
    }
  }
  AlignControls();

  // Removed from the application with the window.
  qApp->installEventFilter(new HintHidePause(this, kHintHidePauseMs));
  update();
}

void TfrmMain::FormShow() {
  // A box of this handler runs the event loop; the first page waits until the package is read.
  struct Showing {
    bool& flag;
    explicit Showing(bool& f) : flag(f) { flag = true; }
    ~Showing() { flag = false; }
  } showing(showing_);
  ForceForegroundWindow(QtUserInterface::HandleOf(this));
  setWindowTitle(QStringLiteral("Mise à jour Korvane"));
  const TFileVersionInfo version = ReadFileVersionInfo("");
  RzLabelVersion->setText(RzLabelVersion->text() + QString::fromStdString(version.FileVersion));
  TdmUpdateCommon& engine = *application_.dmUpdateCommon;
  engine.SetReportControl(application_.frmEndInstall->RichEditReport);
  engine.Randomize();
  LoadAppInfo();
  LoadUpdateNotice();
  BuildStepList();
  // Last, so its answer changes nothing here: false means no keys (the run will find nothing to
  // do) or failed checks (the program is already terminating), and neither needs a word more.
  LoadUpdateKeys();
}

void TfrmMain::FormDestroy() {
  Steps.reset();
  History.reset();
  UpdateKeys.reset();
  InfoLines.reset();
}

void TfrmMain::TimerOneTimeTimer() {
  // A tick already queued when the timer was stopped must not show the page twice.
  if (FirstStepShown) return;
  // The show handler is still reading the package (a box of its own is open), or it has ended the
  // program: no page yet, or none at all.
  if (showing_ || Ui().TerminationRequested()) return;
  FirstStepShown = true;
  TimerOneTime->stop();
  application_.frmWelcome->SetTexts(RzLabelTitle->text().toStdString(), Description);
  History->push_back(application_.frmWelcome.get());
  ShowCurrentStep();
}

void TfrmMain::PanelCurrStepResize() {
  if (TFrmStep* current = GetCurrentStep()) {
    current->setGeometry(0, 0, PanelCurrStep->width(), PanelCurrStep->height());
  }
}

void TfrmMain::PanelImageResize() {
  // Integer division truncates toward zero: a picture larger than the panel gets a negative offset.
  ImageStep->move((PanelImage->width() - ImageStep->width()) / 2,
                  (PanelImage->height() - ImageStep->height()) / 2);
}

void TfrmMain::ActionListMainUpdate() {
  if (actionsLocked_) return;
  UpdateNavigation();
}

void TfrmMain::ActionBackExecute() {
  if (!History->empty()) History->pop_back();
  ShowCurrentStep();
}

void TfrmMain::ActionNextExecute() {
  if (UpdateStarted) {
    close();
    return;
  }
  TFrmStep* current = GetCurrentStep();
  if (current != nullptr) current->BeforeGoNext();
  TFrmStep* next = GetNextStep(current);
  if (next == nullptr) throw Error("Next step is missing.");
  History->push_back(next);
  ShowCurrentStep();
  if (GetCurrentStep() == application_.frmEndInstall.get()) RunUpdate();
}

void TfrmMain::ActionAnnulerExecute() {
  if (AskWarning("Voulez-vous annuler cette mise à jour")) close();
}

// ---------------------------------------------------------------------------------------------
// Methods

void TfrmMain::LoadAppInfo() {
  TdmUpdateCommon& engine = *application_.dmUpdateCommon;
  if (engine.LoadResourceLines("AppInfo1.txt", *InfoLines) > 0) {
    RzLabelTitle->setText(QString::fromStdString(InfoLines->front()));
  }
  if (engine.LoadResourceLines("AppInfo2.txt", *InfoLines) > 0) {
    Description.clear();
    for (const std::string& line : *InfoLines) Description += line + "\r\n";
  }
}

void TfrmMain::LoadUpdateNotice() {
  constexpr const char* kNotice = "UpdateInfo.txt";
  if (application_.dmUpdateCommon->LoadResourceRichText(kNotice,
                                                        *application_.frmDisplayFile->RichEditFile) == 0) {
    // A plain box: the application title as caption and an OK button.
    Ui().MessageBeep(MB_OK);
    Ui().MessageBox(ApplicationTitle(), std::string("Cannot load resource file ") + kNotice,
                    MessageKind::Plain, mbOK);
  }
}

void TfrmMain::BuildStepList() {
  TfrmDisplayFile& notice = *application_.frmDisplayFile;
  TfrmEndInstall* report = application_.frmEndInstall.get();
  Steps->clear();
  Steps->push_back(application_.frmWelcome.get());
  Steps->push_back(&notice);
  if (notice.RichEditFile->LineCount() == 0) {
    notice.RichEditFile->SetText("\r\nCette mise à jour comporte uniquement des corrections internes.");
  }
  std::vector<std::string> names;
  application_.dmUpdateCommon->LoadResourceLines("Steps.txt", names);
  for (const std::string& name : names) {
    // Only pages can be steps: the window is no page of itself.
    for (TFrmStep* page : TFrmStep::Instances()) {
      if (!text::IEquals(page->objectName().toStdString(), name)) continue;
      if (!Contains(*Steps, page)) Steps->push_back(page);
      break;
    }
  }
  if (!Contains(*Steps, report)) Steps->push_back(report);
}

bool TfrmMain::LoadUpdateKeys() {
  return kv::LoadUpdateKeys(*application_.dmUpdateCommon, application_.Products, *UpdateKeys);
}

void TfrmMain::UpdateNavigation() {
  if (TFrmStep* current = GetCurrentStep()) {
    ActionBack->setEnabled(current != application_.frmWelcome.get() && !UpdateStarted);
    ActionAnnuler->setEnabled(!UpdateStarted);
    ActionNext->setEnabled(current->CanGoNext());
    ActionNext->setText(current->GetNextCaption());
  } else {
    ButtonNext->setText(QString());
    ActionBack->setEnabled(false);
    ActionNext->setEnabled(false);
  }
}

void TfrmMain::ShowCurrentStep() {
  BusyCursor busy;
  for (TFrmStep* page : *Steps) {
    page->hide();
    page->setParent(nullptr);
  }
  TFrmStep* current = GetCurrentStep();
  if (current == nullptr) throw Error("Cannot get current step");
  current->setParent(PanelCurrStep);
  PanelCurrStepResize();

  const QPixmap picture = current->GetBitmap();
  QPalette column = PanelImage->palette();
  if (picture.isNull()) {
    ImageStep->clear();
    column.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
  } else {
    ImageStep->setPixmap(picture);
    ImageStep->resize(picture.size());
    // The column continues the picture's background.
    column.setColor(QPalette::Window, picture.toImage().pixelColor(0, picture.height() - 1));
  }
  PanelImage->setPalette(column);
  PanelImageResize();

  current->Init();
  current->show();
}

TFrmStep* TfrmMain::GetNextStep(TFrmStep* step) {
  const auto it = std::find(Steps->begin(), Steps->end(), step);
  if (it == Steps->end()) return Steps->empty() ? nullptr : Steps->front();
  const auto next = std::next(it);
  return next == Steps->end() ? nullptr : *next;
}

TFrmStep* TfrmMain::GetCurrentStep() {
  return !History || History->empty() ? nullptr : History->back();
}

void TfrmMain::ShowReportStep() {
  History->push_back(application_.frmEndInstall.get());
  ShowCurrentStep();
  UpdateNavigation();
}

void TfrmMain::RunUpdate() {
  UpdateStarted = true;
  lastRun_ = RunResult{true, UpdateOutcome::NoOutcome, false};
  TdmUpdateCommon& engine = *application_.dmUpdateCommon;
  QtRichTextControl& report = *application_.frmEndInstall->RichEditReport;
  try {
    for (const std::string& key : *UpdateKeys) {
      CurrentProductCode = ProductKeyToCode(key);
      if (CurrentProductCode == pcNone) continue;
      engine.ProductCode = CurrentProductCode;
      const win::FileTime now = win::FileTimeToLocalFileTime(win::GetSystemTimeAsFileTime());
      engine.ReportLine(ReportHeaderText(RzLabelTitle->text().toStdString(), now), kReportHeadingSize);
      {
        // Unlocked however the updater ends; the action update then keeps only Next ("Quitter").
        struct Lock {
          TfrmMain& window;
          explicit Lock(TfrmMain& w) : window(w) { window.SetActionsLocked(true); }
          ~Lock() { window.SetActionsLocked(false); }
        } lock(*this);
        // Lets the report page and the header be painted before the updater takes over.
        Delay(100);
        if (const Updater* updater = application_.Updaters.Find(CurrentProductCode)) {
          lastRun_.outcome = (*updater)(engine, CurrentProductCode);
        }
      }
      ActionListMainUpdate();
      break;
    }
    ShowReportStep();
    if (const auto line = OutcomeText(lastRun_.outcome)) engine.ReportLine(*line, kReportHeadingSize);
    report.ScrollToEnd();
    if (report.CanFocus()) report.SetFocus();
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

// ---------------------------------------------------------------------------------------------
// Toolkit events

void TfrmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A window coming back from the task bar is not the window being shown.
  if (!event->spontaneous()) Dispatch([this] { FormShow(); });
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  // The window stays while an updater works; afterwards, and before the run, it closes unasked.
  if (actionsLocked_) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  AlignControls();
}

// ---------------------------------------------------------------------------------------------

void TfrmMain::Dispatch(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    ShowException(Error("Erreur inattendue"));
  }
  ActionListMainUpdate();
}

void TfrmMain::AlignControls() {
  const int w = width();
  const int h = height();
  PanelMain->setGeometry(0, 0, w, h);
  PanelButtons->setGeometry(0, h - buttonBarHeight_, w, buttonBarHeight_);
  PanelImage->setGeometry(0, 0, kImageColumnWidth, h - buttonBarHeight_);
  PanelSteps->setGeometry(kImageColumnWidth, 0, w - kImageColumnWidth, h - buttonBarHeight_);
  RzLabelTitle->setGeometry(0, 0, PanelSteps->width(), kTitleBandHeight);
  PanelCurrStep->setGeometry(0, kTitleBandHeight, PanelSteps->width(),
                             PanelSteps->height() - kTitleBandHeight);
  BevelButtons->setGeometry(0, 0, w, 2);
  AnchorButtons();
  PanelCurrStepResize();
  PanelImageResize();
}

void TfrmMain::AnchorButtons() {
  for (const ButtonAnchor& anchor : anchors_) {
    anchor.button->move(PanelButtons->width() - anchor.right, PanelButtons->height() - anchor.bottom);
  }
}

void TfrmMain::SetActionsLocked(bool locked) {
  actionsLocked_ = locked;
  ActionBack->setEnabled(!locked);
  ActionNext->setEnabled(!locked);
  ActionAnnuler->setEnabled(!locked);
}

}  // namespace kv
