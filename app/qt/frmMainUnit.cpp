#include "app/qt/frmMainUnit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <memory>

#include "app/qt/QtRichTextControl.h"
#include "app/qt/QtUserInterface.h"
#include "app/qt/frmBaseStepUnit.h"
#include "app/qt/frmWelcomeUnit.h"
#include "platform/Errors.h"
#include "platform/FileUtils.h"
#include "platform/Messages.h"
#include "wizard/WizardController.h"

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

// A button of a Windows dialog: Enter presses it when it has the focus, as Space does. It is no
// default or cancel button, so Escape still does nothing.
class DialogButton : public QPushButton {
 public:
  using QPushButton::QPushButton;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
      if (isEnabled()) click();
      event->accept();
      return;
    }
    QPushButton::keyPressEvent(event);
  }
};

}  // namespace

TfrmMain::TfrmMain() : QWidget(nullptr) {
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
  connect(ActionAnnuler, &QAction::triggered, this, [this] {
    if (controller_ != nullptr) controller_->Cancel();
  });
  connect(ActionBack, &QAction::triggered, this, [this] {
    if (controller_ != nullptr) controller_->Back();
  });
  connect(ActionNext, &QAction::triggered, this, [this] {
    if (controller_ != nullptr) controller_->Next();
  });

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
    *b.button = new DialogButton(PanelButtons);
    (*b.button)->setObjectName(QString::fromLatin1(b.name));
    (*b.button)->setGeometry(b.design);
    (*b.button)->setAutoDefault(false);
    BindButton(*b.button, b.action);
  }

  TimerOneTime = new QTimer(this);
  TimerOneTime->setObjectName(QStringLiteral("TimerOneTime"));
  TimerOneTime->setInterval(WizardController::kFirstStepDelayMs);
  connect(TimerOneTime, &QTimer::timeout, this, [this] {
    if (controller_ != nullptr) controller_->FirstStepTimer();
  });

  AlignControls();
  FormCreate();
  // Enabled from the window's creation.
  TimerOneTime->start();
}

TfrmMain::~TfrmMain() {
  // The pages belong to the application, not to the panel that shows them.
  for (TFrmStep* page : PanelCurrStep->findChildren<TFrmStep*>(Qt::FindDirectChildrenOnly)) {
    page->hide();
    page->setParent(nullptr);
  }
}

// ---------------------------------------------------------------------------------------------
// Event handlers

void TfrmMain::FormCreate() {
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

void TfrmMain::PanelCurrStepResize() {
  if (current_ != nullptr) current_->setGeometry(0, 0, PanelCurrStep->width(), PanelCurrStep->height());
}

void TfrmMain::PanelImageResize() {
  // Integer division truncates toward zero: a picture larger than the panel gets a negative offset.
  ImageStep->move((PanelImage->width() - ImageStep->width()) / 2,
                  (PanelImage->height() - ImageStep->height()) / 2);
}

void TfrmMain::Attach(WizardController& controller, TfrmWelcome& welcome, QtRichTextControl& report) {
  controller_ = &controller;
  welcome_ = &welcome;
  report_ = &report;
  SetButtons(controller.Buttons());
}

// ---------------------------------------------------------------------------------------------
// The view

void TfrmMain::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

void TfrmMain::SetTitle(const std::string& title) {
  RzLabelTitle->setText(QString::fromStdString(title));
}

void TfrmMain::SetVersionText(const std::string& text) {
  RzLabelVersion->setText(QString::fromStdString(text));
}

void TfrmMain::BringToFront() {
  ForceForegroundWindow(QtUserInterface::HandleOf(this));
}

void TfrmMain::SetWelcomeTexts(const std::string& title, const std::string& description) {
  welcome_->SetTexts(title, description);
}

void TfrmMain::ShowStep(WizardStep& step, const std::vector<WizardStep*>& steps) {
  for (WizardStep* shown : steps) {
    auto* page = dynamic_cast<TFrmStep*>(shown);
    if (page == nullptr) continue;
    page->hide();
    page->setParent(nullptr);
  }
  current_ = dynamic_cast<TFrmStep*>(&step);
  if (current_ == nullptr) throw Error("Cannot get current step");
  current_->setParent(PanelCurrStep);
  PanelCurrStepResize();

  const QPixmap picture = current_->GetBitmap();
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
  current_->show();
}

void TfrmMain::SetButtons(const WizardButtons& buttons) {
  const struct {
    QAction* action;
    const WizardButton& state;
  } actions[] = {{ActionBack, buttons.back}, {ActionNext, buttons.next}, {ActionAnnuler, buttons.cancel}};
  for (const auto& a : actions) {
    a.action->setText(QString::fromStdString(a.state.caption));
    a.action->setEnabled(a.state.enabled);
  }
}

void TfrmMain::StopFirstStepTimer() {
  TimerOneTime->stop();
}

void TfrmMain::ScrollReportToEnd() {
  report_->ScrollToEnd();
}

void TfrmMain::CloseWindow() {
  close();
}

// ---------------------------------------------------------------------------------------------
// Toolkit events

void TfrmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A window coming back from the task bar is not the window being shown.
  if (!event->spontaneous() && controller_ != nullptr) controller_->Shown();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  // The window stays while an updater works; afterwards, and before the run, it closes unasked.
  if (controller_ != nullptr && !controller_->CanClose()) {
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

}  // namespace kv
